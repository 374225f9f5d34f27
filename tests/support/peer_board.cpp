#include "peer_board.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {
std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        throw std::runtime_error(std::string("[Peer_Board] ") + name +
                                 " not set: run the test under tests/isolate_pair");
    return value;
}
}  // namespace

Peer_Board::Peer_Board()
    : m_holder(static_cast<pid_t>(std::stol(environment("CELL_PEER_PID")))), m_address_a(environment("CELL_ADDRESS_A")),
      m_address_b(environment("CELL_ADDRESS_B"))
{
}

std::string Peer_Board::launcher() const
{
    return "/usr/bin/nsenter";
}

std::vector<std::string> Peer_Board::launcher_arguments(const std::string& program,
                                                        const std::vector<std::string>& arguments) const
{
    std::vector<std::string> all = {"-t", std::to_string(m_holder), "-m", "-i", "-n", "--", program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

std::unique_ptr<Peer_Board::Task> Peer_Board::start(const std::function<int()>& body) const
{
    const char* kinds[] = {"ipc", "net", "mnt"};
    int namespaces[3];
    for (int i = 0; i < 3; ++i) {
        const std::string path = "/proc/" + std::to_string(m_holder) + "/ns/" + kinds[i];
        namespaces[i] = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (namespaces[i] == -1)
            throw std::runtime_error("[Peer_Board] cannot open " + path);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // A mount namespace is joined only by a task that shares its file
        // system attributes with no other (a sanitizer's helper thread may).
        unshare(CLONE_FS);
        for (int fd : namespaces)
            if (setns(fd, 0) != 0) {
                std::perror("[Peer_Board] setns");
                _exit(125);
            }
        int result = 126;
        try {
            result = body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "[Peer_Board] %s\n", error.what());
        }
        std::fflush(nullptr);
        _exit(result);
    }
    for (int fd : namespaces)
        close(fd);
    if (pid == -1)
        throw std::runtime_error("[Peer_Board] fork failed");
    return std::make_unique<Task>(pid);
}

void Peer_Board::in_network(const std::function<void()>& body) const
{
    const std::string path = "/proc/" + std::to_string(m_holder) + "/ns/net";
    const int network = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (network == -1)
        throw std::runtime_error("[Peer_Board] cannot open " + path);
    std::exception_ptr failure;
    std::thread on_b([&] {
        try {
            if (setns(network, CLONE_NEWNET) != 0)
                throw std::runtime_error("[Peer_Board] setns of " + path + " failed");
            body();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    on_b.join();
    close(network);
    if (failure)
        std::rethrow_exception(failure);
}

int Peer_Board::run(const std::function<int()>& body, std::chrono::milliseconds timeout) const
{
    return start(body)->wait(timeout);
}

Peer_Board::Task::~Task()
{
    if (!m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool Peer_Board::Task::has_ended()
{
    if (m_reaped)
        return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) != m_pid)
        return false;
    m_reaped = true;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int Peer_Board::Task::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!has_ended()) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_reaped = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}
