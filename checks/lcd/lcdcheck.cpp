#include "lcdcheck.h"
#include "ui_lcdcheck.h"

#include <QKeySequence>
#include <QShortcut>
#include <array>

namespace {

// The cycle the operator steps through: white first, so that the page opens on
// the colour the form paints.
constexpr std::array<const char *, 5> ColorSheets = {
    "background-color:white;", "background-color:red;", "background-color:green;",
    "background-color:blue;", "background-color:black;"};
constexpr int LastColor = int(ColorSheets.size()) - 1;

// Where the button comes back after clear + 4: 50 px left of the form's place,
// so that it no longer touches the panel's right edge.
const QRect ShownButtonGeometry(620, 90, 130, 60);

} // namespace

lcdcheck::lcdcheck(QWidget *parent) : QWidget(parent), ui(new Ui::lcdcheck)
{
    ui->setupUi(this);
    // The panel's clear key arrives as Backspace; clear + 4 clears the screen
    // of everything but the colour.
    m_hideShortcut = new QShortcut(QKeySequence(Qt::Key_Backspace, Qt::Key_4), this, nullptr,
                                   nullptr, Qt::WindowShortcut);
    createConnections();
}

lcdcheck::~lcdcheck()
{
    delete ui;
}

void lcdcheck::createConnections()
{
    connect(ui->pushButton_7, &QPushButton::clicked, this, [this] { nextColor(); });
    connect(m_hideShortcut, &QShortcut::activated, this, [this] { toggleButton(); });
}

void lcdcheck::colorShow(int index)
{
    if (index < 0 || index > LastColor)
        return;
    ui->color->setStyleSheet(QString::fromLatin1(ColorSheets[size_t(index)]));
}

void lcdcheck::on_pushColorChanged(int colorCnt)
{
    m_colorIndex = m_colorIndex < LastColor ? colorCnt + 1 : 0;
    colorShow(m_colorIndex);
}

void lcdcheck::nextColor()
{
    m_colorIndex = m_colorIndex < LastColor ? m_colorIndex + 1 : 0;
    colorShow(m_colorIndex);
}

void lcdcheck::toggleButton()
{
    const bool shown = !m_buttonShown;
    // The button is collapsed rather than hidden: a hidden button's shortcut
    // is dead, and F1 must keep changing the colour with nothing on screen.
    ui->pushButton_7->setGeometry(shown ? ShownButtonGeometry : QRect(0, 0, 0, 0));
    m_buttonShown = shown;
    colorShow(m_colorIndex);
    ui->label->setVisible(shown);
}
