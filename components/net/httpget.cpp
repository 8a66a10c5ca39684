#include "components/net/httpget.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

HttpAnswer httpGet(QNetworkRequest request, int timeoutMs)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    HttpAnswer answer;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        answer.timedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    if (answer.timedOut) {
        QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
        reply->abort();
        return answer;
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.failed = reply->error() != QNetworkReply::NoError;
    answer.errorText = reply->errorString();
    answer.body = reply->readAll();
    return answer;
}
