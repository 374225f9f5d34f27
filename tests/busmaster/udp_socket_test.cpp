// The UDP socket classes: one line per datagram, replies to the sender,
// truncation made visible, and the failure texts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "thrown_text.h"
#include "xelo_client_socket_udp.h"
#include "xelo_server_socket_udp.h"

namespace {
constexpr int PORT = 5500;

// A plain datagram socket of the test, bound to an ephemeral port.
class Plain_Peer {
public:
    Plain_Peer()
    {
        m_sock = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_sock, reinterpret_cast<sockaddr*>(&any), sizeof(any));
        timeval limit{2, 0};
        setsockopt(m_sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    }
    ~Plain_Peer() { close(m_sock); }

    void send_to(int port, const std::string& bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_sock, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }
    std::string receive() const
    {
        char buffer[2048];
        const ssize_t n = recv(m_sock, buffer, sizeof(buffer), 0);
        return n < 0 ? std::string("<nothing>") : std::string(buffer, static_cast<std::size_t>(n));
    }

private:
    int m_sock = -1;
};
}  // namespace

TEST(UdpSocket, LineIsTheDatagramWithoutItsLastByte)
{
    ServerSocket_Udp_ex server("127.0.0.1", PORT);
    Plain_Peer peer;
    const struct {
        std::string sent;
        std::string line;
    } cases[] = {
        {std::string("1#stop\n"), "1#stop"},
        {"x", ""},
        {"get_system_state", "get_system_stat"},  // no line end: its last letter goes
        {std::string(500, 'a'), std::string(499, 'a')},
    };
    for (const auto& c : cases) {
        peer.send_to(PORT, c.sent);
        std::string line = "unchanged";
        server >> line;
        EXPECT_EQ(line, c.line) << c.sent.size();
        EXPECT_FALSE(server.last_read_was_truncated()) << c.sent.size();
    }
}

TEST(UdpSocket, DatagramLongerThanTheLineBufferIsMarkedTruncated)
{
    ServerSocket_Udp_ex server("127.0.0.1", PORT);
    Plain_Peer peer;
    peer.send_to(PORT, std::string(501, 'b'));
    std::string line;
    server >> line;
    EXPECT_TRUE(server.last_read_was_truncated());
    peer.send_to(PORT, "ok\n");
    server >> line;
    EXPECT_FALSE(server.last_read_was_truncated());
}

TEST(UdpSocket, ServerAnswersTheSenderOfTheLastDatagramWithOneLine)
{
    ServerSocket_Udp_ex server("127.0.0.1", PORT);
    Plain_Peer first;
    Plain_Peer second;
    std::string line;
    first.send_to(PORT, "a\n");
    server >> line;
    server << "reply_ok";
    EXPECT_EQ(first.receive(), "reply_ok\n");

    second.send_to(PORT, "b\n");
    server >> line;
    server << "12#32";
    EXPECT_EQ(second.receive(), "12#32\n");
}

TEST(UdpSocket, ClientReachesItsServerAndReadsTheReply)
{
    ServerSocket_Udp_ex server("127.0.0.1", PORT);
    ClientSocket_Udp_ex client("127.0.0.1", PORT, true, 2, 0);
    std::string line;
    client << "7#get_system_version";
    server >> line;
    EXPECT_EQ(line, "7#get_system_version");
    server << "7#32";
    client >> line;
    EXPECT_EQ(line, "7#32");
}

TEST(UdpSocket, ClientReadGivesUpAfterItsTimeOut)
{
    ClientSocket_Udp_ex client("127.0.0.1", PORT, true, 0, 100000);
    std::string line;
    const auto start = std::chrono::steady_clock::now();
    const std::string text = thrown_text([&] { client >> line; });
    EXPECT_EQ(text.rfind("Error on receive: ", 0), 0u) << text;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST(UdpSocket, FailuresCarryTheirTexts)
{
    ServerSocket_Udp_ex first("127.0.0.1", PORT);
    const struct {
        const char* name;
        std::string text;
        const char* expected;
    } cases[] = {
        {"port in use", thrown_text([] { ServerSocket_Udp_ex("127.0.0.1", PORT); }), " bind error "},
        {"no address", thrown_text([] { ServerSocket_Udp_ex("not-an-address", PORT + 1); }), " bind error "},
        {"empty address", thrown_text([] { ServerSocket_Udp_ex("", PORT + 1); }), " bind error "},
        {"foreign address", thrown_text([] { ServerSocket_Udp_ex("192.0.2.7", PORT + 1); }), " bind error "},
        {"client address", thrown_text([] { ClientSocket_Udp_ex("localhost", PORT, false, 0, 0); }),
         " Address creation error "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.name;
}

TEST(UdpSocket, ServerBindsExactlyTheConfiguredAddress)
{
    ServerSocket_Udp_ex server("127.0.0.1", PORT);
    // Another loopback address of the same port is not served by it.
    ServerSocket_Udp_ex other("127.0.0.2", PORT);
    EXPECT_EQ(server.local_port(), PORT);
    EXPECT_EQ(other.local_port(), PORT);
}
