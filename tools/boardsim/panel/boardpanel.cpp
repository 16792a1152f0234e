#include "boardpanel.h"

#include "boardwatcher.h"
#include "ui_boardpanel.h"

#include "gpiolines.h"
#include "panelkeys.h"
#include "scenariowords.h"

#include <QButtonGroup>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString deviceBeep = QString::fromStdString(board::gpioValuePath(board::BeepLine));
const QString lineDangerLamp = QString::number(board::DangerLampLine);
const QString lineDangerTest = QString::number(board::DangerTestLine);
const QString lineAlarmSound = QString::number(board::AlarmSoundLine);
const QString line18 = QString::number(board::StartHighLine);

// The check-mode window is 800 px wide at 0,0; a small gap keeps the two apart.
constexpr int panelX = 810;
constexpr int panelWidth = 360;
constexpr int panelHeight = 680;
constexpr int keypadColumns = 6;

QString gpioValue(const QJsonObject &gpio, const QString &line)
{
    const QJsonValue entry = gpio.value(line);
    // Lines not exported have no value file, so there is no level to show.
    return entry.isObject() ? entry.toObject().value(QStringLiteral("value")).toString()
                            : QString();
}

} // namespace

BoardPanel::BoardPanel(const QString &socketPath, QWidget *parent)
    : QWidget(parent), ui(new Ui::BoardPanel),
      m_socketPath(socketPath.isEmpty() ? qEnvironmentVariable("BOARDSIM_CONTROL") : socketPath),
      m_client(m_socketPath)
{
    setupUi();
    createWidgets();
    createConnections();
    m_watcher->start();
}

BoardPanel::~BoardPanel()
{
    // The watcher's signals must not reach a half-destroyed window.
    m_watcher->stop();
    delete ui;
}

std::optional<QPoint> BoardPanel::placeBesideCheckMode(const QRect &screen)
{
    if (screen.width() < panelX + panelWidth)
        return std::nullopt;
    return screen.topLeft() + QPoint(panelX, 0);
}

void BoardPanel::setupUi()
{
    ui->setupUi(this);
    // The form leaves "%1" in place of each line's number.
    const std::pair<QWidget *, int> lamps[] = {{ui->dangerLamp, board::DangerLampLine},
                                               {ui->dangerTestLamp, board::DangerTestLine},
                                               {ui->beepLamp, board::BeepLine}};
    for (const auto &[lamp, line] : lamps)
        lamp->setToolTip(lamp->toolTip().arg(line));
    const std::pair<QLabel *, int> labels[] = {{ui->dangerLampLabel, board::DangerLampLine},
                                               {ui->dangerTestLabel, board::DangerTestLine},
                                               {ui->beepLabel, board::BeepLine},
                                               {ui->alarmSoundLabel, board::AlarmSoundLine},
                                               {ui->line18Label, board::StartHighLine}};
    for (const auto &[label, line] : labels)
        label->setText(label->text().arg(line));
    resize(panelWidth, panelHeight);
    // Keys typed for the check mode must reach it, not this window: the panel
    // is worked with the mouse only.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
}

void BoardPanel::createWidgets()
{
    // Counted here, not when the thread gets going: the beeps of the panel's
    // whole lifetime count, even those written while the thread starts.
    m_watcher = new BoardWatcher(m_socketPath, m_client.transcriptCount().value_or(-1), this);
    m_beepFlash.setSingleShot(true);
    m_beepFlash.setInterval(beepFlashMs);
    m_beepFlash.setTimerType(Qt::PreciseTimer);
    createKeypad();
    m_iocGroup = createSwitches(ui->iocChoices, QStringLiteral("ioc"), 3);
    m_flashGroup = createSwitches(ui->flashLayout, QStringLiteral("flash"), 4);
}

// One switch per word the scenario key takes, named after the key and the
// word (iocPresent, flashGood).
QButtonGroup *BoardPanel::createSwitches(QGridLayout *layout, const QString &key, int columns)
{
    auto *group = new QButtonGroup(this);
    group->setObjectName(key + QStringLiteral("Group"));
    int index = 0;
    for (const char *word : findScenarioKey(key.toStdString())->words) {
        const QString value = QString::fromLatin1(word);
        auto *button = new QRadioButton(value, layout->parentWidget());
        button->setObjectName(key + value.left(1).toUpper() + value.mid(1));
        button->setProperty("scenarioValue", value);
        group->addButton(button);
        layout->addWidget(button, index / columns, index % columns);
        ++index;
    }
    connect(group, qOverload<QAbstractButton *>(&QButtonGroup::buttonClicked), this,
            [this, key](QAbstractButton *button) { chooseScenario(key, button); });
    return group;
}

