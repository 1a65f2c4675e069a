#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// The cloud service, on loopback, for tests: answers heartbeats, hands queued command strings to
// long-polls, records uploads, and can be down, slow, failing or talking nonsense.
class FakeCloud {
public:
    // Huge: a 100 MB answer; Endless: a chunked answer that never ends; Trickle: 12 bytes a second.
    enum class Mode { Up, Down, Status500, Garbage, Slow, Huge, Endless, Trickle };

    struct Request {
        QString method;
        QString path;
        QByteArray rawQuery; // as sent, before any decoding
        QByteArray body;
        QByteArray contentType;
        QByteArray accept;
    };

    FakeCloud();
    ~FakeCloud();

    // Listens on loopback; a port of 0 picks a free one. Keeps the port across setMode(Down) and back.
    bool start(quint16 port = 0);
    quint16 port() const;
    QString root() const;

    void setMode(Mode mode);
    // The body of a heartbeat answer while up.
    void setHeartbeatBody(const QByteArray& body);
    // How long a poll waits for a command before answering with an empty body.
    void setPollHold(int milliseconds);
    // How long every request waits, in the mode it found, before it is answered.
    void setDelay(int milliseconds);
    void queueCommand(const QByteArray& body);
    // The answer to the update check.
    void setAppVersions(const QByteArray& body, const QByteArray& contentType = "application/json");
    // Requests to the path are answered with the redirect status (0: no longer): a 307 sends them to
    // "/moved" followed by what they asked for, where they are answered as if all were well; any other
    // status to what they asked for again (a loop).
    void setRedirect(const QString& path, int status);

    std::vector<Request> requests() const;
    std::vector<Request> requests(const QString& path) const;
    void clearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
