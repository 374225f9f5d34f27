#include "busmaster_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "eventually.h"

extern char** environ;

namespace {
constexpr std::chrono::milliseconds POLL{5};

bool has_ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}
}  // namespace

Busmaster_Process::Busmaster_Process(const std::vector<std::string>& arguments, const std::string& log_path)
    : m_log_path(log_path)
{
    std::vector<std::string> words{BUSMASTER_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1)
        throw std::runtime_error("cannot start busmaster");
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int log = open(m_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log != -1) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            close(log);
        }
        execve(BUSMASTER_BINARY, argv.data(), environ);
        _exit(127);
    }
}

Busmaster_Process::~Busmaster_Process()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string Busmaster_Process::raw_log() const
{
    std::ifstream file(m_log_path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Busmaster_Process::log() const
{
    static const std::regex colour("\x1b\\[[0-9;]*m");
    return std::regex_replace(raw_log(), colour, "");
}

bool Busmaster_Process::wait_for_log(const std::string& text, std::chrono::milliseconds timeout) const
{
    return eventually([&] { return log().find(text) != std::string::npos; }, timeout, POLL);
}

bool Busmaster_Process::wait_serving(std::chrono::milliseconds timeout) const
{
    bool serving = false;
    eventually(
        [&] {
            serving = log().find("ECM_Master_Socket wait_client_connect()") != std::string::npos;
            return serving || has_ended(m_pid);
        },
        timeout, POLL);
    return serving;
}

int Busmaster_Process::wait_exit(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    if (!eventually([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout, POLL))
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Busmaster_Process::stop()
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return wait_exit();
}
