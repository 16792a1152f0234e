#pragma once

#include <QDir>
#include <QFile>
#include <QVector>

// The reader's kernel threads, found by name: QThread names a thread after its
// class, so the kernel's task list shows whether a reader still runs, and
// gives its thread id for signals aimed at it alone.
class ReaderThreads
{
public:
    static QVector<int> ids()
    {
        QVector<int> found;
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "RotaryEncoder")
                found.append(task.toInt());
        }
        return found;
    }
};
