#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The peer board's end of a bridge channel, played by a test: a TCP client
// that connects to a bridge server, or a server that a bridge client
// connects to, speaking the wire byte for byte (bridge_wire.h). Every
// transfer moves its whole byte count or throws std::runtime_error.
class Bridge_Fake_Peer {
public:
    using Bytes = std::vector<uint8_t>;
    using Item = std::pair<std::string, int32_t>;  // name and type code

    Bridge_Fake_Peer() = default;
    ~Bridge_Fake_Peer();
    Bridge_Fake_Peer(const Bridge_Fake_Peer&) = delete;
    Bridge_Fake_Peer& operator=(const Bridge_Fake_Peer&) = delete;

    // Connects, retrying while the server does not listen yet; false when the
    // time runs out. Transfers then wait at most io_timeout.
    [[nodiscard]] bool connect(const std::string& address, int port, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds io_timeout = std::chrono::milliseconds(3000));
    // Listens on address:port of the network the calling thread is in.
    void listen(const std::string& address, int port);
    // Accepts one connection of the listening socket; false when none came
    // in time. Transfers then wait at most io_timeout.
    [[nodiscard]] bool accept(std::chrono::milliseconds timeout,
                              std::chrono::milliseconds io_timeout = std::chrono::milliseconds(3000));
    void send(const Bytes& bytes);
    Bytes receive(std::size_t count);
    // Waits until the server closes the connection (or io_timeout ends it):
    // true when it was closed.
    bool wait_closed();
    // Closes the connection; a listening socket stays open.
    void close();
    bool is_connected() const { return m_fd != -1; }

    // Handshake messages: a 4-byte little-endian length; the names' raw bytes
    // each followed by its 4-byte little-endian type code.
    static Bytes length_message(uint32_t length);
    static Bytes items_message(const std::vector<Item>& items);
    static uint32_t length_of(const Bytes& message);

    // One pair of the client side of a handshake: the length, which must
    // match the server's (else throws), then the items; the server's answer,
    // one byte per item.
    Bytes handshake_pair(const std::vector<Item>& items, uint32_t length);
    // The same pair from the server side: the client's length first (a
    // difference throws once the own length is sent), then its items,
    // judged item by item against items; the verdicts sent, one byte each.
    Bytes answer_handshake_pair(const std::vector<Item>& items, uint32_t length);

    // The client side of the cyclic handshake: the peer's input list checked
    // against the server's output list, then its output list against the
    // server's input list. The answers of both pairs, in order; throws when
    // a length differs.
    std::pair<Bytes, Bytes> cyclic_handshake(const std::vector<Item>& input_items, uint32_t input_len,
                                             const std::vector<Item>& output_items, uint32_t output_len);

private:
    int m_fd = -1;
    int m_listen_fd = -1;
};

// Keeps a connected and handshaken cyclic channel of empty images going:
// the first token, the master's answer, then the next token every 10 ms,
// until stopped or until the master ends the channel.
class Empty_Cyclic_Driver {
public:
    explicit Empty_Cyclic_Driver(Bridge_Fake_Peer& cyclic);
    ~Empty_Cyclic_Driver() { stop(); }
    Empty_Cyclic_Driver(const Empty_Cyclic_Driver&) = delete;
    Empty_Cyclic_Driver& operator=(const Empty_Cyclic_Driver&) = delete;
    // Closes the channel's connection and joins the thread.
    void stop();

private:
    Bridge_Fake_Peer& m_cyclic;
    std::atomic<bool> m_driving{true};
    std::thread m_thread;
};
