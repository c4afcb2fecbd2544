#include "service/SignalPipe.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void writeSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> numbers, std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)), m_signals(numbers) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Exception(QStringLiteral("Cannot create the signal pipe"));
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char number = 0;
        while (::read(g_pipe[0], &number, 1) == 1)
            m_onSignal(number);
    });
    struct sigaction action {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : m_signals)
        ::sigaction(signal, &action, nullptr);
}

SignalPipe::~SignalPipe() {
    for (const int signal : m_signals)
        std::signal(signal, SIG_DFL);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
