// "get_actual_pos" round trips through cellapp's XML-RPC server on one
// kept-alive connection (a plain-socket client sending the same request
// each time), beside a bare TCP request and reply of the same sizes in the
// same run. The server runs in this process on a free loopback port; the
// application status is left before OP, so the method answers through its
// guard and the figures are those of the server: parsing, dispatch, reply.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cell_status.h"
#include "ethercat_info.h"
#include "xmlrpc_interface.h"

namespace {
constexpr int ROUND_TRIPS = 20000;
constexpr int WARM_UP = 500;

int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int connect_to(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd == -1 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

void send_all(int fd, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        sent += static_cast<size_t>(n);
    }
}

// Reads one HTTP reply (headers and Content-length bytes).
std::string read_reply(int fd)
{
    std::string reply;
    char buffer[4096];
    for (;;) {
        const size_t head_end = reply.find("\r\n\r\n");
        if (head_end != std::string::npos) {
            const size_t at = reply.find("Content-length: ");
            const size_t length = at == std::string::npos ? 0 : std::stoul(reply.substr(at + 16));
            if (reply.size() >= head_end + 4 + length)
                return reply;
        }
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            throw std::runtime_error("the server closed the connection");
        reply.append(buffer, static_cast<size_t>(n));
    }
}

void read_exactly(int fd, size_t size, std::string& into)
{
    into.resize(size);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = recv(fd, &into[got], size - got, 0);
        if (n <= 0)
            throw std::runtime_error("bare peer closed");
        got += static_cast<size_t>(n);
    }
}

struct Figures {
    int64_t p50, p99, max;
};

Figures figures_of(std::vector<int64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
    return {at(0.50), at(0.99), samples.back()};
}
}  // namespace

int main()
{
    Ethercat_Info eth_info(DRIVE_TYPES_NUM);
    raise_ondara_program_status(WAIT_NETWORK_CONFIRMATION);
    XmlRpcInterface server(nullptr, nullptr, &eth_info);
    if (!server.create_server(0, true, 0)) {
        std::printf("cannot bind\n");
        return EXIT_FAILURE;
    }
    std::thread serving([&] { server.start_server(-1.0); });

    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>get_actual_pos</methodName>\r\n"
        "<params><param><value><i4>0</i4></value></param></params></methodCall>\r\n";
    const std::string request =
        "POST /RPC2 HTTP/1.1\r\nUser-Agent: bench\r\nHost: 127.0.0.1\r\n"
        "Content-Type: text/xml\r\nContent-length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    std::vector<int64_t> rpc;
    size_t reply_size = 0;
    {
        const int fd = connect_to(server.port());
        for (int i = 0; i < WARM_UP + ROUND_TRIPS; ++i) {
            const int64_t t0 = now_ns();
            send_all(fd, request);
            const std::string reply = read_reply(fd);
            const int64_t t1 = now_ns();
            if (reply.find("<double>0") == std::string::npos) {
                std::printf("unexpected reply:\n%s\n", reply.c_str());
                return EXIT_FAILURE;
            }
            reply_size = reply.size();
            if (i >= WARM_UP)
                rpc.push_back(t1 - t0);
        }
        close(fd);
    }
    server.stop_server();
    serving.join();

    // The bare exchange: a thread that reads the request's bytes and writes
    // the reply's bytes on a kept-alive loopback connection.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::printf("bare listener: %s\n", std::strerror(errno));
        return EXIT_FAILURE;
    }
    const std::string canned_reply(reply_size, 'r');
    std::thread peer([&] {
        const int fd = accept(listener, nullptr, nullptr);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        std::string in;
        try {
            for (int i = 0; i < WARM_UP + ROUND_TRIPS; ++i) {
                read_exactly(fd, request.size(), in);
                send_all(fd, canned_reply);
            }
        } catch (const std::exception& e) {
            std::printf("bare peer: %s\n", e.what());
        }
        close(fd);
    });
    std::vector<int64_t> bare;
    {
        const int fd = connect_to(ntohs(address.sin_port));
        std::string in;
        for (int i = 0; i < WARM_UP + ROUND_TRIPS; ++i) {
            const int64_t t0 = now_ns();
            send_all(fd, request);
            read_exactly(fd, reply_size, in);
            const int64_t t1 = now_ns();
            if (i >= WARM_UP)
                bare.push_back(t1 - t0);
        }
        close(fd);
    }
    peer.join();
    close(listener);

    const Figures r = figures_of(rpc);
    const Figures b = figures_of(bare);
    std::printf("get_actual_pos over XML-RPC, %d round trips, request %zu B, reply %zu B\n", ROUND_TRIPS,
                request.size(), reply_size);
    std::printf("  XML-RPC  p50 %8.1f us  p99 %8.1f us  max %9.1f us\n", r.p50 / 1e3, r.p99 / 1e3, r.max / 1e3);
    std::printf("  bare TCP p50 %8.1f us  p99 %8.1f us  max %9.1f us\n", b.p50 / 1e3, b.p99 / 1e3, b.max / 1e3);
    std::printf("  ratio of medians %.2f (goal: within 3x)\n", static_cast<double>(r.p50) / static_cast<double>(b.p50));
    return EXIT_SUCCESS;
}
