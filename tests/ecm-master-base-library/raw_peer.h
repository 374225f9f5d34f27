#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "veth_harness.h"

// One EtherCAT frame as the peer saw it.
struct Seen_Frame {
    std::chrono::steady_clock::time_point when;
    std::vector<uint8_t> bytes;  // the whole Ethernet frame
};

// What the peer does with a frame: answer it (bytes as changed by the
// responder), after a delay, or drop it.
struct Peer_Action {
    bool answer = true;
    std::chrono::microseconds delay{0};
};

// A raw EtherCAT endpoint on the far end of a veth pair (ecat_sim::Veth_Pair),
// driven by the test: a thread receives every frame, records it and lets the
// responder decide the reply.
class Raw_Peer {
public:
    using Responder = std::function<Peer_Action(std::vector<uint8_t>& frame)>;

    Raw_Peer(const std::string& ifname, Responder responder);
    ~Raw_Peer();
    Raw_Peer(const Raw_Peer&) = delete;
    Raw_Peer& operator=(const Raw_Peer&) = delete;

    std::vector<Seen_Frame> frames() const;
    // Sends bytes as they are (a whole Ethernet frame) from the peer's end.
    void inject(const std::vector<uint8_t>& bytes);

private:
    void run();

    ecat_sim::Raw_Ethernet_Socket m_socket;
    Responder m_responder;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<Seen_Frame> m_frames;
    std::thread m_thread;
};

// Datagrams of a frame: offset of datagram i (from the frame start) and its
// data length, walking the "another follows" bits.
struct Datagram_View {
    std::size_t offset;
    uint16_t length;
};
std::vector<Datagram_View> datagrams_of(const std::vector<uint8_t>& frame);
uint16_t working_counter(const std::vector<uint8_t>& frame, const Datagram_View& datagram);
void set_working_counter(std::vector<uint8_t>& frame, const Datagram_View& datagram, uint16_t value);

// Responder of a segment of `slaves` simple slaves: every datagram's working
// counter grows by `slaves` (reads and writes alike), and read data is
// filled with fill.
Raw_Peer::Responder counting_slaves(uint16_t slaves, uint8_t fill = 0xA5);
