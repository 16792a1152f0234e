#pragma once
// What the Qt tests of the window and its pages share.

#include <QtTest>

#include <mutex>

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
        return category ? s_byCategory.value(category) : s_all;
    }
    static void clear()
    {
        const std::lock_guard<std::mutex> locker(s_mutex);
        s_all.clear();
        s_byCategory.clear();
    }

private:
    static void take(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        std::unique_lock<std::mutex> locker(s_mutex);
        s_all << text;
        s_byCategory[context.category] << text;
        locker.unlock();
        s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline QStringList s_all;
    static inline QHash<QByteArray, QStringList> s_byCategory;
};
