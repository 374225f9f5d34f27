#include "stop_flag.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <stdexcept>

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

Stop_Flag::Stop_Flag() : m_event_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_event_fd == -1)
        throw std::runtime_error(std::string("Failed to eventfd ") + std::strerror(errno));
}

Stop_Flag::~Stop_Flag()
{
    close(m_event_fd);
}

void Stop_Flag::request()
{
    m_requested.store(true, std::memory_order_release);
    const uint64_t one = 1;
    const ssize_t written = write(m_event_fd, &one, sizeof(one));
    (void)written;  // a full counter already wakes every sleeper
}

void Stop_Flag::clear()
{
    uint64_t count = 0;
    while (read(m_event_fd, &count, sizeof(count)) > 0) {
    }
    m_requested.store(false, std::memory_order_release);
}

namespace {
long elapsed_ms(const timespec& since)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000L + (now.tv_nsec - since.tv_nsec) / 1000000L;
}
}  // namespace

bool Stop_Flag::sleep_for(long milliseconds, const Stop_Flag* also) const
{
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pollfd fds[2] = {{m_event_fd, POLLIN, 0}, {also ? also->m_event_fd : -1, POLLIN, 0}};
    for (;;) {
        if (is_set() || (also && also->is_set()))
            return true;
        const long left = milliseconds - elapsed_ms(start);
        if (left <= 0)
            return false;
        poll(fds, also ? 2 : 1, static_cast<int>(left));  // EINTR: look again
    }
}

Stop_Flag& process_stop_flag()
{
    static Stop_Flag flag;
    return flag;
}

namespace {
void on_stop_signal(int)
{
    const int saved_errno = errno;
    process_stop_flag().request();
    errno = saved_errno;
}
}  // namespace

void install_stop_signal_handlers()
{
    process_stop_flag();  // made before any signal can use it
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

namespace {
sigset_t stop_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}
}  // namespace

void block_stop_signals(sigset_t* previous)
{
    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, previous);
}

int wait_for_stop_signal(long timeout_ms)
{
    const sigset_t signals = stop_signals();
    for (;;) {
        int taken = 0;
        if (timeout_ms < 0) {
            taken = sigwaitinfo(&signals, nullptr);
        } else {
            const timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
            taken = sigtimedwait(&signals, nullptr, &limit);
        }
        if (taken > 0)
            return taken;
        if (errno == EAGAIN)
            return 0;
        // EINTR: another signal's handler ran; wait again
    }
}
