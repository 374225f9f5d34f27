#include "nicdrv.h"

#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "ecm_log.h"
#include "ethercatbase.h"
#include "os_iface.h"

namespace {
constexpr int ETH_MIN_FRAME = 60;  // shortest Ethernet frame without its check sequence
constexpr int64_t NS_PER_S = 1000000000;

int sockhandle = -1;
std::atomic<int> ec_incnt{0};
std::atomic<int> ec_errcnt{0};
std::atomic<int> ec_dropcnt{0};

pthread_mutex_t nic_frame_data_protection_mutex;
bool nic_frame_mutex_ready = false;
sem_t nic_frame_protection_sem;
bool nic_frame_sem_ready = false;

// Written by the cyclic thread, read by every sender without a lock.
std::atomic<bool> nic_frame_cyclic_is_running{false};
std::atomic<int64_t> nic_frame_cyclic_next_time_ns{0};  // CLOCK_MONOTONIC
std::atomic<uint32_t> nic_frame_cycle_time_us{0};

// Receive scratch buffer; used under the frame mutex only.
uint8_t ec_tempinbuf[EC_MAXFRAME];

// Index byte of the next frame; the reply must carry it back.
std::atomic<uint8_t> ec_next_index{0};

std::string error_text(int code)
{
    return std::string(std::strerror(code));
}

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

void post_if_empty(const char* failure_text)
{
    int value = 0;
    sem_getvalue(&nic_frame_protection_sem, &value);
    if (value <= 0 && sem_post(&nic_frame_protection_sem) != 0)
        ecm_log_err(std::string(failure_text) + error_text(errno));
}

void close_socket()
{
    if (sockhandle >= 0)
        close(sockhandle);
    sockhandle = -1;
}

int setup_mutex()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    int rc = pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    if (rc != 0) {
        ecm_log_err("pthread_mutexattr_setprotocol error = " + std::to_string(rc) + " " + error_text(rc));
        pthread_mutexattr_destroy(&attr);
        return -1;
    }
    rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    if (rc != 0) {
        ecm_log_err("pthread_mutexattr_settype error = " + std::to_string(rc) + " " + error_text(rc));
        pthread_mutexattr_destroy(&attr);
        return -1;
    }
    if (nic_frame_mutex_ready) {
        rc = pthread_mutex_destroy(&nic_frame_data_protection_mutex);
        if (rc != 0) {
            ecm_log_err("pthread_mutex_destroy error = " + std::to_string(rc));
            pthread_mutexattr_destroy(&attr);
            return -1;
        }
        nic_frame_mutex_ready = false;
    }
    rc = pthread_mutex_init(&nic_frame_data_protection_mutex, &attr);
    if (rc != 0) {
        pthread_mutex_destroy(&nic_frame_data_protection_mutex);
        rc = pthread_mutex_init(&nic_frame_data_protection_mutex, &attr);
        if (rc != 0) {
            ecm_log_err(" retry pthread_mutex_init error = " + error_text(rc));
            pthread_mutexattr_destroy(&attr);
            return -1;
        }
    }
    pthread_mutexattr_destroy(&attr);
    nic_frame_mutex_ready = true;
    return 0;
}

int setup_semaphore()
{
    if (nic_frame_sem_ready) {
        if (sem_destroy(&nic_frame_protection_sem) != 0) {
            ecm_log_err("Failed to sem_destroy " + error_text(errno));
            return errno;
        }
        nic_frame_sem_ready = false;
    }
    if (sem_init(&nic_frame_protection_sem, 0, 0) != 0) {
        sem_destroy(&nic_frame_protection_sem);
        if (sem_init(&nic_frame_protection_sem, 0, 0) != 0) {
            ecm_log_err("Failed to  sem_init again " + error_text(errno));
            return errno;
        }
    }
    nic_frame_sem_ready = true;
    return 0;
}

