#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>

class QNetworkReply;

// One HTTP exchange whose answer is bounded: the body is counted as it arrives and the request is aborted
// the moment it passes the limit, and one deadline covers the whole exchange, so a server that trickles
// its answer fails like one that says nothing. Qt reads the answer on a thread of its own at most one
// buffer (16 KiB) ahead of this one, so memory stays bounded whatever the server sends. Main thread only.
class BoundedExchange {
public:
    struct Result {
        bool transferred = false; // the whole answer arrived, without a transport error
        int status = 0;           // the HTTP status; 0 without an answer
        QByteArray body;
        QString error; // why it failed, when it did
        QVariant contentType;
        bool succeeded() const { return transferred && status >= 200 && status <= 299; }
    };

    // Takes over the reply: the completion runs once on the main thread, and the reply is deleted after.
    static void watch(QNetworkReply* reply, qint64 maxBytes, std::chrono::milliseconds deadline,
                      std::function<void(const Result&)> completion);
};
