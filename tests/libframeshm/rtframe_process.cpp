#include "rtframe_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "framework_shared_memory.h"

extern char** environ;

namespace {
// ready_to_start of the info segment, or -1 while it does not exist whole.
int read_ready_to_start()
{
    const int fd = shm_open("/linux_framework_info", O_RDONLY, 0);
    if (fd == -1)
        return -1;
    struct stat st {};
    int ready = -1;
    if (fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(sizeof(Shared_Info_Struct))) {
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
}  // namespace

// The server ends with the test process, also when that one crashes: a
// server left behind keeps its logging queue, which counts against the
// per-user queue memory of every later run.
Rtframe_Process::Rtframe_Process(const std::string& descriptor_path) : m_log_path("/tmp/rtframe.log")
{
    const std::string binary = RTFRAME_BINARY;
    std::string config = descriptor_path;
    char* argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>("-o"), const_cast<char*>("-s"),
                    const_cast<char*>("-c"), config.data(), nullptr};
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == -1)
        throw std::runtime_error("cannot start " + binary);
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
        execve(binary.c_str(), argv, environ);
        _exit(127);
    }
}

Rtframe_Process::~Rtframe_Process()
{
    stop();
}

void Rtframe_Process::wait_ready_ex(int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (read_ready_to_start() != 1) {
        int status = 0;
        if (m_pid == -1 || waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("rtframe ended before it was ready:\n" + log());
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("rtframe not ready in time:\n" + log());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Rtframe_Process::stop()
{
    if (m_pid == -1)
        return -1;
    kill(m_pid, SIGTERM);
    int status = 0;
    while (waitpid(m_pid, &status, 0) == -1 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}

std::string Rtframe_Process::log() const
{
    std::ifstream file(m_log_path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
