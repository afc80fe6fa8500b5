#include "gui/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace qv::gui {
namespace {

// The pipe the handler writes to: a handler can reach nothing but a static. -1 while no
// instance is installed.
std::atomic<int> gWakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnTerminationSignal(int signalNumber) {
    const int saved = errno;
    const int fd = gWakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a wake-up; nothing more to do.
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readEnd_.Reset(fds[0]);
    writeEnd_.Reset(fds[1]);
    int expected = -1;
    if (!gWakeFd.compare_exchange_strong(expected, writeEnd_.Get())) {
        return;  // another instance has the signals
    }
    notifier_ = new QSocketNotifier(readEnd_.Get(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Drain);

    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    installed_ = true;
}

TerminationSignals::~TerminationSignals() {
    if (!installed_) {
        return;
    }
    // The handlers stay; without a pipe they write nothing.
    gWakeFd.store(-1);
}

void TerminationSignals::Drain() {
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(readEnd_.Get(), bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            emit Requested(bytes[i]);
        }
    }
}

}  // namespace qv::gui
