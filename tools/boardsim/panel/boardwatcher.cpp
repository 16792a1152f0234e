#include "boardwatcher.h"

#include "controlconnection.h"

#include <QDebug>
#include <QJsonDocument>

namespace {

// A reply beyond the wait itself: the simulator answers from its poll loop at
// once, so a second is ample and keeps stop() bounded when it is wedged.
constexpr int replyMs = 1000;
// After a round that found something, let a burst (a stream of encoder reads)
// gather for a moment so the window repaints at most about 50 times a second.
constexpr int coalesceMs = 20;

} // namespace

BoardWatcher::BoardWatcher(const QString &socketPath, int knownCount, QObject *parent)
    : QThread(parent), m_socketPath(socketPath.toStdString()), m_knownCount(knownCount)
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

int BoardWatcher::transcriptCount(const QString &socketPath)
{
    ControlConnection conn;
    std::string reply;
    if (!conn.connectTo(socketPath.toStdString()) ||
        !conn.request("transcript-count", &reply, replyMs) || reply.compare(0, 3, "ok ") != 0)
        return -1;
    return std::atoi(reply.c_str() + 3);
}

// The simulator may drop a connection; one fresh connection is tried before
// the board counts as gone.
bool BoardWatcher::requestWithReconnect(ControlConnection &conn, const std::string &line,
                                        std::string *payload, int timeoutMs)
{
    std::string reply;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!conn.isConnected() && !conn.connectTo(m_socketPath))
            return false;
        if (!conn.request(line, &reply, timeoutMs))
            continue;
        if (reply.compare(0, 2, "ok") != 0) {
            qDebug() << "boardsim-panel:" << line.c_str() << "->" << reply.c_str();
            return false;
        }
        *payload = reply.size() > 3 ? reply.substr(3) : std::string();
        return true;
    }
    return false;
}

bool BoardWatcher::fetchEntries(ControlConnection &conn, int from, QVector<QJsonObject> *entries)
{
    std::string payload;
    if (!requestWithReconnect(conn, "transcript " + std::to_string(from), &payload, replyMs))
        return false;
    const int count = std::atoi(payload.c_str());
    for (int i = 0; i < count; ++i) {
        std::string line;
        if (!conn.readLine(&line, replyMs))
            return false;
        entries->append(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    }
    return true;
}

void BoardWatcher::run()
{
    ControlConnection conn;
    std::string payload;
    int known = m_knownCount;
    if (known < 0) {
        if (!requestWithReconnect(conn, "transcript-count", &payload, replyMs)) {
            qDebug() << "boardsim-panel: no simulated board:" << conn.lastError().c_str();
            emit boardGone();
            return;
        }
        known = std::atoi(payload.c_str());
    }
    while (!isInterruptionRequested()) {
        const std::string wait =
            "wait-transcript " + std::to_string(known) + " " + std::to_string(waitMs);
        if (!requestWithReconnect(conn, wait, &payload, waitMs + replyMs))
            break;
        const int count = std::atoi(payload.c_str());
        QVector<QJsonObject> entries;
        if (count != known) {
            // A shorter transcript was cleared meanwhile: all it holds is new.
            const int from = count < known ? 0 : known;
            if (!fetchEntries(conn, from, &entries))
                break;
            known = from + entries.size();
        }
        if (!requestWithReconnect(conn, "state", &payload, replyMs))
            break;
        if (!entries.isEmpty())
            emit transcriptGrew(entries);
        emit stateChanged(QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object());
        if (!entries.isEmpty())
            msleep(coalesceMs);
    }
    if (!isInterruptionRequested()) {
        qDebug() << "boardsim-panel: the simulated board went away:" << conn.lastError().c_str();
        emit boardGone();
    }
}
