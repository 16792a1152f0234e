#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the debug lines that start with a given prefix, from any thread
// (the encoder reader writes its lines on its own thread), and hands every
// other message on to the handler that was installed before, Qt Test's.
class DebugLineCatcher
{
public:
    explicit DebugLineCatcher(const QString &prefix)
    {
        s_prefix = prefix;
        s_lines.clear();
        s_previous = qInstallMessageHandler(&DebugLineCatcher::handle);
    }
    ~DebugLineCatcher() { qInstallMessageHandler(s_previous); }
    DebugLineCatcher(const DebugLineCatcher &) = delete;
    DebugLineCatcher &operator=(const DebugLineCatcher &) = delete;

    QStringList lines() const
    {
        QMutexLocker locker(&s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg && message.startsWith(s_prefix)) {
            QMutexLocker locker(&s_mutex);
            s_lines.append(message);
            return;
        }
        s_previous(type, context, message);
    }

    static inline QMutex s_mutex;
    static inline QString s_prefix;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
