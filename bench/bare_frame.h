#pragma once
// The bare baseline of busmaster's exchanges: a prepared EtherCAT frame sent
// and its reply received on a plain raw socket on the master's end of the
// simulated segment, without the master's frame layer.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ethercat_frame.h"
#include "nicdrv.h"
#include "veth_harness.h"

namespace bench {

class Bare_Frame {
public:
    Bare_Frame(const std::string& interface, const Ethercat_Frame& frame) : m_socket(interface), m_frame(frame.bytes())
    {
    }

    // The frame of one datagram of `length` zero bytes.
    static Bare_Frame one_datagram(const std::string& interface, uint8_t command, uint16_t adp, uint16_t ado,
                                   uint16_t length)
    {
        return Bare_Frame(interface, Ethercat_Frame().add(command, adp, ado, std::vector<uint8_t>(length)));
    }

    // Sends the frame and busy-waits for its reply: the reply's size, or 0
    // when none came within the time-out.
    size_t exchange(std::chrono::microseconds timeout = std::chrono::microseconds(20000))
    {
        m_socket.send(m_frame.data(), m_frame.size());
        return m_socket.receive(m_reply, sizeof(m_reply), timeout, true);
    }

    const uint8_t* reply() const { return m_reply; }

private:
    ecat_sim::Raw_Ethernet_Socket m_socket;
    std::vector<uint8_t> m_frame;
    uint8_t m_reply[EC_MAXFRAME] = {};
};

// Each of `samples` calls of `once` timed, after `warm_up` untimed ones.
template <typename F>
std::vector<int64_t> time_each(int warm_up, int samples, F&& once)
{
    for (int i = 0; i < warm_up; ++i)
        once();
    std::vector<int64_t> times;
    times.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const int64_t start = now_ns();
        once();
        times.push_back(now_ns() - start);
    }
    return times;
}

}  // namespace bench
