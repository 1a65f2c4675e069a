#include "BoundedExchange.h"

#include <QNetworkReply>
#include <QTimer>

#include <memory>

void BoundedExchange::watch(QNetworkReply* reply, qint64 maxBytes, std::chrono::milliseconds deadline,
                            std::function<void(const Result&)> completion) {
    struct State {
        QByteArray body;
        QString abortedBecause;
    };
    auto state = std::make_shared<State>();
    reply->setReadBufferSize(16 * 1024);
    const auto take = [reply, state, maxBytes] {
        state->body.append(reply->read(maxBytes + 1 - state->body.size()));
        if (state->body.size() > maxBytes && state->abortedBecause.isEmpty()) {
            state->abortedBecause = QStringLiteral("the answer is larger than %1 bytes").arg(maxBytes);
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, state, deadline] {
        state->abortedBecause = QStringLiteral("no whole answer within %1 ms").arg(deadline.count());
        reply->abort();
    });
    timer->start(deadline);
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, state, take, completion = std::move(completion)] {
            reply->deleteLater();
            if (state->abortedBecause.isEmpty())
                take();
            Result result;
            result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            result.transferred = state->abortedBecause.isEmpty() && reply->error() == QNetworkReply::NoError;
            result.error = state->abortedBecause.isEmpty() ? reply->errorString() : state->abortedBecause;
            result.contentType = reply->header(QNetworkRequest::ContentTypeHeader);
            if (result.transferred)
                result.body = std::move(state->body);
            completion(result);
        });
}
