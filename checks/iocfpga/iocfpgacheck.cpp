#include "iocfpgacheck.h"
#include "ui_iocfpgacheck.h"

#include "boardtool.h"
#include "boardtools.h"
#include "flashanswer.h"
#include "iocfpgalog.h"
#include "picttimermsg.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTimer>

static const QString UsbMountPath = QString::fromLatin1(board::UsbMountDir);
static const QString FpgaIdentification = QString::fromLatin1(board::FlashIdentification);

namespace {

QString command(const board::ToolCommand &tool)
{
    return QString::fromStdString(board::commandLine(tool));
}

const QString FlashReadCommand = command(board::FlashRead);
const QString UsbSwitchInCommand = command(board::UsbSwitchIn);
const QString IocBootInCommand = command(board::IocBootIn);
const QString IocBootOutCommand = command(board::IocBootBack);
const QString UsbSwitchOutCommand = command(board::UsbSwitchBack);
// The IOC's storage is a SCSI disk to the kernel; memory cards (mmcblk*) never match.
const QString UsbDiskPattern = QStringLiteral("sd*");
const QString FirmwareFile = QLatin1Char('/') + QString::fromLatin1(board::IocFirmwareFile);

} // namespace

iocFpgaCheck::iocFpgaCheck(QWidget *parent) : QWidget(parent), ui(new Ui::iocFpgaCheck)
{
    m_process = new QProcess(this);
    m_fpgaReadTimer = new QTimer(this);
    m_fpgaReadTimer->setSingleShot(true);
    m_fpgaReadTimer->setInterval(FpgaReadTimeoutMs);
    // Coarse, a timer this long could end the read 5 % before its bound.
    m_fpgaReadTimer->setTimerType(Qt::PreciseTimer);
    m_fpgaJudgeTimer = new QTimer(this);
    m_fpgaJudgeTimer->setSingleShot(true);
    m_fpgaJudgeTimer->setInterval(FpgaJudgeIntervalMs);
    ui->setupUi(this);
    createConnections();
}

iocFpgaCheck::~iocFpgaCheck()
{
    // A read still running would deliver its last output from ~QProcess,
    // which ~QWidget runs after the form below is gone: cut the process off
    // from the page first, then end it so that it is not left running.
    m_process->disconnect();
    endBoardTool(*m_process);
    delete ui;
}

void iocFpgaCheck::createConnections()
{
    connect(ui->fpgaCheckButton, &QPushButton::clicked, this, &iocFpgaCheck::fpgaIdCheck);
    // The process is the context: its output is judged only while it exists.
    connect(
        m_process, &QProcess::readyReadStandardOutput, m_process, [this] { takeFpgaOutput(); },
        Qt::DirectConnection);
    connect(m_fpgaJudgeTimer, &QTimer::timeout, this, [this] {
        if (m_fpgaHeldBytes > 0)
            judgeFpgaOutput();
    });
    connect(m_fpgaReadTimer, &QTimer::timeout, this, &iocFpgaCheck::endFpgaRead);
    connect(ui->iocCheckButton, &QPushButton::clicked, this, &iocFpgaCheck::iocIdCheck);
}

void iocFpgaCheck::fpgaIdCheck()
{
    // The old verdict stays until the new answer replaces it.
    ui->fpgaId_label->setText(QStringLiteral("---"));
    // A read still running refuses the new start and its answer fills the labels.
    const bool reading = m_process->state() != QProcess::NotRunning;
    const QStringList words = QProcess::splitCommand(FlashReadCommand);
    m_process->start(words.first(), words.mid(1), QIODevice::ReadWrite);
    if (reading)
        return;
    // A piece of the last read still held back must not replace the "---"
    // of this one.
    m_fpgaJudgeTimer->stop();
    m_fpgaHeldBytes = 0;
    m_fpgaReadTimer->start();
}

void iocFpgaCheck::endFpgaRead()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    // What was judged so far stays on the page; F1 starts a new read.
    qCDebug(lcIocFpga) << "flash read still running after" << FpgaReadTimeoutMs << "ms, killed";
    endBoardTool(*m_process);
}

void iocFpgaCheck::takeFpgaOutput()
{
    if (!m_fpgaJudgeTimer->isActive()) {
        judgeFpgaOutput();
        return;
    }
    // Judged less than the interval ago: this piece waits in the process
    // object's buffer, and the piece that waited there before is dropped
    // unread (it would have been replaced unjudged), without a copy, so the
    // buffer holds one piece at most.
    m_process->skip(m_fpgaHeldBytes);
    m_fpgaHeldBytes = m_process->bytesAvailable();
}

void iocFpgaCheck::judgeFpgaOutput()
{
    // Each piece of output is judged alone; the last one's verdict stands.
    const QByteArray bytes = m_process->readAllStandardOutput();
    m_fpgaHeldBytes = 0;
    m_fpgaJudgeTimer->start();
    const FlashVerdict verdict = judgeFlashOutput(bytes, FpgaIdentification);
    qDebug() << "fpga Identification:" << verdict.identification;
    ui->fpgaId_label->setText(verdict.identification);
    ui->fpgaCheckResut_label->setText(verdict.success ? QStringLiteral("FPGA Check Success!")
                                                      : QStringLiteral("FPGA Check FAIL!"));
}

void iocFpgaCheck::iocIdCheck()
{
    // Created first: its countdown is the whole wait for the IOC, and the time
    // the switch-over commands take is part of it.
    PictTimerMsg msg;
    runBoardTool(UsbSwitchInCommand);
    // Asked to end meanwhile: the IOC would only be switched back at once.
    if (!boardToolsStopping())
        runBoardTool(IocBootInCommand);
    msg.timerStart();
    // The window may be closed, and this page deleted, while the dialog's
    // loop runs: then there are no labels left to fill, but the IOC must
    // still be switched back.
    const QPointer<iocFpgaCheck> page(this);
    // Escape ends the wait early, and so does the end of the program (exec()
    // returns at once once the application has been told to quit); the
    // check goes on the same way.
    msg.exec();
    if (page)
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
