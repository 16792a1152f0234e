#include "groundwork.h"
#include "ui_groundwork.h"

#include "iocfpgacheck.h"
#include "lampbuzzercheck.h"
#include "lcdcheck.h"
#include "panelkeys.h"

#include <QDebug>
#include <QKeyEvent>
#include <QShortcut>

namespace {
const QString FIRMWARE_REVISION = QStringLiteral("Version 0.01.0001");
} // namespace

groundwork::groundwork(QWidget *parent) : QWidget(parent), ui(new Ui::groundwork)
{
    ui->setupUi(this);
    m_encoder.start(QThread::InheritPriority);

    // The panel's clear key arrives as Backspace and opens both two-key
    // sequences; as window shortcuts they work on every page, bar or no bar.
    m_homeShortcut = new QShortcut(QKeySequence(Qt::Key_Backspace, Qt::Key_1), this, nullptr,
                                   nullptr, Qt::WindowShortcut);
    m_keyTestResetShortcut = new QShortcut(QKeySequence(Qt::Key_Backspace, Qt::Key_Pause), this,
                                           nullptr, nullptr, Qt::WindowShortcut);
    createWidgets();
    createConnections();

    m_keyCount = board::TestedKeyCount;
    onKeyTestReset();
}

groundwork::~groundwork()
{
    delete ui;
}

void groundwork::createWidgets()
{
    m_stack = ui->stackedWidget;
    m_keyTestPage = ui->keyTest;
    m_homePage = ui->homeWidget;

    // Building the lamp/buzzer page runs the GPIO start-up sequence, so the
    // board's lines are set up before the window is first shown.
    m_lcdCheck = new lcdcheck(this);
    m_lampBuzzerCheck = new lampBuzzerCheck(this);
    m_iocFpgaCheck = new iocFpgaCheck(this);

    // Re-adding the form's two pages moves them to the end, which leaves the
    // stack in the home page's order of checks.
    m_stack->addWidget(m_homePage);
    m_stack->addWidget(m_lcdCheck);
    m_stack->addWidget(m_keyTestPage);
    m_stack->addWidget(m_lampBuzzerCheck);
    m_stack->addWidget(m_iocFpgaCheck);
    m_stack->setCurrentWidget(m_homePage);

    ui->Version_label->setText(FIRMWARE_REVISION);
    ui->progressBar->setRange(0, board::TestedKeyCount);
    ui->progressBar->setValue(0);
}

void groundwork::createConnections()
{
    connect(ui->homeButton, &QPushButton::clicked, this, [this] { onHomeChange(); });
    connect(ui->LcdButton, &QPushButton::clicked, this, [this] { onLCDCheckChange(); });
    connect(ui->KeyboardButton, &QPushButton::clicked, this, [this] { onKeyTestChange(); });
    connect(ui->lampBuzzerButton, &QPushButton::clicked, this, [this] { onLampBChange(); });
    connect(ui->iocFpgaCheckBotton, &QPushButton::clicked, this, [this] { onIocFpgaCChenge(); });
    connect(m_homeShortcut, &QShortcut::activated, this, &groundwork::onHomeChange);
    connect(m_keyTestResetShortcut, &QShortcut::activated, this, &groundwork::onKeyTestReset);
    // Emitted on the reader thread; the window as context makes it queued, so
    // the display is only touched on the GUI thread, in the order of the steps.
    connect(&m_encoder, &RotaryEncoder::value, this, [this](short axis) { onEncoderValue(axis); });
}

void groundwork::showPage(QWidget *page, bool softKeysShown)
{
    m_stack->setCurrentWidget(page);
    // Hiding the bar also silences F6 to F10, which the keyboard test then counts.
    ui->verticalWidget->setVisible(softKeysShown);
}

void groundwork::onHomeChange()
{
    showPage(m_homePage, true);
}

void groundwork::onLCDCheckChange()
{
    showPage(m_lcdCheck, false);
}

void groundwork::onKeyTestChange()
{
    showPage(m_keyTestPage, false);
}

void groundwork::onLampBChange()
{
    showPage(m_lampBuzzerCheck, true);
}

void groundwork::onIocFpgaCChenge()
{
    showPage(m_iocFpgaCheck, true);
}

void groundwork::onKeyTestReset()
{
    for (int i = 0; i < m_keyCount; ++i)
        m_keyUntested[i] = true;
    ui->progressBar->setValue(0);
    m_testedCount = 0;
}

void groundwork::keyPressEvent(QKeyEvent *event)
{
    const int keyIndex = board::testedKeyIndex(event->key());
    // A code the panel never sends (a PC key, say) is neither named nor
    // counted: counting it would tick off a panel key that was never pressed.
    if (keyIndex < 0)
        return;
    ui->label->setText(QString::fromLatin1(board::panelKeys()[size_t(keyIndex)].name));
    if (m_stack->currentWidget() == m_keyTestPage) {
        onforwardProgber(keyIndex);
        m_keyUntested[keyIndex] = false;
    }
}

void groundwork::keyReleaseEvent(QKeyEvent *)
{
    // Releases carry nothing the tests need, and must not reach QWidget.
}

void groundwork::onforwardProgber(int keyIndex)
{
    const bool counted = m_keyUntested[keyIndex];
    if (counted)
        ++m_testedCount;
    ui->progressBar->setValue(m_testedCount);
    qDebug() << "progBar" << (counted ? 1 : 0);
}

void groundwork::onEncoderValue(short axis)
{
    // Only single steps move the count: a larger jump means records were lost
    // or the encoder bounced, and the operator checks the detents one by one.
    int shown = int(ui->lcdNumber->value());
    if (axis == 1)
        ++shown;
    else if (axis == -1)
        --shown;
    ui->lcdNumber->display(shown);
}