// One button per panel key, in the key table's order; pressing and releasing
// it presses and releases the key on the board's keypad node, where the
// check mode reads it as on the board.
void BoardPanel::createKeypad()
{
    auto *box = new QGroupBox(tr("Keypad"), this);
    box->setObjectName(QStringLiteral("keypadBox"));
    auto *grid = new QGridLayout(box);
    grid->setSpacing(2);
    int index = 0;
    for (const board::PanelKey &key : board::panelKeys()) {
        const QString name = QString::fromLatin1(key.name);
        auto *button = new QPushButton(name, box);
        button->setObjectName(QStringLiteral("key_") + name);
        button->setFocusPolicy(Qt::NoFocus);
        grid->addWidget(button, index / keypadColumns, index % keypadColumns);
        ++index;
        connect(button, &QPushButton::pressed, this, [this, name] {
            if (!m_client.pressKey(name))
                qDebug() << "boardsim-panel: cannot press" << name << ":" << m_client.lastError();
        });
        connect(button, &QPushButton::released, this, [this, name] {
            if (!m_client.releaseKey(name))
                qDebug() << "boardsim-panel: cannot release" << name << ":" << m_client.lastError();
        });
    }
    ui->panelLayout->addWidget(box);
}

void BoardPanel::createConnections()
{
    connect(m_watcher, &BoardWatcher::stateChanged, this, &BoardPanel::showState);
    connect(m_watcher, &BoardWatcher::transcriptGrew, this, &BoardPanel::showTranscript);
    connect(m_watcher, &BoardWatcher::boardGone, this, &BoardPanel::boardGone);
    connect(&m_beepFlash, &QTimer::timeout, ui->beepLamp, [this] { ui->beepLamp->setLit(false); });
    connect(ui->encoderDial, &QDial::valueChanged, this, &BoardPanel::turnEncoder);
}

void BoardPanel::showState(const QJsonObject &state)
{
    const QJsonObject gpio = state.value(QStringLiteral("gpio")).toObject();
    ui->dangerLamp->setLit(gpioValue(gpio, lineDangerLamp) == QLatin1String("1"));
    ui->dangerTestLamp->setLit(gpioValue(gpio, lineDangerTest) == QLatin1String("1"));
    const QString alarm = gpioValue(gpio, lineAlarmSound);
    ui->alarmSoundValue->setText(alarm.isEmpty() ? tr("unexported") : alarm);
    const QString level18 = gpioValue(gpio, line18);
    ui->line18Value->setText(level18.isEmpty() ? tr("unexported") : level18);

    showPosition(state.value(QStringLiteral("position")).toInt());

    const QJsonObject usb = state.value(QStringLiteral("usb")).toObject();
    ui->usbSwitched->setLit(usb.value(QStringLiteral("switched")).toBool());
    ui->usbBooted->setLit(usb.value(QStringLiteral("booted")).toBool());
    ui->usbMounted->setLit(usb.value(QStringLiteral("mounted")).toBool());

    const QJsonObject scenario = state.value(QStringLiteral("scenario")).toObject();
    showScenario(m_iocGroup, scenario.value(QStringLiteral("ioc")).toString());
    showScenario(m_flashGroup, scenario.value(QStringLiteral("flash")).toString());
}

void BoardPanel::showTranscript(const QVector<QJsonObject> &entries)
{
    int beeps = 0;
    for (const QJsonObject &entry : entries) {
        // Only a write the line took drives the buzzer; a refused one (the
        // line made an input) makes no sound on the board either.
        if (entry.value(QStringLiteral("op")).toString() == QLatin1String("write") &&
            entry.value(QStringLiteral("path")).toString() == deviceBeep &&
            entry.value(QStringLiteral("result")).toInt() >= 0)
            ++beeps;
    }
    if (beeps == 0)
        return;
    m_beepCount += beeps;
    ui->beepCount->setText(tr("Beeps: %1").arg(m_beepCount));
    ui->beepLamp->setLit(true);
    // Writes closer together than the flash keep the lamp lit until the last
    // one's flash is over.
    m_beepFlash.start();
}

// Each notch of the dial is one single step of the encoder, the way a real
// detent produces one record per click; the dial wraps like the endless knob.
void BoardPanel::turnEncoder(int dialValue)
{
    // A wrapping QDial puts its minimum and maximum at the same angle, so the
    // circle holds maximum - minimum notches (20: 0 and 20 are the top).
    const int notches = ui->encoderDial->maximum() - ui->encoderDial->minimum();
    int delta = dialValue - m_dialValue;
    if (delta > notches / 2)
        delta -= notches;
    else if (delta < -notches / 2)
        delta += notches;
    m_dialValue = dialValue;
    const int step = delta > 0 ? 1 : -1;
    for (int i = 0; i < qAbs(delta); ++i) {
        if (!m_client.turn(step)) {
            qDebug() << "boardsim-panel: turn failed:" << m_client.lastError();
            return;
        }
    }
    if (const std::optional<int> position = m_client.position())
        showPosition(*position);
}

void BoardPanel::chooseScenario(const QString &key, QAbstractButton *button)
{
    const QString value = button->property("scenarioValue").toString();
    if (!m_client.setScenario(key, value))
        qDebug() << "boardsim-panel: cannot set" << key << "=" << value << ":"
                 << m_client.lastError();
}

void BoardPanel::showScenario(QButtonGroup *group, const QString &value)
{
    for (QAbstractButton *button : group->buttons()) {
        if (button->property("scenarioValue").toString() == value) {
            // setChecked emits no clicked, so this does not set it again.
            button->setChecked(true);
            return;
        }
    }
}

void BoardPanel::showPosition(int position)
{
    ui->encoderPosition->setText(tr("Position: %1").arg(position));
}
