#include "iocfpgacheck.h"
#include "ui_iocfpgacheck.h"

#include "boardtool.h"
#include "picttimermsg.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>

// The automounter mounts USB storage here, one directory per partition named
// after its block device (sda1, sdb1, ...).
static const QString UsbMountPath = QStringLiteral("/run/media/");
// What `flash -o rdid` prints for the flash part the FPGA is fitted with.
static const QString FpgaIdentification = QStringLiteral("Identification: 0xc22015");

namespace {

const QString FlashReadCommand = QStringLiteral("flash -o rdid");
// Both tools are needed to bring the IOC onto USB ("-i") and to give it back ("-f").
const QString UsbSwitchInCommand = QStringLiteral("usbswitch -i");
const QString IocBootInCommand = QStringLiteral("iocboot -i");
const QString IocBootOutCommand = QStringLiteral("iocboot -f");
const QString UsbSwitchOutCommand = QStringLiteral("usbswitch -f");
// The IOC's storage is a SCSI disk to the kernel; memory cards (mmcblk*) never match.
const QString UsbDiskPattern = QStringLiteral("sd*");
const QString FirmwareFile = QStringLiteral("/firmware.bin");

} // namespace

iocFpgaCheck::iocFpgaCheck(QWidget *parent) : QWidget(parent), ui(new Ui::iocFpgaCheck)
{
    m_process = new QProcess(this);
    ui->setupUi(this);
    createConnections();
}

iocFpgaCheck::~iocFpgaCheck()
{
    delete ui;
}

void iocFpgaCheck::createConnections()
{
    connect(ui->fpgaCheckButton, &QPushButton::clicked, this, &iocFpgaCheck::fpgaIdCheck);
    // The process is the context: its output is judged only while it exists.
    connect(
        m_process, &QProcess::readyReadStandardOutput, m_process, [this] { judgeFpgaOutput(); },
        Qt::DirectConnection);
    connect(ui->iocCheckButton, &QPushButton::clicked, this, &iocFpgaCheck::iocIdCheck);
}

void iocFpgaCheck::fpgaIdCheck()
{
    // The old verdict stays until the new answer replaces it.
    ui->fpgaId_label->setText(QStringLiteral("---"));
    // A read still running refuses the new start and its answer fills the labels.
    const QStringList words = QProcess::splitCommand(FlashReadCommand);
    m_process->start(words.first(), words.mid(1), QIODevice::ReadWrite);
}

void iocFpgaCheck::judgeFpgaOutput()
{
    // Each piece of output is judged alone; the last one's verdict stands.
    QByteArray bytes = m_process->readAllStandardOutput();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString identification = QString::fromUtf8(bytes).trimmed();
    qDebug() << "fpga Identification:" << identification;
    ui->fpgaId_label->setText(identification);
    ui->fpgaCheckResut_label->setText(identification == FpgaIdentification
                                          ? QStringLiteral("FPGA Check Success!")
                                          : QStringLiteral("FPGA Check FAIL!"));
}

void iocFpgaCheck::iocIdCheck()
{
    // Created first: its countdown is the whole wait for the IOC, and the time
    // the switch-over commands take is part of it.
    PictTimerMsg msg;
    runBoardTool(UsbSwitchInCommand);
    runBoardTool(IocBootInCommand);
    msg.timerStart();
    msg.exec(); // Escape ends the wait early; the check goes on the same way
    searchIocUsbMemory();
    // The IOC goes back even when it was not found: it must not stay on USB.
    runBoardTool(IocBootOutCommand);
    runBoardTool(UsbSwitchOutCommand);
}

bool iocFpgaCheck::searchIocUsbMemory()
{
    QDir mounts(UsbMountPath);
    mounts.setNameFilters({UsbDiskPattern});
    const QStringList names = mounts.entryList();
    for (const QString &name : names) {
        if (QFile::exists(UsbMountPath + name + FirmwareFile)) {
            ui->iocCheck_label->setText(QStringLiteral("IOC was recognized as USB."));
            ui->iocCheckResult_label->setText(QStringLiteral("IOC Check Suceccs!"));
            return true;
        }
    }
    ui->iocCheck_label->setText(QStringLiteral("IOC not found."));
    ui->iocCheckResult_label->setText(QStringLiteral("IOC Check FAIL!"));
    return false;
}
