#include "raw_peer.h"

#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {
constexpr uint16_t ETHERTYPE_ECAT = 0x88A4;

void run_command(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}
}  // namespace

Veth_Pair::Veth_Pair(std::string master_end, std::string peer_end)
    : m_master_end(std::move(master_end)), m_peer_end(std::move(peer_end))
{
    run_command("ip link add " + m_master_end + " type veth peer name " + m_peer_end);
    run_command("ip link set " + m_master_end + " up && ip link set " + m_peer_end + " up");
    // Frames sent before the carrier is up are lost: wait for both ends.
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    for (const std::string& end : {m_master_end, m_peer_end}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            ifreq request{};
            std::strncpy(request.ifr_name, end.c_str(), IFNAMSIZ - 1);
            if (ioctl(probe, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING) != 0)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                close(probe);
                throw std::runtime_error(end + " does not come up");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    close(probe);
}

Veth_Pair::~Veth_Pair()
{
    std::system(("ip link del " + m_master_end + " 2>/dev/null").c_str());
}

Raw_Peer::Raw_Peer(const std::string& ifname, Responder responder) : m_responder(std::move(responder))
{
    m_sock = socket(AF_PACKET, SOCK_RAW, htons(ETHERTYPE_ECAT));
    if (m_sock < 0)
        throw std::runtime_error("peer socket");
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETHERTYPE_ECAT);
    link.sll_ifindex = static_cast<int>(if_nametoindex(ifname.c_str()));
    if (link.sll_ifindex == 0 || bind(m_sock, reinterpret_cast<sockaddr*>(&link), sizeof(link)) != 0) {
        close(m_sock);
        throw std::runtime_error("peer bind on " + ifname);
    }
    m_thread = std::thread([this] { run(); });
}

Raw_Peer::~Raw_Peer()
{
    m_stop = true;
    m_thread.join();
    close(m_sock);
}

void Raw_Peer::run()
{
    std::vector<uint8_t> buffer(2048);
    while (!m_stop) {
        pollfd fd{m_sock, POLLIN, 0};
        if (poll(&fd, 1, 10) <= 0)
            continue;
        sockaddr_ll from{};
        socklen_t from_length = sizeof(from);
        const ssize_t n = recvfrom(m_sock, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                                   &from_length);
        if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        std::vector<uint8_t> frame(buffer.begin(), buffer.begin() + n);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_frames.push_back(Seen_Frame{std::chrono::steady_clock::now(), frame});
        }
        const Peer_Action action = m_responder(frame);
        if (!action.answer)
            continue;
        if (action.delay.count() > 0)
            std::this_thread::sleep_for(action.delay);
        inject(frame);
    }
}

std::vector<Seen_Frame> Raw_Peer::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void Raw_Peer::inject(const std::vector<uint8_t>& bytes)
{
    if (send(m_sock, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("peer send");
}

std::vector<Datagram_View> datagrams_of(const std::vector<uint8_t>& frame)
{
    std::vector<Datagram_View> result;
    std::size_t offset = 16;
    for (;;) {
        if (offset + 12 > frame.size())
            break;
        const uint16_t word = static_cast<uint16_t>(frame[offset + 6] | (frame[offset + 7] << 8));
        const uint16_t length = word & 0x07FF;
        if (offset + 12 + length > frame.size())
            break;
        result.push_back(Datagram_View{offset, length});
        if ((word & 0x8000) == 0)
            break;
        offset += 12 + length;
    }
    return result;
}

uint16_t working_counter(const std::vector<uint8_t>& frame, const Datagram_View& datagram)
{
    const std::size_t at = datagram.offset + 10 + datagram.length;
    return static_cast<uint16_t>(frame[at] | (frame[at + 1] << 8));
}

void set_working_counter(std::vector<uint8_t>& frame, const Datagram_View& datagram, uint16_t value)
{
    const std::size_t at = datagram.offset + 10 + datagram.length;
    frame[at] = static_cast<uint8_t>(value & 0xff);
    frame[at + 1] = static_cast<uint8_t>(value >> 8);
}

Raw_Peer::Responder counting_slaves(uint16_t slaves, uint8_t fill)
{
    return [slaves, fill](std::vector<uint8_t>& frame) {
        for (const Datagram_View& datagram : datagrams_of(frame)) {
            const uint8_t command = frame[datagram.offset];
            const bool reads = command == 1 || command == 4 || command == 7 || command == 10 || command == 12 ||
                               command == 13 || command == 14;
            if (reads)
                std::memset(frame.data() + datagram.offset + 10, fill, datagram.length);
            set_working_counter(frame, datagram, static_cast<uint16_t>(working_counter(frame, datagram) + slaves));
        }
        return Peer_Action{};
    };
}
