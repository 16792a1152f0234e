#include "boardwatcher.h"

#include "boardsimclient.h"

#include <QDebug>

namespace {

// A reply beyond the wait itself: the simulator answers from its poll loop at
// once, so a second is ample and keeps stop() bounded when it is wedged.
constexpr int replyMs = 1000;
// After a round that found something, let a burst (a stream of encoder reads)
// gather for a moment so the window repaints at most about 50 times a second.
constexpr int coalesceMs = 20;

} // namespace

BoardWatcher::BoardWatcher(const QString &socketPath, int knownCount, QObject *parent)
    : QThread(parent), m_socketPath(socketPath), m_knownCount(knownCount)
{
    qRegisterMetaType<QVector<QJsonObject>>();
}

BoardWatcher::~BoardWatcher()
{
    stop();
}

void BoardWatcher::stop()
{
    requestInterruption();
    wait();
}

void BoardWatcher::run()
{
    // Its own client: the window's one belongs to the window's thread.
    BoardSimClient board(m_socketPath);
    board.setReplyTimeout(replyMs);
    std::optional<int> known = m_knownCount;
    if (m_knownCount < 0 && !(known = board.transcriptCount())) {
        qDebug() << "boardsim-panel: no simulated board:" << board.lastError();
        emit boardGone();
        return;
    }
    while (!isInterruptionRequested()) {
        const std::optional<int> count = board.waitForTranscript(*known, waitMs);
        if (!count)
            break;
        std::optional<QVector<QJsonObject>> entries = QVector<QJsonObject>();
        if (*count != *known) {
            // A shorter transcript was cleared meanwhile: all it holds is new.
            const int from = *count < *known ? 0 : *known;
            if (!(entries = board.transcript(from)))
                break;
            known = from + entries->size();
        }
        const std::optional<QJsonObject> state = board.state();
        if (!state)
            break;
        if (!entries->isEmpty())
            emit transcriptGrew(*entries);
        emit stateChanged(*state);
        if (!entries->isEmpty())
            msleep(coalesceMs);
    }
    if (!isInterruptionRequested()) {
        qDebug() << "boardsim-panel: the simulated board went away:" << board.lastError();
        emit boardGone();
    }
}
