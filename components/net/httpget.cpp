#include "components/net/httpget.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <atomic>
#include <memory>

namespace
{

std::atomic<bool> stopRequested{false};

// How often a waiting GET looks whether it is to stop.
constexpr int StopPollMs = 50;

HttpAnswer getOnce(const QNetworkRequest& request, const QDeadlineTimer& deadline, qint64 maxBytes,
                   QByteArray& retryAfter)
{
    HttpAnswer answer;
    if (stopRequested.load()) {
        answer.stopped = true;
        return answer;
    }
    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QTimer poll;
    bool tooLarge = false;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        answer.timedOut = true;
        loop.quit();
    });
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stopRequested.load()) {
            answer.stopped = true;
            loop.quit();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64 total) {
                         if (received > maxBytes || total > maxBytes) {
                             tooLarge = true;
                             loop.quit();
                         }
                     });
    timer.start(int(std::max<qint64>(0, deadline.remainingTime())));
    poll.start(StopPollMs);
    if (!reply->isFinished())
        loop.exec();
    if (answer.timedOut || answer.stopped || tooLarge) {
        QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
        reply->abort();
        if (tooLarge) {
            answer.failed = true;
            answer.errorText = QStringLiteral("the answer is larger than %1 bytes").arg(maxBytes);
        }
        return answer;
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.failed = reply->error() != QNetworkReply::NoError;
    answer.errorText = reply->errorString();
    switch (reply->error()) {
    case QNetworkReply::TooManyRedirectsError:
        answer.errorText = QStringLiteral("too many redirects (a redirect loop)");
        break;
    case QNetworkReply::InsecureRedirectError:
        answer.errorText = QStringLiteral("a redirect to a less safe address was not followed");
        break;
    default:
        break;
    }
    // A redirect left standing was not followed: to another scheme (file:, ftp:, data:...).
    if (answer.status >= 300 && answer.status < 400) {
        answer.failed = true;
        answer.errorText = QStringLiteral("a redirect to %1 was not followed")
                               .arg(QString::fromUtf8(reply->rawHeader("Location")).left(200));
    }
    if (answer.status == 503)
        retryAfter = reply->rawHeader("Retry-After");
    answer.body = reply->readAll();
    return answer;
}

} // namespace

HttpAnswer httpGet(QNetworkRequest request, int timeoutMs, qint64 maxBytes)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray retryAfter;
    HttpAnswer answer = getOnce(request, deadline, maxBytes, retryAfter);
    // A server that is busy says when to come back; once, if that is within the deadline.
    bool ok = false;
    const int seconds = retryAfter.trimmed().toInt(&ok);
    if (answer.status == 503 && ok && seconds >= 0 &&
        qint64(seconds) * 1000 < deadline.remainingTime()) {
        QEventLoop wait;
        QTimer::singleShot(seconds * 1000, &wait, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
            if (stopRequested.load())
                wait.quit();
        });
        poll.start(StopPollMs);
        wait.exec();
        retryAfter.clear();
        answer = getOnce(request, deadline, maxBytes, retryAfter);
    }
    return answer;
}

void stopHttpGets()
{
    stopRequested.store(true);
}
