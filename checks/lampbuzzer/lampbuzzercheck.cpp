#include "lampbuzzercheck.h"
#include "ui_lampbuzzercheck.h"

#include "gpiowrite.h"

#include <QFile>
#include <QStringList>

// The kernel's sysfs GPIO interface. Exporting a line creates its gpioN
// directory beside the export file at once, with `direction` and `value` in it.
const QString deviceGpioExport = QStringLiteral("/sys/class/gpio/export");
const QString deviceGpioDirection = QStringLiteral("/sys/class/gpio/gpio%1/direction");
const QString deviceGpioValue = QStringLiteral("/sys/class/gpio/gpio%1/value");
const QString deviceGpio132 = QStringLiteral("/sys/class/gpio/gpio132/direction");
// The danger lamp, and the test line that must follow it.
const QString deviceDangerOn = QStringLiteral("/sys/class/gpio/gpio132/value");
const QString deviceDangerTestOn = QStringLiteral("/sys/class/gpio/gpio29/value");
// The board exports the beep and alarm-sound lines itself; they are only written.
const QString deviceBeep = QStringLiteral("/sys/class/gpio/gpio128/value");
const QString deviceAlarmSound = QStringLiteral("/sys/class/gpio/gpio129/value");

bool lampBuzzerCheck::s_keyBeepEnabled = true;

lampBuzzerCheck::lampBuzzerCheck(QWidget *parent)
    : QWidget(parent), ui(new Ui::lampBuzzerCheck), m_dangerLampOn(false)
{
    ui->setupUi(this);
    initialize();
    createConnections();
}

lampBuzzerCheck::~lampBuzzerCheck()
{
    // No level is reset: the lamp lines keep what they were last given, after
    // the program too.
    delete ui;
}

void lampBuzzerCheck::initialize()
{
    QFile exportFile(deviceGpioExport);
    QFile alarmSound(deviceAlarmSound);
    const QStringList exportList = {
        QStringLiteral("18"),  QStringLiteral("29"),  QStringLiteral("49"),  QStringLiteral("50"),
        QStringLiteral("51"),  QStringLiteral("54"),  QStringLiteral("55"),  QStringLiteral("56"),
        QStringLiteral("60"),  QStringLiteral("62"),  QStringLiteral("63"),  QStringLiteral("65"),
        QStringLiteral("111"), QStringLiteral("112"), QStringLiteral("113"), QStringLiteral("114"),
        QStringLiteral("115"), QStringLiteral("116"), QStringLiteral("117")};

    for (const QString &line : exportList) {
        // Without an export file there is no directory to write a direction to.
        // An export the kernel refuses (the line is already exported, on a
        // second start) still leaves the directory there, so the direction is
        // written whatever became of the export.
        if (!writeGpio(exportFile, line.toLatin1()))
            continue;
        QFile direction(deviceGpioDirection.arg(line));
        // "out" drives the line low, which is also the lamp's starting state.
        writeGpio(direction, QByteArrayLiteral("out"));
    }

    // Line 18 goes high whether or not its export worked: on a board that
    // exported it before, its value file is there all the same.
    QFile line18(deviceGpioValue.arg(18));
    writeGpio(line18, QByteArrayLiteral("1"));

    // The danger lamp line is exported only now, after line 18 is high.
    if (writeGpio(exportFile, QByteArrayLiteral("132"))) {
        QFile direction132(deviceGpio132);
        writeGpio(direction132, QByteArrayLiteral("out"));
    }

    // The alarm sound starts silent.
    writeGpio(alarmSound, QByteArrayLiteral("0"));
}

void lampBuzzerCheck::createConnections()
{
    // The page's own state is toggled here, not in dangerLamp, so that the
    // slot can set the lines from elsewhere without the page losing track of
    // what the operator last switched. The state flips even when the lines
    // cannot be written: the page reports nothing either way.
    connect(ui->lampButton, &QAbstractButton::clicked, [this] {
        const bool on = !m_dangerLampOn;
        dangerLamp(on);
        m_dangerLampOn = on;
    });
    connect(ui->buzzerButton, &QAbstractButton::clicked, this, &lampBuzzerCheck::keyBeep);
}

void lampBuzzerCheck::dangerLamp(bool enable)
{
    const QByteArray level = enable ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
    // The test line follows the lamp; it is written even if the lamp's own
    // line is missing.
    QFile lamp(deviceDangerOn);
    writeGpio(lamp, level);
    QFile testLine(deviceDangerTestOn);
    writeGpio(testLine, level);
}

void lampBuzzerCheck::keyBeep()
{
    // The board sounds the buzzer on a write to the beep line; one write per press.
    QFile beep(deviceBeep);
    writeGpio(beep, QByteArrayLiteral("0"));
}

void lampBuzzerCheck::setKeyBeepState(bool enable)
{
    s_keyBeepEnabled = enable;
}

bool lampBuzzerCheck::keyBeepState()
{
    return s_keyBeepEnabled;
}
