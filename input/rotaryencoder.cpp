#include "rotaryencoder.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QMutexLocker>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#if defined(__arm__)
// The board's kernel hands out the 32-bit ARM record: two 32-bit time fields,
// then type, code and value. Reading exactly one record per read() relies on
// this size; a different one means the build targets another ABI.
static_assert(sizeof(input_event) == 16, "evdev record of the 32-bit ARM board");
static_assert(offsetof(input_event, type) == 8, "type follows the two time fields");
static_assert(offsetof(input_event, code) == 10, "code follows type");
static_assert(offsetof(input_event, value) == 12, "value follows code");
#endif

static const QString deviceName = QStringLiteral("/dev/input/event0");

// The reader's own diagnostics beyond the open and ioctl errors the check mode
// has always written to the default category: QT_LOGGING_RULES can silence or
// select them ("checkmode.encoder.debug=false").
Q_LOGGING_CATEGORY(lcEncoder, "checkmode.encoder")

namespace {

// strerror() may share one buffer between threads, and this runs on the
// reader thread; the GNU strerror_r returns the text (a static one for known
// errors, or one written into `buffer`).
const char *errorText(int error, char (&buffer)[64])
{
    return strerror_r(error, buffer, sizeof buffer);
}

} // namespace

RotaryEncoder::RotaryEncoder()
{
    // Created here rather than in run() so that the destructor can always
    // wake the reader, whether or not run() has got as far as its wait.
    // Non-blocking so that draining it can never hold the reader up.
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

RotaryEncoder::~RotaryEncoder()
{
    stop();
    // The flag alone is seen only after the device delivers another record,
    // and an encoder nobody turns never does: wake the reader so the thread
    // has ended before this object goes.
    wake();
    wait();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void RotaryEncoder::stop()
{
    QMutexLocker locker(&m_mutex);
    m_stopped = true;
}

void RotaryEncoder::wake()
{
    if (m_wakeFd < 0)
        return;
    const quint64 one = 1;
    // An eventfd counter only saturates after 2^64 - 2 writes, so this never blocks.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

bool RotaryEncoder::decodeStep(const input_event &record, std::optional<quint16> &reference,
                               short &step)
{
    if (record.type != EV_ABS)
        return false;
    const quint16 position = quint16(record.value);
    const std::optional<quint16> previous = reference;
    reference = position;
    if (!previous)
        return false;
    int change = (position - *previous) & 0xFFFF;
    if (change >= 0x8000)
        change -= 0x10000;
    step = short(change);
    return true;
}

void RotaryEncoder::run()
{
    const QByteArray path = deviceName.toLatin1();
    char text[64];
    // Close-on-exec: the board tools the program starts must not hold the
    // device open (a tool that lingers would keep it busy).
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        qDebug("%s open error.  fd = %d  errno = %s (%d)", deviceName.toUtf8().constData(), fd,
               errorText(error, text), error);
        return;
    }
    // Opened blocking, then switched: once poll() has reported a record, the
    // reader takes record after record until read() says EAGAIN, one system
    // call per record instead of a poll() and a read() for each. Should the
    // switch fail, every read is preceded by a poll() again, so that no read
    // can block past a stop request.
    const int flags = ::fcntl(fd, F_GETFL);
    const bool drains = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
    if (!drains) {
        const int error = errno;
        qCDebug(lcEncoder, "%s fcntl error.  fd = %d  errno = %s (%d)",
                deviceName.toUtf8().constData(), fd, errorText(error, text), error);
    }

    // When the position cannot be queried, the first record becomes the
    // reference and is not counted: any guess (0, say) could turn the first
    // detent into a step in the wrong direction.
    std::optional<quint16> reference;
    input_absinfo absinfo{};
    if (::ioctl(fd, EVIOCGABS(ABS_X), &absinfo) < 0) {
        const int error = errno;
        qDebug("%s ioctl error.  fd = %d  errno = %s (%d)", deviceName.toUtf8().constData(), fd,
               errorText(error, text), error);
    } else {
        reference = quint16(absinfo.value);
    }

    // The reader waits in poll() on the device and on the wake descriptor
    // instead of blocking in read(): a signal meant to break a blocked read
    // would need a process-wide handler inside a Qt program, and one that
    // arrives between the stop check and the read is lost, leaving the thread
    // blocked. The eventfd keeps its count until it is read, so no wake-up
    // can fall into that gap.
    pollfd waits[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    input_event record;
    quint64 wakeCount;
    short step = 0;
    bool readable = false; // poll() reported records that may not all be read yet
    for (;;) {
        {
            QMutexLocker locker(&m_mutex);
            if (m_stopped) {
                // Cleared here so that the same object can be started again.
                m_stopped = false;
                break;
            }
        }

        if (!readable) {
            if (::poll(waits, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                const int error = errno;
                qCDebug(lcEncoder, "%s poll error.  fd = %d  errno = %s (%d)",
                        deviceName.toUtf8().constData(), fd, errorText(error, text), error);
                break;
            }
            if (waits[1].revents & POLLIN) {
                // Only the stop check above needs the wake; drain it so that a
                // later run does not see a stale one.
                [[maybe_unused]] const ssize_t drained =
                    ::read(m_wakeFd, &wakeCount, sizeof wakeCount);
            }
            const short deviceEvents = waits[0].revents;
            if (deviceEvents & (POLLERR | POLLHUP | POLLNVAL)) {
                // An unplugged or revoked device stays in this state: polling on
                // would spin, so the reader ends here.
                qCDebug(lcEncoder, "%s poll error.  fd = %d  revents = 0x%x",
                        deviceName.toUtf8().constData(), fd, unsigned(deviceEvents));
                break;
            }
            if (!(deviceEvents & POLLIN))
                continue;
        }

        // poll() has said that a record is queued, and the descriptor does
        // not block, so this read never holds up a stop request.
        const ssize_t got = ::read(fd, &record, sizeof record);
        readable = drains;
        if (got < 0) {
            // Every queued record has been read: wait for the next.
            if (errno == EAGAIN) {
                readable = false;
                continue;
            }
            // A signal broke the read: look at the stop request and go on.
            if (errno == EINTR)
                continue;
            // ENODEV, EIO and the like do not go away by reading again.
            const int error = errno;
            qCDebug(lcEncoder, "%s read error.  fd = %d  errno = %s (%d)",
                    deviceName.toUtf8().constData(), fd, errorText(error, text), error);
            break;
        }
        if (got == 0) {
            // End of file is not something evdev ever reports; a node that
            // does would report it for ever.
            qCDebug(lcEncoder, "%s read error.  fd = %d  end of file",
                    deviceName.toUtf8().constData(), fd);
            break;
        }
        // evdev hands out whole records only; a short one carries no trustworthy value.
        if (size_t(got) < sizeof record)
            continue;
        if (decodeStep(record, reference, step))
            emit value(step);
    }
    ::close(fd);
}
