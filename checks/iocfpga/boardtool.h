#pragma once

#include <QString>

class QProcess;

// A board tool that has not ended after this long is taken to hang: the IOC
// check must still switch the IOC back and give a verdict.
constexpr int BoardToolTimeoutMs = 30000;
// Once the program is asked to end, no board tool is waited for longer than
// this: the switch back of the IOC still gets its chance (a tool that works
// ends within it on the board), but a hanging one cannot hold up the stop.
constexpr int BoardToolStoppingMs = 500;

// Runs one board tool command line (program looked up through PATH, its output
// and errors passed through to ours) and waits for it to end, at most
// `timeoutMs`, or BoardToolStoppingMs after stopBoardTools() if that is
// sooner; a tool still running then is killed. Blocks the calling thread
// without processing events. Exit codes and start failures are ignored: the
// callers judge the board, not the tools.
void runBoardTool(const QString &command, int timeoutMs = BoardToolTimeoutMs);

// Kills a board tool that is still running and reaps it, so that the process
// object is idle (and can start again) when this returns.
void endBoardTool(QProcess &tool);

// The program is ending: shortens the wait of runBoardTool(), the one running
// now included. Only stores a lock-free flag, so a signal handler may call it.
void stopBoardTools() noexcept;
bool boardToolsStopping() noexcept;
