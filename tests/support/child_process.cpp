#include "child_process.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "eventually.h"

extern char** environ;

namespace {
constexpr std::chrono::milliseconds POLL{5};

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> list;
    for (std::string& word : words)
        list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

// Whether a socket of this network namespace listed in /proc/net/<table> has
// the local port (hex "XXXX" after the colon) and, for TCP, listens.
bool port_in_table(const char* table, uint16_t port, bool listening_only)
{
    std::ifstream file(std::string("/proc/net/") + table);
    std::string line;
    std::getline(file, line);  // header
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        if (!(fields >> slot >> local >> remote >> state))
            continue;
        const std::size_t colon = local.rfind(':');
        if (colon == std::string::npos)
            continue;
        const unsigned long local_port = std::stoul(local.substr(colon + 1), nullptr, 16);
        if (local_port == port && (!listening_only || state == "0A"))
            return true;
    }
    return false;
}
}  // namespace

Child_Process::Child_Process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& log_path, const std::vector<std::string>& environment)
    : m_program(program), m_log_path(log_path)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry)
        variables.emplace_back(*entry);
    variables.insert(variables.end(), environment.begin(), environment.end());
    std::vector<char*> argv = pointers(words);
    std::vector<char*> envp = pointers(variables);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1)
        throw std::runtime_error("[Child_Process][Child_Process] fork: " + std::string(std::strerror(errno)));
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
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

Child_Process::~Child_Process()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string Child_Process::log() const
{
    static const std::regex colour("\x1b\\[[0-9;]*m");
    return std::regex_replace(read_file(m_log_path), colour, "");
}

bool Child_Process::wait_for_log(const std::string& text, std::chrono::milliseconds timeout, int count) const
{
    return eventually([&] { return count_of(log(), text) >= count; }, timeout, POLL);
}

bool Child_Process::has_ended() const
{
    siginfo_t info{};
    return m_pid <= 0 ||
           (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == m_pid);
}

Child_Process::Readiness Child_Process::wait_ready(const Probe& ready, std::chrono::milliseconds timeout) const
{
    Readiness readiness = Readiness::TIMED_OUT;
    eventually(
        [&] {
            if (ready())
                readiness = Readiness::READY;
            else if (has_ended())
                readiness = Readiness::ENDED;
            return readiness != Readiness::TIMED_OUT;
        },
        timeout, POLL);
    return readiness;
}

void Child_Process::wait_ready_ex(const Probe& ready, std::chrono::milliseconds timeout) const
{
    switch (wait_ready(ready, timeout)) {
    case Readiness::READY: return;
    case Readiness::ENDED: throw std::runtime_error(m_program + " ended before it was ready:\n" + log());
    case Readiness::TIMED_OUT: break;
    }
    throw std::runtime_error(m_program + " not ready in time:\n" + log());
}

int Child_Process::wait_exit(std::chrono::milliseconds timeout)
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

int Child_Process::stop(std::chrono::milliseconds timeout, int signal)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    return wait_exit(timeout);
}

namespace probe {
Child_Process::Probe log_line(const Child_Process& child, const std::string& text)
{
    return [&child, text] { return child.log().find(text) != std::string::npos; };
}

Child_Process::Probe udp_port(uint16_t port)
{
    return [port] { return port_in_table("udp", port, false) || port_in_table("udp6", port, false); };
}

Child_Process::Probe tcp_port(uint16_t port)
{
    return [port] { return port_in_table("tcp", port, true) || port_in_table("tcp6", port, true); };
}

Child_Process::Probe segment(const std::string& name, std::size_t size, std::function<bool(const void*)> ready)
{
    return [name, size, ready] {
        const int fd = shm_open(name.c_str(), O_RDONLY, 0);
        if (fd == -1)
            return false;
        bool result = false;
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(size)) {
            void* ptr = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
            if (ptr != MAP_FAILED) {
                result = ready(ptr);
                munmap(ptr, size);
            }
        }
        close(fd);
        return result;
    };
}
}  // namespace probe

int count_of(const std::string& haystack, const std::string& text)
{
    int count = 0;
    for (std::size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + text.size()))
        ++count;
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
