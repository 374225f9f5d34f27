// The bridge's TCP socket classes on loopback.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "thrown_text.h"
#include "xelo_socket.h"

namespace {
constexpr int PORT = 61000;
constexpr int TIMEOUT_MS = 2000;

int open_descriptors()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count;
}

// A listening server and a client connected to it, the server's side accepted.
struct Connected_Pair {
    explicit Connected_Pair(bool pack_inside = false)
    {
        server.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, pack_inside);
        client.set_up_socket("127.0.0.1", PORT, TIMEOUT_MS, pack_inside);
        accepted = server.wait_connection_ex(nullptr, nullptr);
    }
    Socket_Server_Tcp server;
    Socket_Client_Tcp client;
    int accepted = 0;
};

std::vector<char> pattern(std::size_t length)
{
    std::vector<char> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}
}  // namespace

TEST(Socket_Tcp_Test, MessagesTravelBothWaysOverTheDefaultConnections)
{
    Connected_Pair pair;
    EXPECT_EQ(pair.server.get_current_connection_number(), 1u);
    EXPECT_EQ(pair.server.get_default_connection(), pair.accepted);
    EXPECT_EQ(pair.client.get_default_connection(), pair.client.get_root_connection_fd());
    std::vector<char> out = pattern(100), in(100);
    EXPECT_EQ(pair.client.send_message_ex(out.data(), 100, 0), 100u);
    EXPECT_EQ(pair.server.receive_message_ex(in.data(), 100, -1), 100u);
    EXPECT_EQ(in, out);
    EXPECT_EQ(pair.server.send_message_ex(out.data(), 50, pair.accepted), 50u);
    EXPECT_EQ(pair.client.receive_message_ex(in.data(), 50, 0), 50u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 50, in.begin()));
    // Length 0 moves nothing.
    EXPECT_EQ(pair.client.send_message_ex(out.data(), 0, 0), 0u);
}

// A channel that carries data one way only never sees its small messages
// held back for the peer's delayed acknowledgement: every socket the bridge
// sends on, and the listening socket its accepted ones come from, sends at once.
TEST(Socket_Tcp_Test, SmallMessagesAreNotHeldBack)
{
    Connected_Pair pair;
    const std::pair<const char*, int> sockets[] = {
        {"client", pair.client.get_default_connection()},
        {"listening", pair.server.get_root_connection_fd()},
        {"accepted", pair.accepted},
    };
    for (const auto& [what, fd] : sockets) {
        int no_delay = 0;
        socklen_t length = sizeof(no_delay);
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, &length), 0) << what;
        EXPECT_NE(no_delay, 0) << what;
    }
}

TEST(Socket_Tcp_Test, PackLengthsAreHalfTheKernelBuffers)
{
    Socket_Client_Tcp client;
    Socket_Server_Tcp server;
    server.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false);
    int sndbuf = 0, rcvbuf = 0;
    socklen_t length = sizeof(int);
    ASSERT_EQ(getsockopt(server.get_root_connection_fd(), SOL_SOCKET, SO_SNDBUF, &sndbuf, &length), 0);
    ASSERT_EQ(getsockopt(server.get_root_connection_fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, &length), 0);
    EXPECT_EQ(server.get_send_pack_len(), static_cast<uint32_t>(sndbuf) / 2);
    EXPECT_EQ(server.get_receive_pack_len(), static_cast<uint32_t>(rcvbuf) / 2);
}

// One pack of exactly the pack length; one byte more needs packs.
TEST(Socket_Tcp_Test, MessagesLongerThanAPackNeedPacks)
{
    Connected_Pair pair(false);
    const uint32_t pack = pair.client.get_send_pack_len();
    std::vector<char> out = pattern(pack + 1);
    std::thread reader([&] {
        std::vector<char> in(pack);
        pair.server.receive_message_ex(in.data(),
                                       static_cast<unsigned>(std::min(pack, pair.server.get_receive_pack_len())), 0);
    });
    EXPECT_EQ(pair.client.send_message_ex(out.data(), pack, 0), pack);
    reader.join();
    EXPECT_EQ(thrown_text([&] { pair.client.send_message_ex(out.data(), pack + 1, 0); }),
              "message length is bigger than the maximum allowed byt he system");
    EXPECT_EQ(thrown_text(
                  [&] { pair.server.receive_message_ex(out.data(), pair.server.get_receive_pack_len() + 1, 0); }),
              "message length is bigger than the maximum allowed byt he system");
}

// A message of several packs and a remainder arrives whole and in order.
TEST(Socket_Tcp_Test, LongMessagesGoInPacksAndArriveWhole)
{
    Connected_Pair pair(true);
    const std::size_t length = 3 * std::size_t(pair.client.get_send_pack_len()) + 12345;
    std::vector<char> out = pattern(length), in(length);
    std::thread reader(
        [&] { EXPECT_EQ(pair.server.receive_message_ex(in.data(), static_cast<unsigned>(length), 0), length); });
    EXPECT_EQ(pair.client.send_message_ex(out.data(), static_cast<unsigned>(length), 0), length);
    reader.join();
    EXPECT_EQ(in, out);
}

