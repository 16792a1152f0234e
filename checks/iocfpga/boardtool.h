#pragma once

#include <QString>

class QProcess;

// A board tool that has not ended after this long is taken to hang: the IOC
// check must still switch the IOC back and give a verdict.
constexpr int BoardToolTimeoutMs = 30000;

// Runs one board tool command line (program looked up through PATH, its output
// and errors passed through to ours) and waits for it to end, at most
// `timeoutMs`; a tool still running then is killed. Blocks the calling thread
// without processing events. Exit codes and start failures are ignored: the
// callers judge the board, not the tools.
void runBoardTool(const QString &command, int timeoutMs = BoardToolTimeoutMs);

// Kills a board tool that is still running and reaps it, so that the process
// object is idle (and can start again) when this returns.
void endBoardTool(QProcess &tool);
