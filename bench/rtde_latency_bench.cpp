// Latency of the RTDE client: from the simulated controller's send stamp
// (the monotonic clock, written into output_double_register_0 just before
// the package goes out) to the return of RTDE::receiveData, over 5000
// packages at 500 Hz. Beside it, in the same run and at the same time, a bare
// TCP stream on loopback of the same package size, rate and stamp, read with
// plain blocking reads: header, then payload. Its period is shifted by half a
// period so that the two senders do not wake together.
//
// Prints p50, p99 and max of both and the ratio of the medians; it never
// fails on time. Build it without sanitizers for meaningful figures.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "robot_sim.h"
#include "rtde.h"

namespace {
constexpr int SAMPLES = 5000;
constexpr int WARM_UP = 100;
constexpr double FREQUENCY = 500.0;
constexpr int64_t PERIOD_NS = 2000000;
// Recipe id, three unsigned 32-bit values and the stamp: 21 bytes of payload.
const std::vector<std::string> RECIPE{"runtime_state", "safety_status_bits", "robot_status_bits",
                                      "output_double_register_0"};
constexpr std::size_t PACKAGE_SIZE = 3 + 21;
constexpr std::size_t STAMP_AT = 3 + 13;

int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

double now_seconds()
{
    return static_cast<double>(now_ns()) * 1e-9;
}

struct Figures {
    int64_t p50, p99, max;
};

Figures figures_of(std::vector<int64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))];
    };
    return {at(0.50), at(0.99), samples.back()};
}

double big_endian_double(const uint8_t* bytes)
{
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = bits << 8 | bytes[i];
    double value = 0;
    std::memcpy(&value, &bits, 8);
    return value;
}

// ---- RTDE: the client against the simulated controller ----------------------

std::vector<int64_t> rtde_run(uint16_t port)
{
    rtde_client::RTDE client("127.0.0.1", port, false);
    client.connect();
    if (!client.negotiateProtocolVersion() || !client.sendOutputSetup(RECIPE, FREQUENCY))
        throw std::runtime_error("the simulator refused the recipe");
    client.sendStart();
    if (!client.isStarted())
        throw std::runtime_error("the simulator refused the start");
    std::vector<int64_t> samples;
    samples.reserve(SAMPLES);
    for (int i = 0; i < WARM_UP + SAMPLES; ++i) {
        const std::vector<uint8_t> payload = client.receiveData();
        const double received = now_seconds();
        if (i >= WARM_UP)
            samples.push_back(static_cast<int64_t>((received - big_endian_double(&payload[13])) * 1e9));
    }
    client.sendPause();
    client.disconnect();
    return samples;
}

// ---- bare: one sender thread, plain reads -------------------------------------

void put_double(uint8_t* at, double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, 8);
    for (int i = 7; i >= 0; --i, bits >>= 8)
        at[i] = static_cast<uint8_t>(bits & 0xFF);
}

bool read_all(int fd, uint8_t* buffer, std::size_t count)
{
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, buffer + got, count - got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<int64_t> bare_run()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    socklen_t length = sizeof(sa);
    if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        throw std::runtime_error(std::string("bare stream: ") + std::strerror(errno));
    const int reader = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(reader, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0)
        throw std::runtime_error(std::string("bare stream: connect: ") + std::strerror(errno));
    const int writer = accept(listener, nullptr, nullptr);
    close(listener);
    const int on = 1;
    setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

    std::thread sender([writer] {
        uint8_t package[PACKAGE_SIZE] = {0, static_cast<uint8_t>(PACKAGE_SIZE), 'U', 1, 0, 0, 0, 1};
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_nsec += PERIOD_NS / 2;  // half a period after the simulator
        for (int i = 0; i < WARM_UP + SAMPLES; ++i) {
            deadline.tv_nsec += PERIOD_NS;
            while (deadline.tv_nsec >= 1000000000L) {
                deadline.tv_nsec -= 1000000000L;
                ++deadline.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            put_double(package + STAMP_AT, now_seconds());
            if (send(writer, package, sizeof(package), MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof(package)))
                break;
        }
    });
    std::vector<int64_t> samples;
    samples.reserve(SAMPLES);
    for (int i = 0; i < WARM_UP + SAMPLES; ++i) {
        uint8_t header[3];
        std::vector<uint8_t> payload(PACKAGE_SIZE - 3);
        if (!read_all(reader, header, 3) || !read_all(reader, payload.data(), payload.size()))
            break;
        const double received = now_seconds();
        if (i >= WARM_UP)
            samples.push_back(static_cast<int64_t>((received - big_endian_double(&payload[13])) * 1e9));
    }
    sender.join();
    close(writer);
    close(reader);
    return samples;
}

void print(const char* name, const Figures& f)
{
    std::printf("%-28s p50 %8.1f us   p99 %8.1f us   max %8.1f us\n", name, static_cast<double>(f.p50) / 1e3,
                static_cast<double>(f.p99) / 1e3, static_cast<double>(f.max) / 1e3);
}
}  // namespace

int main()
{
    try {
        robot_sim::Config config;
        config.port = 0;
        robot_sim::Robot_Controller_Sim sim(config);
        if (sim.command("stamp 0") != "OK")
            throw std::runtime_error("the simulator does not stamp");
        std::printf("%d packages of %zu bytes at %.0f Hz on loopback, RTDE and bare at the same time (~%d s)\n",
                    SAMPLES, PACKAGE_SIZE, FREQUENCY, (SAMPLES + WARM_UP) / 500);
        std::vector<int64_t> bare;
        std::thread bare_thread([&] { bare = bare_run(); });
        const std::vector<int64_t> rtde = rtde_run(sim.port());
        bare_thread.join();
        if (rtde.size() != SAMPLES || bare.size() != SAMPLES) {
            std::printf("incomplete run: %zu RTDE and %zu bare samples\n", rtde.size(), bare.size());
            return EXIT_FAILURE;
        }
        const Figures r = figures_of(rtde), b = figures_of(bare);
        print("send stamp -> receiveData", r);
        print("bare TCP stream", b);
        std::printf("ratio of medians: %.2f (goal: within 1.5)\n",
                    static_cast<double>(r.p50) / static_cast<double>(b.p50));
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
