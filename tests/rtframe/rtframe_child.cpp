#include "rtframe_child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "thin_client.h"

extern char** environ;

namespace {
bool poll_until(std::chrono::milliseconds timeout, const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
}  // namespace

Rtframe_Child::Rtframe_Child(const std::vector<std::string>& arguments, const std::string& log_path)
    : m_log_path(log_path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> words{RTFRAME_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, RTFRAME_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error(std::string("cannot start ") + RTFRAME_BINARY);
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
    return poll_until(timeout, [&] { return count_of(log(), text) >= count; });
}

bool Rtframe_Child::wait_until_ready(std::chrono::milliseconds timeout) const
{
    return Thin_Client::wait_until_ready(timeout);
}

int Rtframe_Child::wait_exit(std::chrono::milliseconds timeout)
{
    int status = 0;
    const bool ended = poll_until(timeout, [&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; });
    if (!ended)
        return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Rtframe_Child::stop(std::chrono::milliseconds timeout)
{
    kill(m_pid, SIGTERM);
    return wait_exit(timeout);
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

std::string install_descriptor(const std::string& template_name, const std::string& dir)
{
    mkdir(dir.c_str(), 0755);
    std::string text = read_file(std::string(RTFRAME_TEST_DESCRIPTORS) + "/" + template_name);
    if (text.empty())
        throw std::runtime_error("no descriptor template " + template_name);
    for (std::size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
        text.replace(at, 5, dir);
    const std::string path = dir + "/" + template_name;
    write_file(path, text);
    return path;
}