// Whether the received frame (n bytes in ec_tempinbuf) is the reply to the
// frame just sent, which is ec_txbuflength bytes long.
bool is_reply(const uint8_t* sent, ssize_t n, int ec_txbuflength)
{
    const bool length_fits = n == ec_txbuflength || (ec_txbuflength < ETH_MIN_FRAME && n == ETH_MIN_FRAME);
    if (!length_fits)
        return false;
    // EtherCAT header, first datagram's command and index as sent.
    return std::memcmp(ec_tempinbuf + EC_ETHERNET_HEADER, sent + EC_ETHERNET_HEADER, 4) == 0;
}

// The frame last handed to ec_outframe, for is_reply; under the frame mutex.
uint8_t ec_last_sent_header[EC_FRAME_HEADER + 2];
}  // namespace

int ec_setupnic(const char* ifname)
{
    close_socket();
    sockhandle = socket(PF_PACKET, SOCK_RAW, htons(ETH_P_ECAT));
    if (sockhandle < 0) {
        const int err = errno;
        ecm_log_err("ERROR on  socket ( PF_PACKET, SOCK_RAW, htons ( ETH_P_ECAT ) errno: " + std::to_string(err) +
                    " strerror: " + error_text(err));
        sockhandle = -1;
        return -1;
    }
    ecm_log_inf("sockhandle " + std::to_string(sockhandle));

    int result = os_socket_option(sockhandle);
    if (result != 0) {
        const int err = errno;
        ecm_log_err("os_socket_option Errno: " + std::to_string(err) + " strerror: " + error_text(err));
        close_socket();
        return result;
    }

    ifreq request{};
    std::strncpy(request.ifr_name, ifname, IFNAMSIZ - 1);
    if (ioctl(sockhandle, SIOCGIFINDEX, &request) != 0) {
        const int err = errno;
        ecm_log_err("ioctl SIOCGIFINDEX " + std::string(ifname) + " errno: " + std::to_string(err) +
                    " strerror: " + error_text(err));
        close_socket();
        return -1;
    }
    const int ifindex = request.ifr_ifindex;
    if (ioctl(sockhandle, SIOCGIFFLAGS, &request) != 0) {
        const int err = errno;
        ecm_log_err("ioctl SIOCGIFFLAGS " + std::string(ifname) + " errno: " + std::to_string(err) +
                    " strerror: " + error_text(err));
        close_socket();
        return -1;
    }

    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ECAT);
    link.sll_ifindex = ifindex;
    if (bind(sockhandle, reinterpret_cast<sockaddr*>(&link), sizeof(link)) != 0) {
        const int err = errno;
        ecm_log_err("bind " + std::string(ifname) + " errno: " + std::to_string(err) + " strerror: " + error_text(err));
        close_socket();
        return -1;
    }

    result = os_socket_set_timeout(sockhandle);
    if (result != 0) {
        const int err = errno;
        ecm_log_err("os_socket_set_timeout Errno: " + std::to_string(err) + " strerror: " + error_text(err));
        close_socket();
        return result;
    }

    ec_incnt = 0;
    ec_errcnt = 0;
    ec_dropcnt = 0;

    if (setup_mutex() != 0) {
        close_socket();
        return -1;
    }
    result = setup_semaphore();
    if (result != 0) {
        close_socket();
        return result;
    }
    nic_frame_cyclic_is_running = false;
    return 0;
}

int ec_closenic()
{
    close_socket();
    return 0;
}

void ec_setupheader(void* p)
{
    auto* bytes = static_cast<uint8_t*>(p);
    std::memset(bytes, 0xff, 6);
    std::memset(bytes + 6, 0x01, 6);
    bytes[12] = static_cast<uint8_t>(ETH_P_ECAT >> 8);
    bytes[13] = static_cast<uint8_t>(ETH_P_ECAT & 0xff);
}

