#include "stopsignals.h"

#include "boardtool.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcStop, "checkmode.stop")

constexpr int StopSignalNumbers[] = {SIGTERM, SIGINT};
// [0] written by the handler, [1] read on the GUI thread.
int g_stopFds[2] = {-1, -1};

extern "C" void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    stopBoardTools();
    const char byte = char(signalNumber);
    // Non-blocking: with the pair full a stop is pending already.
    [[maybe_unused]] const ssize_t written = ::write(g_stopFds[0], &byte, 1);
    errno = savedErrno;
}

void setDisposition(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // The encoder thread's poll() and the tools' waits go on after the
    // handler; each looks at its own stop request.
    action.sa_flags = SA_RESTART;
    for (const int number : StopSignalNumbers)
        sigaction(number, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_stopFds) != 0) {
        qCWarning(lcStop) << "no socket pair for SIGTERM and SIGINT:" << qt_error_string(errno);
        return;
    }
    m_notifier = new QSocketNotifier(g_stopFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::takeSignal);
    setDisposition(onStopSignal);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    // The rest of the way out is short; a signal meanwhile must not write
    // into a descriptor that is closed, or reused by then.
    setDisposition(SIG_IGN);
    delete m_notifier;
    ::close(g_stopFds[0]);
    ::close(g_stopFds[1]);
    g_stopFds[0] = g_stopFds[1] = -1;
}

void StopSignals::takeSignal()
{
    char byte = 0;
    while (::read(g_stopFds[1], &byte, 1) == 1)
        qCInfo(lcStop) << "ending on" << (byte == SIGINT ? "SIGINT" : "SIGTERM");
    // Qt 5 ends every event loop of the thread, the IOC wait's dialog and its
    // pause included, and later loops return at once: the main loop's exec()
    // returns as soon as the slot that is running has finished.
    QCoreApplication::exit(0);
}
