#include "raw_peer.h"

#include <cstring>

Raw_Peer::Raw_Peer(const std::string& ifname, Responder responder) : m_socket(ifname), m_responder(std::move(responder))
{
    m_thread = std::thread([this] { run(); });
}

Raw_Peer::~Raw_Peer()
{
    m_stop = true;
    m_thread.join();
}

void Raw_Peer::run()
{
    std::vector<uint8_t> buffer(2048);
    while (!m_stop) {
        const size_t n = m_socket.receive(buffer.data(), buffer.size(), std::chrono::milliseconds(10));
        if (n == 0)
            continue;
        std::vector<uint8_t> frame(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
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
    m_socket.send(bytes.data(), bytes.size());
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
