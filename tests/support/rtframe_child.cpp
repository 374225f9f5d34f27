#include "rtframe_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "eventually.h"
#include "framework_shared_memory.h"

extern char** environ;

namespace {
constexpr std::chrono::milliseconds POLL{5};

// ready_to_start of the info segment, or -1 while it does not exist whole.
int read_ready_to_start()
{
    const int fd = shm_open("/linux_framework_info", O_RDONLY, 0);
    if (fd == -1)
        return -1;
    struct stat st {};
    int ready = -1;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(Shared_Info_Struct))) {
        void* ptr = mmap(nullptr, sizeof(Shared_Info_Struct), PROT_READ, MAP_SHARED, fd, 0);
        if (ptr != MAP_FAILED) {
            ready = static_cast<int>(
                __atomic_load_n(&static_cast<const Shared_Info_Struct*>(ptr)->ready_to_start, __ATOMIC_ACQUIRE));
            munmap(ptr, sizeof(Shared_Info_Struct));
        }
    }
    close(fd);
    return ready;
}

// Whether the child has ended, without reaping it.
bool has_ended(pid_t pid)
{
    siginfo_t info{};
    return pid <= 0 || (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == pid);
}
}  // namespace

Rtframe_Child::Rtframe_Child(const std::vector<std::string>& arguments, const std::string& log_path)
    : m_log_path(log_path)
{
    std::vector<std::string> words{RTFRAME_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1)
        throw std::runtime_error(std::string("cannot start ") + RTFRAME_BINARY);
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int log = open(m_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log != -1) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            close(log);
        }
        execve(RTFRAME_BINARY, argv.data(), environ);
        _exit(127);
    }
}

Rtframe_Child::~Rtframe_Child()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string Rtframe_Child::log() const
{
    static const std::regex colour("\x1b\\[[0-9;]*m");
    return std::regex_replace(read_file(m_log_path), colour, "");
}

bool Rtframe_Child::wait_for_log(const std::string& text, std::chrono::milliseconds timeout, int count) const
{
    return eventually([&] { return count_of(log(), text) >= count; }, timeout, POLL);
}

Rtframe_Child::Readiness Rtframe_Child::wait_readiness(std::chrono::milliseconds timeout) const
{
    Readiness readiness = Readiness::TIMED_OUT;
    eventually(
        [&] {
            if (read_ready_to_start() == 1)
                readiness = Readiness::READY;
            else if (has_ended(m_pid))
                readiness = Readiness::ENDED;
            return readiness != Readiness::TIMED_OUT;
        },
        timeout, POLL);
    return readiness;
}

bool Rtframe_Child::wait_until_ready(std::chrono::milliseconds timeout) const
{
    return wait_readiness(timeout) == Readiness::READY;
}

void Rtframe_Child::wait_ready_ex(std::chrono::milliseconds timeout) const
{
    switch (wait_readiness(timeout)) {
    case Readiness::READY:
        return;
    case Readiness::ENDED:
        throw std::runtime_error("rtframe ended before it was ready:\n" + log());
    case Readiness::TIMED_OUT:
        break;
    }
    throw std::runtime_error("rtframe not ready in time:\n" + log());
}

int Rtframe_Child::wait_exit(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    const bool ended = eventually([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout, POLL);
    if (!ended)
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Rtframe_Child::stop(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return wait_exit(timeout);
}

std::vector<std::string> offline_server_arguments(const std::string& descriptor_path)
{
    return {"-o", "-s", "-c", descriptor_path};
}

int count_of(const std::string& haystack, const std::string& text)
{
    int count = 0;
    for (std::size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + text.size()))
        ++count;
    return count;
}

int error_lines(const std::string& log)
{
    int count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        count += line.find("ERR]") != std::string::npos &&
                 line.find("queue, name :: /linux_framework_queue") == std::string::npos;
    return count;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::trunc);
    file << text;
    if (!file)
        throw std::runtime_error("cannot write " + path);
}
