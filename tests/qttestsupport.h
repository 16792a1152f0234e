#pragma once
// What the Qt tests of the window and its pages share.

#include <QtTest>

#include <mutex>
#include <utility>

// Shows `widget` as the active window: shortcuts and keys reach only that one.
inline bool showActive(QWidget *widget)
{
    widget->show();
    QApplication::setActiveWindow(widget);
    return QTest::qWaitForWindowActive(widget);
}

// Every message from catchAll() on, from any thread, with its category; Qt Test's own handler
// still prints each. A std::mutex rather than a QMutex: ThreadSanitizer sees only what is built
// with it, and QMutex locks inside the Qt library.
class Messages
{
public:
    static void catchAll() { s_previous = qInstallMessageHandler(take); }
    // Those of `category` ("default" for qDebug() and the like), or all of them.
    static QStringList of(const char *category = nullptr)
    {
        const std::lock_guard<std::mutex> locker(s_mutex);
        QStringList texts;
        for (const auto &[from, text] : s_caught)
            if (!category || from == category)
                texts << text;
        return texts;
    }
    static void clear()
    {
        const std::lock_guard<std::mutex> locker(s_mutex);
        s_caught.clear();
    }

private:
    static void take(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        {
            const std::lock_guard<std::mutex> locker(s_mutex);
            s_caught.append({context.category, text});
        }
        s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline QVector<std::pair<QByteArray, QString>> s_caught;
};