TEST(Socket_Tcp_Test, LookupsOfAbsentConnectionsThrow)
{
    Socket_Server_Tcp server;
    server.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false);
    char byte = 0;
    EXPECT_EQ(thrown_text([&] { server.send_message_ex(&byte, 1, 0); }),
              "get_default_connection -- no connection available!");
    EXPECT_EQ(thrown_text([&] { server.send_message_ex(&byte, 1, 12345); }),
              "Trying to send message on socket connection which does not exists");
    EXPECT_EQ(thrown_text([&] { server.receive_message_ex(&byte, 1, 12345); }),
              "Trying to recive message on socket connection which does not exists");
    EXPECT_EQ(thrown_text([&] { server.close_connection(12345); }),
              "Trying to close connection of file descriptor not open in this socket.");
    Socket_Client_Tcp client;
    EXPECT_EQ(thrown_text([&] {
                  client.wait_connection_ex(nullptr, nullptr);
              }).rfind("Trying to wait connection on a client. This is not a socket server!!!!!", 0),
              0u);
    client.close_socket();  // nothing open: nothing happens
    EXPECT_EQ(client.get_root_connection_fd(), 0);
}

TEST(Socket_Tcp_Test, ThePeerClosingMakesTheNextReceiveThrow)
{
    Connected_Pair pair;
    pair.client.close_socket();
    char byte = 0;
    EXPECT_EQ(thrown_text([&] {
                  pair.server.receive_message_ex(&byte, 1, 0);
              }).rfind("error while receiving socket message: ", 0),
              0u);
}

TEST(Socket_Tcp_Test, ASilentPeerEndsTheReceiveAfterTheTimeOut)
{
    Connected_Pair pair;
    char byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thrown_text([&] {
                  pair.client.receive_message_ex(&byte, 1, 0);
              }).rfind("error while receiving socket message: 11", 0),
              0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
}

// With a limit of 1, accepting works with 2 connections listed and is
// refused with 3.
TEST(Socket_Tcp_Test, AcceptingStopsPastTheLimitPlusOne)
{
    Socket_Server_Tcp server;
    server.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false);
    std::vector<std::unique_ptr<Socket_Client_Tcp>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Socket_Client_Tcp>());
        clients.back()->set_up_socket("127.0.0.1", PORT, TIMEOUT_MS);
        server.wait_connection_ex(nullptr, nullptr);
    }
    EXPECT_EQ(server.get_current_connection_number(), 3u);
    EXPECT_EQ(thrown_text([&] { server.wait_connection_ex(nullptr, nullptr); }),
              "Reached maximum number of open connections: 1. Increase max connecction number in setup socket or "
              "remeber to close connections when no more active.");
    // The listening socket stays open when the connections go.
    server.close_all_connections();
    EXPECT_EQ(server.get_current_connection_number(), 0u);
    Socket_Client_Tcp again;
    again.set_up_socket("127.0.0.1", PORT, TIMEOUT_MS);
    sockaddr_in peer{};
    socklen_t peer_len = sizeof(peer);
    const int fd = server.wait_connection_ex(&peer, &peer_len);
    EXPECT_TRUE(server.connection_exists(fd));
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(Socket_Tcp_Test, NoClientWithinTheTimeOutEndsTheAccept)
{
    Socket_Server_Tcp server;
    server.set_up_socket("127.0.0.1", PORT, true, 300, 1, false);
    EXPECT_EQ(thrown_text([&] { server.wait_connection_ex(nullptr, nullptr); }),
              "It is not possible to accept socket: errno = 11");
}

// A port is not shared: the second server gets a bind error, and a failed
// set-up leaves no descriptor open.
TEST(Socket_Tcp_Test, FailedSetUpsLeaveNoDescriptorOpen)
{
    Socket_Server_Tcp first;
    first.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false);
    const int before = open_descriptors();
    {
        Socket_Server_Tcp second;
        EXPECT_EQ(thrown_text([&] { second.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false); }),
                  "It is not possible to bind socket98");
        EXPECT_EQ(second.get_root_connection_fd(), 0);
        Socket_Client_Tcp refused;
        EXPECT_EQ(thrown_text([&] { refused.set_up_socket("127.0.0.1", PORT + 1, TIMEOUT_MS); }),
                  "It is not possible to connect to socket: errno = 111");
        EXPECT_EQ(refused.get_current_connection_number(), 0u);
        Socket_Client_Tcp unparsable;
        EXPECT_EQ(thrown_text([&] { unparsable.set_up_socket("10.0.0.300", PORT, TIMEOUT_MS); }),
                  "It is not possible to parse socket address '10.0.0.300'");
        EXPECT_EQ(open_descriptors(), before);
    }
    EXPECT_EQ(open_descriptors(), before);
}

// A server set up again after closing binds its port at once, even with a
// connection of the previous set-up in TIME_WAIT.
TEST(Socket_Tcp_Test, ARestartedServerBindsAtOnce)
{
    {
        Connected_Pair pair;
        char byte = 1;
        pair.server.send_message_ex(&byte, 1, 0);
        pair.client.receive_message_ex(&byte, 1, 0);
        pair.server.close_socket();
    }
    Socket_Server_Tcp server;
    EXPECT_NO_THROW(server.set_up_socket("127.0.0.1", PORT, true, TIMEOUT_MS, 1, false));
}

TEST(Socket_Tcp_Test, DescriptorZeroIsNeverClosed)
{
    // Descriptor 0 is this process's standard input: it must survive.
    if (fcntl(0, F_GETFD) == -1) {
        ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
    }
    Socket::safe_close(0);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    Connected_Pair pair;
    pair.server.close_socket();
    EXPECT_EQ(pair.server.get_root_connection_fd(), 0);
    EXPECT_EQ(pair.server.get_current_connection_number(), 0u);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}
