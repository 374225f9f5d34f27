// robotsim_ctl: sends one control command to robotsim and prints its reply.
//   robotsim_ctl [--control-port C] COMMAND WORDS...
// Exit status 0 on "OK ...", 1 on "ERR ..." or no reply, 2 on a bad command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    int port = 30005;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--control-port") == 0) {
        port = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc || port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s [--control-port C] COMMAND WORDS...\n", argv[0]);
        return 2;
    }
    std::string line;
    for (int i = first; i < argc; ++i)
        line += (i > first ? " " : "") + std::string(argv[i]);
    line += "\n";

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        std::fprintf(stderr, "robotsim_ctl: cannot reach 127.0.0.1:%d: %s\n", port, std::strerror(errno));
        return 1;
    }
    std::string reply;
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        char c = 0;
        while (read(fd, &c, 1) == 1 && c != '\n')
            reply.push_back(c);
    }
    close(fd);
    std::printf("%s\n", reply.c_str());
    return reply.rfind("OK", 0) == 0 ? 0 : 1;
}
