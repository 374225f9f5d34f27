#include "veth_harness.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace ecat_sim {

namespace {
// Whether the interface is operationally up (IFF_RUNNING): only then does
// the kernel pass frames through it; before, they are dropped silently.
bool is_running(const std::string& name)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        throw std::runtime_error(std::string("[Veth_Pair] socket: ") + std::strerror(errno));
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    const int rc = ioctl(fd, SIOCGIFFLAGS, &request);
    const int err = errno;
    close(fd);
    if (rc != 0) {
        throw std::runtime_error("[Veth_Pair] SIOCGIFFLAGS " + name + ": " + std::strerror(err));
    }
    return (request.ifr_flags & IFF_RUNNING) != 0;
}

void wait_running(const std::string& name)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!is_running(name)) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("[Veth_Pair] " + name + " did not come up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
}  // namespace

void run_command(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error(std::string("[run_command] fork: ") + std::strerror(errno));
    }
    if (child == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error(std::string("[run_command] waitpid: ") + std::strerror(errno));
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& argument : arguments) {
            line += (line.empty() ? "" : " ") + argument;
        }
        throw std::runtime_error("[run_command] " + line + " ended with status " +
                                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
    }
}

Veth_Pair::Veth_Pair(const std::string& master_end, const std::string& segment_end)
    : m_master(master_end), m_segment(segment_end)
{
    run_command({"ip", "link", "add", m_master, "type", "veth", "peer", "name", m_segment});
    try {
        run_command({"ip", "link", "set", m_master, "up"});
        run_command({"ip", "link", "set", m_segment, "up"});
        wait_running(m_master);
        wait_running(m_segment);
    } catch (...) {
        try {
            run_command({"ip", "link", "del", m_master});
        } catch (...) {
        }
        throw;
    }
}

Veth_Pair::~Veth_Pair()
{
    try {
        run_command({"ip", "link", "del", m_master});
    } catch (...) {
        // Deleting the pair fails only when it is gone already; the test's
        // namespace removes it at its end in any case.
    }
}

Sim_Options Veth_Segment::default_options()
{
    Sim_Options options;
    options.busy_poll = false;
    return options;
}

Veth_Segment::Veth_Segment(const Segment_Config& config, Sim_Options options)
{
    options.interface = m_veth.segment_end();
    m_simulator = std::make_unique<Ecat_Simulator>(config, options);
}

Raw_Ethernet_Socket::Raw_Ethernet_Socket(const std::string& interface)
{
    m_fd = socket(AF_PACKET, SOCK_RAW, htons(ETHERTYPE_ECAT));
    if (m_fd < 0) {
        throw std::runtime_error(std::string("[Raw_Ethernet_Socket][Raw_Ethernet_Socket] socket: ") +
                                 std::strerror(errno));
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETHERTYPE_ECAT);
    address.sll_ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
    if (address.sll_ifindex == 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const std::string error = std::strerror(errno);
        close(m_fd);
        throw std::runtime_error("[Raw_Ethernet_Socket][Raw_Ethernet_Socket] bind " + interface + ": " + error);
    }
}

Raw_Ethernet_Socket::~Raw_Ethernet_Socket()
{
    close(m_fd);
}

void Raw_Ethernet_Socket::send(const uint8_t* frame, size_t size)
{
    if (::send(m_fd, frame, size, 0) != static_cast<ssize_t>(size)) {
        throw std::runtime_error(std::string("[Raw_Ethernet_Socket][send] send: ") + std::strerror(errno));
    }
}

size_t Raw_Ethernet_Socket::receive(uint8_t* frame, size_t room, std::chrono::microseconds timeout, bool busy)
{
    const int64_t deadline = monotonic_ns() + timeout.count() * 1000;
    while (true) {
        const ssize_t size = recv(m_fd, frame, room, MSG_DONTWAIT);
        if (size > 0) {
            return static_cast<size_t>(size);
        }
        const int64_t now = monotonic_ns();
        if (now >= deadline) {
            return 0;
        }
        if (!busy) {
            pollfd waiting{m_fd, POLLIN, 0};
            const int64_t left_ms = (deadline - now + 999999) / 1000000;
            poll(&waiting, 1, static_cast<int>(left_ms));
        }
    }
}

}  // namespace ecat_sim
