#include "app/terminationsignals.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    (void)!::write(signalPipe[1], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::take);
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
    m_ok = true;
}

TerminationSignals::~TerminationSignals()
{
    m_notifier.reset();
    // The handlers stay: a late signal then writes to a closed pipe, which is harmless.
    for (int& end : signalPipe)
        ::close(std::exchange(end, -1));
}

bool TerminationSignals::drain()
{
    bool any = false;
    char byte = 0;
    while (m_ok && ::read(signalPipe[0], &byte, 1) == 1) {
        m_caught = byte;
        any = true;
    }
    return any;
}

void TerminationSignals::take()
{
    if (drain())
        emit received(m_caught);
}

int TerminationSignals::caught()
{
    drain();
    return m_caught;
}

void TerminationSignals::endBy(int signalNumber)
{
    if (signalNumber == 0)
        return;
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}