int ec_outframe(ec_bufT* ec_txbuf, int ec_txbuflength)
{
    while (recv(sockhandle, ec_tempinbuf, EC_MAXFRAME, 0) > 0) {
    }
    // Stamp the frame so that its reply can be told from a late one.
    (*ec_txbuf)[EC_FRAME_HEADER + 1] = ec_next_index.fetch_add(1);
    std::memcpy(ec_last_sent_header, *ec_txbuf, sizeof(ec_last_sent_header));
    return static_cast<int>(send(sockhandle, *ec_txbuf, static_cast<size_t>(ec_txbuflength), 0));
}

int ec_inframe(ec_bufT* ec_rxbuf, int ec_txbuflength)
{
    const ssize_t n = recv(sockhandle, ec_tempinbuf, EC_MAXFRAME, 0);
    if (n < 1)
        return EC_NO_FRAME;
    if (n < EC_FRAME_HEADER || ec_tempinbuf[12] != (ETH_P_ECAT >> 8) || ec_tempinbuf[13] != (ETH_P_ECAT & 0xff)) {
        ecm_log_plain("### EtherCAT: else -> ec_errcnt++ ###\n");
        ++ec_errcnt;
        return EC_OTHER_ETHERTYPE;
    }
    ++ec_incnt;
    if (!is_reply(ec_last_sent_header, n, ec_txbuflength)) {
        ++ec_dropcnt;
        return EC_NO_FRAME;
    }
    std::memcpy(*ec_rxbuf, ec_tempinbuf + EC_ETHERNET_HEADER, static_cast<size_t>(ec_txbuflength - EC_ETHERNET_HEADER));
    const int datagrams_length = ((*ec_rxbuf)[0] | ((*ec_rxbuf)[1] << 8)) & 0x0FFF;
    return (*ec_rxbuf)[datagrams_length] | ((*ec_rxbuf)[datagrams_length + 1] << 8);
}

int ec_waitinframe_red(ec_bufT* ec_rxbuf, int ec_txbuflength, unsigned int timeout_us)
{
    timeval now{};
    gettimeofday_xenomai(&now, nullptr);
    timeval deadline = now;
    deadline.tv_usec += timeout_us;
    if (deadline.tv_usec > 999999) {
        deadline.tv_sec += deadline.tv_usec / 1000000;
        deadline.tv_usec %= 1000000;
    }
    int result = EC_NO_FRAME;
    for (;;) {
        result = ec_inframe(ec_rxbuf, ec_txbuflength);
        gettimeofday_xenomai(&now, nullptr);
        if (result >= 0)
            break;
        if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_usec >= deadline.tv_usec))
            break;
    }
    return result;
}

int ec_send_receive_frame(ec_bufT* ec_txbuf, int ec_txbuflength, ec_bufT* ec_rxbuf, unsigned int timeout_us)
{
    if (ec_txbuflength < EC_FRAME_HEADER || ec_txbuflength > EC_MAXFRAME)
        return EC_FRAME_TOO_LONG;
    timespec lock_deadline{};
    clock_gettime(CLOCK_REALTIME, &lock_deadline);
    lock_deadline.tv_sec += 1;
    lock_deadline.tv_nsec += 500000000;
    if (lock_deadline.tv_nsec >= NS_PER_S) {
        lock_deadline.tv_sec += 1;
        lock_deadline.tv_nsec -= NS_PER_S;
    }
    int rc = pthread_mutex_timedlock(&nic_frame_data_protection_mutex, &lock_deadline);
    if (rc != 0) {
        ecm_log_err(
            "ec_send_receive_frame: Failed to pthread_mutex_timedlock nic_frame_data_protection_mutex "
            "MUTEX_TIMEOUT_EXPIRED ret: " +
            std::to_string(rc) + " " + error_text(rc));
        return EC_NO_FRAME;
    }
    ec_outframe(ec_txbuf, ec_txbuflength);
    const int result = ec_waitinframe_red(ec_rxbuf, ec_txbuflength, timeout_us);
    rc = pthread_mutex_unlock(&nic_frame_data_protection_mutex);
    if (rc != 0)
        ecm_log_err("ec_send_receive_frame: Failed to pthread_mutex_unlock nic_frame_data_protection_mutex ret: " +
                    std::to_string(rc) + " " + error_text(rc));
    return result;
}

