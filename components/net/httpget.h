#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

// What came of an HTTP GET.
struct HttpAnswer {
    bool timedOut = false; // no answer within the time given; nothing else is set
    bool stopped = false;  // stopHttpGets() was called; nothing else is set
    int status = 0;        // the HTTP status; 0 when no answer came
    bool failed = false;   // the network or the server reported an error: errorText says which
    QString errorText;
    QByteArray body;
};

// Fetches the request's URL, following redirects that are no less safe, and waits for the answer
// at most timeoutMs in an event loop of its own: it blocks the calling thread (which needs a
// QCoreApplication) while the thread's other events are still handled. A body larger than
// maxBytes fails the request. A redirect that isn't followed, or one too many, is named as such.
// A 503 with a Retry-After the deadline leaves room for is tried once more after that wait.
HttpAnswer httpGet(QNetworkRequest request, int timeoutMs, qint64 maxBytes);

// Ends every GET waiting now or started later in this process at once (stopped): a program
// that is told to stop asks nothing more of the network.
void stopHttpGets();
