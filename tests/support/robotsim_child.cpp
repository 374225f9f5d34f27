#include "robotsim_child.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
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
std::string read_whole(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
}  // namespace

Robotsim_Child::Robotsim_Child(int port, int control_port, const std::vector<std::string>& arguments,
                               const std::string& log_path)
    : m_control_port(control_port), m_log_path(log_path)
{
    std::vector<std::string> words{ROBOTSIM_BINARY,
                                   "--address",
                                   "127.0.0.1",
                                   "--port",
                                   std::to_string(port),
                                   "--control-port",
                                   std::to_string(control_port)};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // Truncated before the child starts, so that no earlier ready line is seen.
    const int log = open(m_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log == -1)
        throw std::runtime_error("cannot write " + m_log_path + ": " + std::strerror(errno));
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1) {
        close(log);
        throw std::runtime_error(std::string("cannot start ") + ROBOTSIM_BINARY);
    }
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execve(ROBOTSIM_BINARY, argv.data(), environ);
        _exit(127);
    }
    close(log);
}

Robotsim_Child::~Robotsim_Child()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string Robotsim_Child::log() const
{
    static const std::regex colour("\x1b\\[[0-9;]*m");
    return std::regex_replace(read_whole(m_log_path), colour, "");
}

void Robotsim_Child::wait_ready_ex(std::chrono::milliseconds timeout) const
{
    bool ended = false;
    const bool ready = eventually(
        [&] {
            siginfo_t info{};
            ended = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                    info.si_pid == m_pid;
            return ended || log().find("[robotsim] ready") != std::string::npos;
        },
        timeout, std::chrono::milliseconds(2));
    if (!ready || ended)
        throw std::runtime_error(std::string(ended ? "robotsim ended before it was ready" : "robotsim not ready") +
                                 ":\n" + log());
}

std::string Robotsim_Child::control(const std::string& line) const
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(m_control_port));
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0) {
        const std::string request = line + "\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char c = 0;
            while (read(fd, &c, 1) == 1 && c != '\n')
                reply.push_back(c);
        }
    }
    close(fd);
    if (reply.empty())
        throw std::runtime_error("robotsim control: no reply to " + line);
    return reply;
}

std::string Robotsim_Child::control_ok_ex(const std::string& line) const
{
    const std::string reply = control(line);
    if (reply.rfind("OK", 0) != 0)
        throw std::runtime_error("robotsim control: " + line + " -> " + reply);
    return reply;
}

int Robotsim_Child::wait_exit(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    const bool ended =
        eventually([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout, std::chrono::milliseconds(2));
    if (!ended)
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Robotsim_Child::stop(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return wait_exit(timeout);
}
