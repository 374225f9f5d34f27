#include "peer_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {
void write_all(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// Moves the first line of buffer into line; false when there is none yet.
bool take_line(std::string& buffer, std::string& line)
{
    const std::size_t end = buffer.find('\n');
    if (end == std::string::npos)
        return false;
    line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    return true;
}
}  // namespace

void Peer_Process::Link::send(const std::string& line)
{
    write_all(m_out, line + "\n");
}

std::string Peer_Process::Link::receive()
{
    std::string line;
    while (!take_line(m_buffer, line)) {
        char chunk[256];
        const ssize_t n = read(m_in, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string();
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return line;
}

Peer_Process::Peer_Process(const std::function<int(Link&)>& body)
{
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0)
        throw std::runtime_error("Peer_Process: no pipe");
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1)
        throw std::runtime_error("Peer_Process: no fork");
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that crashed
        if (getppid() != parent)
            _exit(2);
        close(to_child[1]);
        close(from_child[0]);
        Link link(to_child[0], from_child[1]);
        int status = 2;
        try {
            status = body(link);
        } catch (const std::exception& e) {
            link.send(std::string("exception: ") + e.what());
        }
        _exit(status);
    }
    close(to_child[0]);
    close(from_child[1]);
    m_to_child = to_child[1];
    m_from_child = from_child[0];
}

Peer_Process::~Peer_Process()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    close(m_to_child);
    close(m_from_child);
}

void Peer_Process::send(const std::string& line)
{
    write_all(m_to_child, line + "\n");
}

bool Peer_Process::read_line(std::string& line, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!take_line(m_buffer, line)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{m_from_child, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[256];
        const ssize_t n = read(m_from_child, chunk, sizeof(chunk));
        if (n <= 0)
            throw std::runtime_error("Peer_Process: the peer ended its output" +
                                     (m_buffer.empty() ? std::string() : " after '" + m_buffer + "'"));
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

std::string Peer_Process::receive_ex(int timeout_ms)
{
    std::string line;
    if (!read_line(line, timeout_ms))
        throw std::runtime_error("Peer_Process: no line from the peer in " + std::to_string(timeout_ms) + " ms");
    return line;
}

bool Peer_Process::is_silent_for(int timeout_ms)
{
    std::string line;
    try {
        if (!read_line(line, timeout_ms))
            return true;
    } catch (const std::runtime_error&) {
        return false;
    }
    m_buffer.insert(0, line + "\n");
    return false;
}

int Peer_Process::kill_ex(int signal, int timeout_ms)
{
    if (m_pid <= 0)
        throw std::runtime_error("Peer_Process: the peer has ended already");
    kill(m_pid, signal);
    return wait_exit_ex(timeout_ms);
}

int Peer_Process::wait_exit_ex(int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) != m_pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            throw std::runtime_error("Peer_Process: the peer did not end in time");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_pid = -1;
    return status;
}
