#include "boardtool.h"
#include "iocfpgalog.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <atomic>

namespace {

// SIGKILL cannot be caught; the child is reaped at once unless it is stuck in
// the kernel, and then waiting longer would not help either.
constexpr int ReapAfterKillMs = 5000;
// How often a wait looks for a stop request: the GUI thread processes no
// events while a tool runs, so the request cannot reach it any other way.
constexpr int StopLookMs = 20;

std::atomic<bool> g_stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

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
    QElapsedTimer clock;
    clock.start();
    qint64 deadline = timeoutMs;
    bool stopSeen = false;
    for (;;) {
        if (!stopSeen && boardToolsStopping()) {
            stopSeen = true;
            deadline = std::min(deadline, clock.elapsed() + BoardToolStoppingMs);
        }
        const qint64 left = deadline - clock.elapsed();
        if (left <= 0)
            break;
        if (tool.waitForFinished(int(std::min<qint64>(left, StopLookMs))) ||
            tool.state() == QProcess::NotRunning)
            return; // ended, or never started (missing tool): either way go on
    }
    qCDebug(lcIocFpga) << "board tool" << command << "still running after" << deadline
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

void stopBoardTools() noexcept
{
    g_stopping.store(true, std::memory_order_relaxed);
}

bool boardToolsStopping() noexcept
{
    return g_stopping.load(std::memory_order_relaxed);
}
