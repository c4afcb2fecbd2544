#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>

// Delivers Unix signals to the event loop: the handler only writes the
// signal's number to a pipe, and the loop calls onSignal with it. One at a
// time; the handlers are put back when it goes.
class SignalPipe {
public:
    SignalPipe(std::initializer_list<int> numbers, std::function<void(int)> onSignal);
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

private:
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<int> m_signals;
};