int ec_send_receive_initcmd(uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length, void* data,
                            unsigned int timeout_us, char is_priority_cmd)
{
    ec_bufT txbuf;
    ec_bufT rxbuf;
    int txlength = 0;
    if (ec_setupdatagram(txbuf, &txlength, cmd, ADP, ADO, length, data) != 0)
        return EC_FRAME_TOO_LONG;
    if (is_priority_cmd == 0)
        ec_sem_wait();
    const unsigned int timeout =
        ec_acyclic_timeout_us(nic_frame_cyclic_is_running, nic_frame_cycle_time_us, timeout_us);
    const int result = ec_send_receive_frame(&txbuf, txlength, &rxbuf, timeout);
    if (result > 0 && length > 0)
        std::memcpy(data, rxbuf + EC_FRAME_HEADER - EC_ETHERNET_HEADER + 10, length);
    return result;
}

void ec_sem_wait()
{
    if (!nic_frame_cyclic_is_running)
        return;
    if (sem_wait(&nic_frame_protection_sem) != 0)
        ecm_log_err("ec_sem_wait: sem_wait ( nic_frame_protection_sem ) != 0");
    if (monotonic_ns() < nic_frame_cyclic_next_time_ns) {
        // Still inside the window: let the next sender in too.
        post_if_empty("ec_sem_wait: Failed to sem post");
        return;
    }
    // The window has passed: wait for the next cyclic frame, whose window
    // this sender then has for itself.
    if (sem_wait(&nic_frame_protection_sem) != 0)
        ecm_log_err("ec_sem_wait: sem_wait ( nic_frame_protection_sem ) != 0");
}

timespec ec_acyclic_window_end(timespec start, unsigned int cycle_frame_time_ns)
{
    timespec end = start;
    end.tv_nsec += static_cast<long>(cycle_frame_time_ns - (cycle_frame_time_ns >> 1));
    if (end.tv_nsec > 999999999) {
        end.tv_sec += 1;
        end.tv_nsec -= NS_PER_S;
    }
    return end;
}

unsigned int ec_acyclic_timeout_us(bool cyclic_running, uint32_t cycle_time_us, unsigned int requested_us)
{
    if (!cyclic_running)
        return requested_us;
    const unsigned int half = cycle_time_us / 2;
    return half < EC_MIN_ACYCLIC_TIMEOUT_US ? EC_MIN_ACYCLIC_TIMEOUT_US : half;
}

void ec_set_frame_cyclic_next_time_and_post_sem(timespec time_start_frame, unsigned int cycle_frame_time_ns)
{
    const timespec end = ec_acyclic_window_end(time_start_frame, cycle_frame_time_ns);
    nic_frame_cyclic_next_time_ns = static_cast<int64_t>(end.tv_sec) * NS_PER_S + end.tv_nsec;
    nic_frame_cycle_time_us = cycle_frame_time_ns / 1000;
    nic_frame_cyclic_is_running = true;
    post_if_empty("ec_set_frame_cyclic_next_time_and_post_sem: Failed to sem post");
}

void ec_stop_cyclic_frame()
{
    ecm_log_war("ec_stop_cyclic_frame()");
    nic_frame_cyclic_is_running = false;
    post_if_empty("ec_stop_cyclic_frame: Failed to sem post");
}

int ec_get_incnt()
{
    return ec_incnt;
}
int ec_get_errcnt()
{
    return ec_errcnt;
}
int ec_get_dropcnt()
{
    return ec_dropcnt;
}
bool ec_cyclic_is_running()
{
    return nic_frame_cyclic_is_running;
}
