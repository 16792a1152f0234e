#include "boardsimclient.h"

#include "controlcommands.h"
#include "controlconnection.h"

#include <QJsonDocument>

namespace {

using C = ControlCommand;

std::string word(int n)
{
    return std::to_string(n);
}

std::string word(const QString &text)
{
    return ControlConnection::encodeArg(text.toStdString());
}

} // namespace

class BoardSimClient::Private
{
public:
    std::string path;
    ControlConnection conn;
    QString error;
    int replyMs = 15000;

    // Sends one request; on "ok" returns true with what follows "ok ".
    // Reconnects once, as the simulator may have dropped an idle connection.
    bool call(C id, const std::vector<std::string> &args = {}, QString *payload = nullptr)
    {
        const ControlCommandSpec &command = controlCommand(id);
        const int timeoutMs = replyMs + (command.waits ? std::stoi(args.back()) : 0);
        const std::string line = controlRequest(id, args);
        std::string reply;
        bool sent = false;
        for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
            if (!conn.isConnected() && !conn.connectTo(path)) {
                error = QString::fromStdString(conn.lastError());
                return false;
            }
            sent = conn.request(line, &reply, timeoutMs);
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

    // A reply of several lines, "ok N" and N more: those N lines.
    std::optional<QStringList> callLines(C id, const std::vector<std::string> &args = {})
    {
        QString payload;
        if (!call(id, args, &payload))
            return std::nullopt;
        QStringList lines;
        const int count = payload.toInt();
        for (int i = 0; i < count; ++i) {
            std::string line;
            if (!conn.readLine(&line, replyMs)) {
                error = QString::fromStdString(conn.lastError());
                return std::nullopt;
            }
            lines.append(QString::fromStdString(line));
        }
        return lines;
    }

    std::optional<int> callInt(C id, const std::vector<std::string> &args = {})
    {
        QString payload;
        if (!call(id, args, &payload))
            return std::nullopt;
        bool ok = false;
        const int value = payload.toInt(&ok);
        if (!ok) {
            error = QStringLiteral("not a number: '%1'").arg(payload);
            return std::nullopt;
        }
        return value;
    }
};

BoardSimClient::BoardSimClient() : d(new Private)
{
    d->path = ControlConnection::defaultPath();
}

BoardSimClient::BoardSimClient(const QString &socketPath) : d(new Private)
{
    d->path = socketPath.isEmpty() ? ControlConnection::defaultPath() : socketPath.toStdString();
}

BoardSimClient::~BoardSimClient()
{
    delete d;
}

bool BoardSimClient::isAvailable()
{
    return d->call(C::Ping);
}

QString BoardSimClient::lastError() const
{
    return d->error;
}

void BoardSimClient::setReplyTimeout(int ms)
{
    d->replyMs = ms;
}

bool BoardSimClient::turn(int steps)
{
    return d->call(C::Turn, {word(steps)});
}

bool BoardSimClient::turnTo(int position)
{
    return d->call(C::TurnTo, {word(position)});
}

bool BoardSimClient::queueRecord(int type, int code, int value)
{
    return d->call(C::Record, {word(type), word(code), word(value)});
}

bool BoardSimClient::setPosition(int position)
{
    return d->call(C::SetPosition, {word(position)});
}

std::optional<int> BoardSimClient::position()
{
    return d->callInt(C::Position);
}

std::optional<int> BoardSimClient::pendingRecords()
{
    return d->callInt(C::Pending);
}

bool BoardSimClient::setIoctlFails(bool fails)
{
    return d->call(C::IoctlFails, {fails ? "on" : "off"});
}

bool BoardSimClient::setDeviceGone(bool gone)
{
    return d->call(C::Gone, {gone ? "on" : "off"});
}

bool BoardSimClient::pressKey(const QString &name)
{
    return d->call(C::Key, {"press", word(name)});
}

bool BoardSimClient::releaseKey(const QString &name)
{
    return d->call(C::Key, {"release", word(name)});
}

bool BoardSimClient::tapKey(const QString &name)
{
    return d->call(C::Key, {"tap", word(name)});
}

std::optional<BoardSimClient::GpioLine> BoardSimClient::gpioLine(int line)
{
    QString payload;
    if (!d->call(C::Gpio, {word(line)}, &payload))
        return std::nullopt;
    GpioLine result;
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
    return d->call(C::Set, {word(key + '=' + value)});
}

std::optional<QString> BoardSimClient::scenario(const QString &key)
{
    QString payload;
    if (!d->call(C::Get, {word(key)}, &payload))
        return std::nullopt;
    return payload;
}

std::optional<QVector<QJsonObject>> BoardSimClient::transcript(int from)
{
    const std::optional<QStringList> lines = d->callLines(C::Transcript, {word(from)});
    if (!lines)
        return std::nullopt;
    QVector<QJsonObject> result;
    for (const QString &line : *lines)
        result.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return result;
}

std::optional<QMap<QString, QString>> BoardSimClient::facts()
{
    const std::optional<QStringList> lines = d->callLines(C::Facts);
    if (!lines)
        return std::nullopt;
    QMap<QString, QString> result;
    for (const QString &line : *lines) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            result.insert(line.left(equals), line.mid(equals + 1));
    }
    return result;
}

bool BoardSimClient::clearTranscript()
{
    return d->call(C::ClearTranscript);
}

std::optional<int> BoardSimClient::transcriptCount()
{
    return d->callInt(C::TranscriptCount);
}

std::optional<int> BoardSimClient::waitForTranscript(int knownCount, int timeoutMs)
{
    return d->callInt(C::WaitTranscript, {word(knownCount), word(timeoutMs)});
}

std::optional<QJsonObject> BoardSimClient::state()
{
    QString payload;
    if (!d->call(C::State, {}, &payload))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(payload.toUtf8());
    if (!doc.isObject()) {
        d->error = QStringLiteral("state is not a JSON object");
        return std::nullopt;
    }
    return doc.object();
}
