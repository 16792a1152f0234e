#include "boardtool.h"
#include "iocfpgalog.h"

#include <QDebug>
#include <QProcess>
#include <QStringList>

namespace {

// SIGKILL cannot be caught; the child is reaped at once unless it is stuck in
// the kernel, and then waiting longer would not help either.
constexpr int ReapAfterKillMs = 5000;

} // namespace

void runBoardTool(const QString &command, int timeoutMs)
{
    const QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return;
    QProcess tool;
    // The tools' messages belong in the same log as ours.
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(words.first(), words.mid(1));
    if (tool.waitForFinished(timeoutMs) || tool.state() == QProcess::NotRunning)
        return; // ended, or never started (missing tool): either way go on
    qCDebug(lcIocFpga) << "board tool" << command << "still running after" << timeoutMs
                       << "ms, killed";
    endBoardTool(tool);
}

void endBoardTool(QProcess &tool)
{
    if (tool.state() == QProcess::NotRunning)
        return;
    tool.kill();
    tool.waitForFinished(ReapAfterKillMs);
}
