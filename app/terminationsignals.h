#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>

class QSocketNotifier;

// Signals that ask the program to end (SIGINT, SIGTERM, SIGHUP at logout) are taken on the event
// loop instead of killing the program where it stands: a running grab is stopped there and its
// temporary file removed. The handler only writes the signal's number to a pipe.
class TerminationSignals final : public QObject
{
    Q_OBJECT

public:
    // Handles the given signals from now on; only one object may exist at a time.
    explicit TerminationSignals(std::initializer_list<int> signalNumbers,
                                QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool ok() const { return m_ok; }
    // The last signal taken so far, also one that came while no event loop ran; 0 for none.
    int caught();

    // Ends the program as the signal would have, so that a calling shell or session sees it:
    // with the default action restored, the signal is raised again. Does nothing for 0.
    static void endBy(int signalNumber);

signals:
    // Raised on the event loop once for each signal that came.
    void received(int signalNumber);

private:
    // Reads what the pipe holds; true when a signal came.
    bool drain();
    void take();

    bool m_ok = false;
    int m_caught = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
