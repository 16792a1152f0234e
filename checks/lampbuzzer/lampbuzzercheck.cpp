#include "lampbuzzercheck.h"
#include "ui_lampbuzzercheck.h"

#include "gpiolines.h"
#include "gpiowrite.h"

#include <QFile>
#include <QStringList>

namespace {

QString path(const std::string &boardPath)
{
    return QString::fromStdString(boardPath);
}

} // namespace

// "%1" stands for the number of the line each is written for.
const QString deviceGpioExport = QString::fromLatin1(board::GpioExport);
const QString deviceGpioDirection = path(board::gpioDirectionPath("%1"));
const QString deviceGpioValue = path(board::gpioValuePath("%1"));
const QString deviceGpio132 = path(board::gpioDirectionPath(board::DangerLampLine));
const QString deviceDangerOn = path(board::gpioValuePath(board::DangerLampLine));
const QString deviceDangerTestOn = path(board::gpioValuePath(board::DangerTestLine));
// The board exports the beep and alarm-sound lines itself; they are only written.
const QString deviceBeep = path(board::gpioValuePath(board::BeepLine));
const QString deviceAlarmSound = path(board::gpioValuePath(board::AlarmSoundLine));

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
    QStringList exportList;
    for (int line : board::StartupExports)
        exportList << QString::number(line);

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
    QFile line18(deviceGpioValue.arg(board::StartHighLine));
    writeGpio(line18, QByteArrayLiteral("1"));

    // The danger lamp line is exported only now, after line 18 is high.
    if (writeGpio(exportFile, QByteArray::number(board::DangerLampLine))) {
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
