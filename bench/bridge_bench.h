#pragma once
// What the two socket-bridge benchmarks share: the bare TCP echo on the peer
// board and the ping-pong against it (their baseline over the same link),
// and the row they print.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bridge_fake_peer.h"

namespace bench {

// A bare echo on address:port for one connection: each message of `in`
// bytes is answered with `out` bytes (the message, then zeros). 0 once the
// peer closed, 1 on a failure.
inline int bare_tcp_echo(const std::string& address, uint16_t port, std::size_t in, std::size_t out)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 || listen(listener, 1) != 0)
        return 1;
    const int fd = accept(listener, nullptr, nullptr);
    close(listener);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    std::vector<uint8_t> message(in > out ? in : out);
    for (;;) {
        std::size_t got = 0;
        while (got < in) {
            const ssize_t n = recv(fd, message.data() + got, in - got, 0);
            if (n <= 0) {
                close(fd);
                return 0;
            }
            got += static_cast<std::size_t>(n);
        }
        std::fill(message.begin() + static_cast<std::ptrdiff_t>(in), message.end(), 0);
        if (send(fd, message.data(), out, MSG_NOSIGNAL) != static_cast<ssize_t>(out)) {
            close(fd);
            return 1;
        }
    }
}

// `count` round trips of `message` answered by `answer_bytes`, after
// `warm_up` untimed ones.
inline std::vector<int64_t> ping_pong(Bridge_Fake_Peer& peer, const Bridge_Fake_Peer::Bytes& message,
                                      std::size_t answer_bytes, int warm_up, int count)
{
    std::vector<int64_t> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < warm_up + count; ++i) {
        const int64_t start = now_ns();
        peer.send(message);
        peer.receive(answer_bytes);
        if (i >= warm_up)
            samples.push_back(now_ns() - start);
    }
    return samples;
}

inline void print_row(const char* what, const Figures& f)
{
    std::printf("%-40s p50 %8.1f us   p99 %8.1f us   max %8.1f us\n", what, f.p50 / 1e3, f.p99 / 1e3, f.max / 1e3);
}

}  // namespace bench
