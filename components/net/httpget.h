#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

// What came of an HTTP GET.
struct HttpAnswer {
    bool timedOut = false; // no answer within the time given; nothing else is set
    int status = 0;        // the HTTP status; 0 when no answer came
    bool failed = false;   // the network or the server reported an error: errorText says which
    QString errorText;
    QByteArray body;
};

// Fetches the request's URL, following redirects that are no less safe, and waits for the answer
// at most timeoutMs in an event loop of its own: it blocks the calling thread (which needs a
// QCoreApplication) while the thread's other events are still handled.
HttpAnswer httpGet(QNetworkRequest request, int timeoutMs);
