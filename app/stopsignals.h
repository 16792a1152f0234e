#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (systemctl stop) and SIGINT end the check mode as its own quit
// would: the event loops end with status 0, the window is destroyed (which
// joins the encoder thread and ends a running flash read), and QApplication
// hands the console back in text mode. Built after QApplication, it replaces
// the handlers of Qt's linuxfb, which act only when the event loop runs, leave
// the console in graphics mode and exit with status 1.
//
// The handler only writes the signal number into a socket pair, the one thing
// a signal handler may safely do, and tells a board tool's wait to give up
// (the IOC check runs them on the GUI thread without processing events).
// One object at a time.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

private:
    void takeSignal();

    QSocketNotifier *m_notifier = nullptr;
};
