#include "boardsimclient.h"

#include "controlconnection.h"

#include <QJsonDocument>

class BoardSimClient::Private
{
public:
    std::string path;
    ControlConnection conn;
    QString error;

    // Sends one request; on "ok" returns true with what follows "ok ".
    // Reconnects once, as the simulator may have dropped an idle connection.
    bool call(const QString &line, QString *payload = nullptr, int timeoutMs = 15000)
    {
        std::string reply;
        bool sent = false;
        for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
            if (!conn.isConnected() && !conn.connectTo(path)) {
                error = QString::fromStdString(conn.lastError());
                return false;
            }
            sent = conn.request(line.toStdString(), &reply, timeoutMs);
        }
        if (!sent) {
            error = QString::fromStdString(reply);
            return false;
        }
        if (reply.compare(0, 2, "ok") != 0) {
            error = QString::fromStdString(reply.compare(0, 6, "error ") == 0 ? reply.substr(6)
                                                                              : reply);
            return false;
        }
        if (payload)
            *payload = QString::fromStdString(reply.size() > 3 ? reply.substr(3) : std::string());
        return true;
    }

    int callInt(const QString &line)
    {
        QString payload;
        if (!call(line, &payload))
            return 0;
        return payload.toInt();
    }
};

BoardSimClient::BoardSimClient() : d(new Private)
{
    d->path = ControlConnection::defaultPath();
}

BoardSimClient::BoardSimClient(const QString &socketPath) : d(new Private)
{
    d->path = socketPath.toStdString();
}

BoardSimClient::~BoardSimClient()
{
    delete d;
}

bool BoardSimClient::isAvailable()
{
    return d->call(QStringLiteral("ping"));
}

QString BoardSimClient::lastError() const
{
    return d->error;
}

bool BoardSimClient::turn(int steps)
{
    return d->call(QStringLiteral("turn %1").arg(steps));
}

bool BoardSimClient::turnTo(int position)
{
    return d->call(QStringLiteral("turn-to %1").arg(position));
}

bool BoardSimClient::queueRecord(int type, int code, int value)
{
    return d->call(QStringLiteral("record %1 %2 %3").arg(type).arg(code).arg(value));
}

bool BoardSimClient::setPosition(int position)
{
    return d->call(QStringLiteral("set-position %1").arg(position));
}

int BoardSimClient::position()
{
    return d->callInt(QStringLiteral("position"));
}

int BoardSimClient::pendingRecords()
{
    return d->callInt(QStringLiteral("pending"));
}

bool BoardSimClient::setIoctlFails(bool fails)
{
    return d->call(QStringLiteral("ioctl-fails ") + (fails ? "on" : "off"));
}

bool BoardSimClient::setDeviceGone(bool gone)
{
    return d->call(QStringLiteral("gone ") + (gone ? "on" : "off"));
}

BoardSimClient::GpioLine BoardSimClient::gpioLine(int line)
{
    GpioLine result;
    QString payload;
    if (!d->call(QStringLiteral("gpio %1").arg(line), &payload))
        return result;
    const QStringList parts = payload.split(' ');
    if (parts.size() == 2) {
        result.exported = true;
        result.direction = parts[0];
        result.value = parts[1];
    }
    return result;
}

bool BoardSimClient::setScenario(const QString &key, const QString &value)
{
    return d->call(QStringLiteral("set %1=%2").arg(key, value));
}

QVector<QJsonObject> BoardSimClient::transcript()
{
    QVector<QJsonObject> result;
    QString payload;
    if (!d->call(QStringLiteral("transcript"), &payload))
        return result;
    const int count = payload.toInt();
    for (int i = 0; i < count; ++i) {
        std::string line;
        if (!d->conn.readLine(&line)) {
            d->error = QString::fromStdString(d->conn.lastError());
            return QVector<QJsonObject>();
        }
        result.append(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    }
    return result;
}

bool BoardSimClient::clearTranscript()
{
    return d->call(QStringLiteral("clear-transcript"));
}

int BoardSimClient::transcriptCount()
{
    return d->callInt(QStringLiteral("transcript-count"));
}

int BoardSimClient::waitForTranscript(int knownCount, int timeoutMs)
{
    QString payload;
    if (!d->call(QStringLiteral("wait-transcript %1 %2").arg(knownCount).arg(timeoutMs), &payload,
                 timeoutMs + 15000))
        return -1;
    return payload.toInt();
}

QJsonObject BoardSimClient::state()
{
    QString payload;
    if (!d->call(QStringLiteral("state"), &payload))
        return QJsonObject();
    return QJsonDocument::fromJson(payload.toUtf8()).object();
}
