#pragma once

#include <QJsonObject>
#include <QString>
#include <QThread>
#include <QVector>

class BoardSimClient;

// Follows the simulated board for the panel: blocks on the control socket until
// the transcript grows (or a short time-out passes, since a scenario or the
// encoder can change without a transcript entry), then fetches only the new
// entries and the board's state. Runs in its own thread so that the panel's
// window never waits on the simulator.
class BoardWatcher : public QThread
{
    Q_OBJECT
public:
    // Entries beyond `knownCount` are reported as new; -1 takes the count the
    // transcript has when the thread starts.
    BoardWatcher(const QString &socketPath, int knownCount, QObject *parent = nullptr);
    ~BoardWatcher() override;

    // Ends the thread within about one wait (waitMs plus a reply) and returns
    // once it has ended.
    void stop();

    // How long one wait for new transcript entries lasts at most.
    static constexpr int waitMs = 200;

signals:
    // The entries added since the last report, in the simulator's order.
    void transcriptGrew(const QVector<QJsonObject> &entries);
    // The whole state, as the control socket's "state" request answers it.
    void stateChanged(const QJsonObject &state);
    // The control socket went away: boardsim ended (or was never there).
    void boardGone();

protected:
    void run() override;

private:
    const QString m_socketPath;
    const int m_knownCount;
};
