#include "xelo_ethercat_user_interface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "robust_mutex.h"

namespace {

namespace p = ecm_protocol;

// Reply words of the master's lifecycle requests.
const char* const REPLY_STARTED = "started";
const char* const REPLY_STOPPED = "stopped";
const char* const REPLY_ONLY_VALID_XML = "start_only_valid_xml_data";
const char* const REPLY_RESTART_OK = "restart_master_comunication_ok";

constexpr int64_t NORMAL_TIMEOUT_NS = 2000000000;
// The bound of the requests that take as long as the bus needs (start,
// restart, state change): well beyond the longest bus start of the cell's
// networks (a few seconds), so that only a master that no longer answers
// runs into it.
constexpr int64_t LONG_REQUEST_TIMEOUT_NS = 60000000000;
constexpr int MAX_READS_PER_REPLY = 5;
constexpr int MAX_ID = 999;
constexpr std::size_t MAX_PATH_CHARACTERS = 476;
constexpr int IMAGE_BYTES = ecm_shm::PROCESS_DATA_BYTES;

// Writes one complaint and flushes it, so that it stands in order with the
// lines of the rest of the process.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
void say_line(const char* text)
{
    std::puts(text);
    std::fflush(stdout);
}

// ---- library state (one per process) ------------------------------------------
int sock_master = -1;
sockaddr_in addr_master{};
socklen_t m_len_input = 0;
char recv_string[p::DATAGRAM_BYTES + 1];
char to_send[p::DATAGRAM_BYTES + 1];
int upd_msg_id = 0;
// The receive time-out of the requests, in milliseconds.
int receive_timeout_ms = static_cast<int>(NORMAL_TIMEOUT_NS / 1000000);
// Raised by cancel_master_requests: every wait for a reply ends at once and
// every request fails until the next preliminary_hook. The event wakes a
// wait in progress.
std::atomic<bool> requests_cancelled{false};
int cancel_event_fd = -1;

pthread_mutex_t m_mutex_lib;
pthread_once_t m_mutex_lib_once = PTHREAD_ONCE_INIT;
int m_mutex_lib_init_result = -1;

// Written under the library lock; the operational flag and the slave counts
// are also read (the flag also cleared) without it by the fast path.
int is_system_connect = 0;
int is_master_connect = 0;
int is_xml_valid = 0;
std::atomic<int> is_master_in_operational_state{0};
std::atomic<int> m_slave_in_xml_number{0};
std::atomic<int> m_slave_active_number{0};
int tick_tmp = 0;

int fd_pdo_shmem = -1;
int fd_info_shmem = -1;
int fd_tick_shmem = -1;
int status_pdo_shmem = -1;
int status_info_shmem = -1;
int status_tick_shmem = -1;
Shared_Pdo_Mem_Region* ptr_pdo_shmem = nullptr;
Shared_Slave_Info_Mem_Region* ptr_info_shmem = nullptr;
Shared_Tick_Mem_Region* ptr_tick_shmem = nullptr;

// ---- locks ------------------------------------------------------------------------
// The client's lines of its locks: a failure names the pthread call, "pthread_mutex_lock: Failed to
// pthread_mutex_lock ret: %d : %s "; a mutex of the master's memories whose holder died is made
// consistent and taken, with its WAR line.
class Client_Lock_Log final : public Lock_Log_Sink {
public:
    void write(Log_Level /*level*/, const char* text) noexcept override { say_line(text); }
    void failed(Lock_Operation operation, const char* /*name*/, const char* /*owner*/, int code) noexcept override
    {
        static const char* const CALLS[] = {"pthread_mutex_lock", "pthread_mutex_trylock", "pthread_mutex_unlock"};
        const char* call = CALLS[static_cast<int>(operation)];
        say("%s: Failed to %s ret: %d : %s ", call, call, code, std::strerror(code));
    }
};
Client_Lock_Log client_lock_log;

constexpr const char* LIB_LOCK_FAILED = "Error on LIB_PTHREAD_MUTEX_LOCK";
constexpr const char* LIB_UNLOCK_FAILED = "Error on LIB_PTHREAD_MUTEX_UNLOCK";

Robust_Mutex client_mutex(pthread_mutex_t* mutex, const char* name)
{
    return Robust_Mutex(mutex, name, nullptr, &client_lock_log);
}

// The library lock for one request.
Robust_Mutex library_mutex()
{
    return client_mutex(&m_mutex_lib, "m_mutex_lib");
}

// The mutexes of the slave-info and process-data memories (mapped).
constexpr const char* INFO_LOCK_FAILED = "Error on SHM_INFO_PTHREAD_MUTEX_LOCK";
constexpr const char* INFO_UNLOCK_FAILED = "Error on SHM_INFO_PTHREAD_MUTEX_UNLOCK";
constexpr const char* PDO_LOCK_FAILED = "Error on SHM_PDO_PTHREAD_MUTEX_LOCK";
constexpr const char* PDO_UNLOCK_FAILED = "Error on SHM_PDO_PTHREAD_MUTEX_UNLOCK";

Robust_Mutex info_mutex()
{
    return client_mutex(&ptr_info_shmem->shm_mutex, "ptr_info_shmem->shm_mutex");
}

Robust_Mutex pdo_mutex()
{
    return client_mutex(&ptr_pdo_shmem->shm_mutex, "ptr_pdo_shmem->shm_mutex");
}

// Whether lock holds its mutex; else (after the call's line) prints failure_text.
bool taken(const Nothrow_Lock& lock, const char* failure_text)
{
    if (!lock.owns_lock())
        say_line(failure_text);
    return lock.owns_lock();
}

// Releases lock; false (after the call's line and failure_text) when the release failed.
bool released(Nothrow_Lock& lock, const char* failure_text)
{
    if (lock.unlock() == 0)
        return true;
    say_line(failure_text);
    return false;
}

// Result of a request whose library lock must be released: the result, or
// -1 when the release failed.
int release(Nothrow_Lock& lock, int result)
{
    return released(lock, LIB_UNLOCK_FAILED) ? result : -1;
}

// ---- request text --------------------------------------------------------------
// The command word, each argument after one blank, a newline; built with
// bounds into a buffer of one datagram.
class Request_Text {
public:
    explicit Request_Text(const char* word) { append("%s", word); }
    Request_Text& arg(long value)
    {
        append(" %ld", value);
        return *this;
    }
    Request_Text& arg(const char* text)
    {
        append(" %s", text);
        return *this;
    }
    // Appends the newline; false when the text does not fit one datagram.
    bool finish()
    {
        append("%c", p::LINE_END);
        return !m_overflow;
    }
    const char* text() const { return m_text; }

private:
    void append(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        if (m_overflow)
            return;
        va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(m_text + m_length, sizeof(m_text) - m_length, format, args);
        va_end(args);
        if (written < 0 || static_cast<std::size_t>(written) >= sizeof(m_text) - m_length) {
            m_overflow = true;
            return;
        }
        m_length += static_cast<std::size_t>(written);
    }

    char m_text[p::DATAGRAM_BYTES + 1] = {};
    std::size_t m_length = 0;
    bool m_overflow = false;
};

void say_too_long()
{
    say_line("\n!!! Error: request longer than one datagram !!!");
}

// ---- transport -------------------------------------------------------------------
int os_socket_set_timeout(int64_t timeout_ns)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(static_cast<double>(timeout_ns) / 1000000000.0);
    tv.tv_usec = 0;
    if (setsockopt(sock_master, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
        say("Error setting socket options : %s \n", std::strerror(errno));
        return -1;
    }
    receive_timeout_ms = tv.tv_sec == 0 ? -1 : static_cast<int>(tv.tv_sec * 1000);
    return 0;
}

// Waits for a datagram on the socket within the receive time-out; false on
// a time-out, an error or a cancellation.
bool wait_readable(int fd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {cancel_event_fd, POLLIN, 0}};
    const nfds_t count = cancel_event_fd == -1 ? 1 : 2;
    for (;;) {
        if (requests_cancelled.load(std::memory_order_acquire))
            return false;
        const int ready = poll(fds, count, receive_timeout_ms);
        if (ready > 0)
            return (fds[0].revents & (POLLIN | POLLERR)) != 0 && !requests_cancelled.load(std::memory_order_acquire);
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Frames and sends one request: the id used, or -1.
int send_request(int fd, const char* request)
{
    const int id = upd_msg_id < MAX_ID ? upd_msg_id + 1 : 0;
    upd_msg_id = id;
    const int length = std::snprintf(to_send, sizeof(to_send), "%d%c%s", id, p::ID_SEPARATOR, request);
    if (length < 0 || length > p::DATAGRAM_BYTES) {
        say_too_long();
        return -1;
    }
    if (send(fd, to_send, static_cast<std::size_t>(length), 0) != length) {
        say("Error writing to socket : ");
        return -1;
    }
    return id;
}

// Reads until the reply with this id arrives (at most five datagrams, only
// those of the master's address count as replies); 0 with the reply text
// in recv_string, or -1.
int recv_response(int fd, int id)
{
    std::memset(recv_string, 0, sizeof(recv_string));
    for (int reads = 1; reads <= MAX_READS_PER_REPLY; ++reads) {
        sockaddr_in sender{};
        socklen_t sender_length = sizeof(sender);
        const ssize_t received = wait_readable(fd)
                                     ? recvfrom(fd, recv_string, p::DATAGRAM_BYTES, MSG_TRUNC | MSG_DONTWAIT,
                                                reinterpret_cast<sockaddr*>(&sender), &sender_length)
                                     : -1;
        if (received < 0) {
            say("Error on receive: ");
            return -1;
        }
        if (received > p::DATAGRAM_BYTES || sender.sin_port != addr_master.sin_port ||
            sender.sin_addr.s_addr != addr_master.sin_addr.s_addr)
            continue;
        recv_string[received] = '\0';
        char* separator = std::strchr(recv_string, p::ID_SEPARATOR);
        if (separator == nullptr)
            continue;
        char* end = nullptr;
        const long received_id = std::strtol(recv_string, &end, 10);
        if (end != separator || received_id != id)
            continue;
        std::memmove(recv_string, separator + 1, std::strlen(separator + 1) + 1);
        return 0;
    }
    return -1;
}

// One request and its reply, under the library lock held by the caller.
int exchange(Request_Text& request)
{
    if (!request.finish()) {
        say_too_long();
        return -1;
    }
    if (requests_cancelled.load(std::memory_order_acquire))
        return -1;
    const int id = send_request(sock_master, request.text());
    if (id < 0)
        return -1;
    return recv_response(sock_master, id);
}

// An exchange for a command that takes as long as the bus needs (start,
// restart, state change): the receive waits up to the long bound, and the
// normal time-out is set again afterwards. 0, or -1 on any failure.
int exchange_without_timeout(Request_Text& request)
{
    if (os_socket_set_timeout(LONG_REQUEST_TIMEOUT_NS) != 0)
        return -1;
    const int exchanged = exchange(request);
    if (os_socket_set_timeout(NORMAL_TIMEOUT_NS) != 0 || exchanged != 0)
        return -1;
    return 0;
}

bool reply_is(const char* word)
{
    return std::strncmp(recv_string, word, std::strlen(word)) == 0;
}

// The reply as blank-separated decimals; at most max values, each of which
// must be a whole number. The number of values, or -1 when one is no number
// or there are more than max.
int reply_values(long* values, int max)
{
    char copy[sizeof(recv_string)];
    std::memcpy(copy, recv_string, sizeof(copy));
    int count = 0;
    char* save = nullptr;
    for (char* token = strtok_r(copy, " \n", &save); token != nullptr; token = strtok_r(nullptr, " \n", &save)) {
        if (count == max)
            return -1;
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(token, &end, 10);
        if (*end != '\0' || end == token || errno != 0)
            return -1;
        values[count++] = value;
    }
    return count;
}

// A list reply of n values whose first is n: the other n - 1 values, or false.
bool reply_list(int n, long* values)
{
    long all[p::DATAGRAM_BYTES / 2];
    const int count = reply_values(all, p::DATAGRAM_BYTES / 2);
    if (count < n || all[0] != n)
        return false;
    std::memcpy(values, all + 1, sizeof(long) * static_cast<std::size_t>(n - 1));
    return true;
}

// A reply of one decimal number.
bool reply_value(long* value)
{
    return reply_values(value, 1) == 1;
}

// ---- guards --------------------------------------------------------------------
// Takes the lock, evaluates the condition, releases the lock: 0 when it holds.
template <typename Condition>
int guard(Condition condition, const char* message)
{
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    const bool holds = condition();
    if (!released(lock, LIB_UNLOCK_FAILED))
        return -1;
    if (holds)
        return 0;
    if (message != nullptr)
        say_line(message);
    return -1;
}

int test_system_connect()
{
    return guard([] { return is_system_connect != 0; }, nullptr);
}

int test_system_connect_and_xml_valid()
{
    return guard([] { return is_system_connect != 0 && is_xml_valid != 0; },
                 "\n!!! System NOT Connected or xml NOT valid !!!");
}

int test_system_connect_and_master_connect()
{
    return guard([] { return is_system_connect != 0 && is_master_connect != 0; },
                 "\n!!! System or Master NOT Connected !!!");
}

// ---- request patterns ----------------------------------------------------------
// The reply must not be "reply_error".
int request_not_error(Request_Text request)
{
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (exchange(request) != 0 || reply_is(p::REPLY_ERROR))
        return release(lock, -1);
    return release(lock, 0);
}

// The reply must be "reply_ok".
int request_ok(Request_Text request)
{
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (exchange(request) != 0 || !reply_is(p::REPLY_OK))
        return release(lock, -1);
    return release(lock, 0);
}

// A reply of one decimal.
int request_value(Request_Text request, long* value)
{
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (exchange(request) != 0 || reply_is(p::REPLY_ERROR) || !reply_value(value))
        return release(lock, -1);
    return release(lock, 0);
}

// A list reply of n values; the n - 1 after the count go to values.
int request_list(Request_Text request, int n, long* values)
{
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (exchange(request) != 0 || reply_is(p::REPLY_ERROR) || !reply_list(n, values))
        return release(lock, -1);
    return release(lock, 0);
}

void copy_slave_counts()
{
    if (ptr_info_shmem == nullptr)
        return;
    const auto bounded = [](int32_t count) {
        return count < 0 ? 0 : count > ecm_shm::MAX_SLAVES ? ecm_shm::MAX_SLAVES : count;
    };
    m_slave_in_xml_number = bounded(ptr_info_shmem->num_of_xml_slaves);
    m_slave_active_number = bounded(ptr_info_shmem->num_of_active_slaves);
}

void clear_slave_counts()
{
    m_slave_in_xml_number = 0;
    m_slave_active_number = 0;
}

void init_library_mutex()
{
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc == 0)
        rc = pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    if (rc != 0) {
        say(" ERROR preliminary_hook on pthread_mutexattr_setprotocol %s", std::strerror(rc));
        return;
    }
    rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    if (rc != 0) {
        say(" ERROR preliminary_hook on pthread_mutexattr_settype %s", std::strerror(rc));
        pthread_mutexattr_destroy(&attr);
        return;
    }
    rc = pthread_mutex_init(&m_mutex_lib, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        say(" ERROR preliminary_hook on pthread_mutex_init %s", std::strerror(rc));
        return;
    }
    cancel_event_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_mutex_lib_init_result = 0;
}

int connect_ecm_socket(int* sock, sockaddr_in* address, const char* host, int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return -1;
    std::memset(address, 0, sizeof(*address));
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    m_len_input = sizeof(sockaddr_in);
    if (inet_pton(AF_INET, host, &address->sin_addr) < 1) {
        std::perror(" Address creation error ");
        close(fd);
        return -1;
    }
    // Connected: a master that is gone is reported by the next receive
    // (ECONNREFUSED) instead of being waited for.
    if (connect(fd, reinterpret_cast<const sockaddr*>(address), sizeof(*address)) != 0) {
        std::perror(" Connect error ");
        close(fd);
        return -1;
    }
    if (*sock != -1)
        close(*sock);
    *sock = fd;
    say("IP address: %s\n", host);
    return 0;
}

[[maybe_unused]] int close_ecm_socket(int* sock)
{
    const int result = close(*sock);
    *sock = -1;
    return result;
}

// Maps one memory that the master created, without resizing it: a memory
// whose size is not the record's is refused.
template <typename Record>
int connect_shm(const char* name, int* fd, int* status, Record** ptr)
{
    const int opened = shm_open(name, O_RDWR | O_CLOEXEC, ecm_shm::MODE);
    if (opened == -1)
        return -1;
    struct stat st {};
    if (fstat(opened, &st) != 0 || static_cast<std::size_t>(st.st_size) != sizeof(Record)) {
        say("\n!!! Error: shared memory %s has %lld bytes, expected %zu !!!\n", name,
            static_cast<long long>(st.st_size), sizeof(Record));
        close(opened);
        *status = 1;
        return -1;
    }
    void* mapped = mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, opened, 0);
    if (mapped == MAP_FAILED) {
        close(opened);
        *status = 1;
        return -1;
    }
    // A second hook after last_unhook maps afresh.
    if (*ptr != nullptr)
        munmap(*ptr, sizeof(Record));
    if (*fd != -1)
        close(*fd);
    *fd = opened;
    *status = 0;
    *ptr = static_cast<Record*>(mapped);
    return 0;
}

// Whether the memory of this name is still the one mapped through fd: a
// master that was started again has created new ones.
bool is_same_memory(const char* name, int fd)
{
    struct stat mapped {};
    struct stat current {};
    const int opened = shm_open(name, O_RDONLY | O_CLOEXEC, 0);
    if (opened == -1)
        return false;
    const bool same = fstat(opened, &current) == 0 && fd != -1 && fstat(fd, &mapped) == 0 &&
                      mapped.st_ino == current.st_ino && mapped.st_dev == current.st_dev;
    close(opened);
    return same;
}

// Maps again every memory that the master has replaced since the hook.
int remap_replaced_memories()
{
    if (!is_same_memory(ecm_shm::PDO_NAME, fd_pdo_shmem) && connect_pdo_shm_mem() != 0)
        return -1;
    if (!is_same_memory(ecm_shm::INFO_NAME, fd_info_shmem) && connect_info_shm_mem() != 0)
        return -1;
    if (!is_same_memory(ecm_shm::TICK_NAME, fd_tick_shmem) && connect_tick_shm_mem() != 0)
        return -1;
    return 0;
}

int disconnect_fd(int* fd)
{
    const int result = close(*fd);
    *fd = -1;
    return result;
}

// ---- process data ------------------------------------------------------------------
// Where one slave's data lies in one image, read from the info memory.
struct Slave_Place {
    int start_byte;
    int start_bit;
    int bytes;
    int bits;
};

enum class Direction { INPUT, OUTPUT };

// The place of the slave at address, read without a lock; false when the
// slave has none.
bool read_place(int address, Direction direction, Slave_Place* place)
{
    const Shared_Slave_Info_Mem_Region& info = *ptr_info_shmem;
    const int j = address - ecm_shm::FIRST_SLAVE_NUMBER;
    if (direction == Direction::INPUT) {
        if (info.has_input[j] != 1)
            return false;
        *place = {info.in_shm_start_byte[j], info.in_shm_start_offs_bit[j], info.in_bytes[j], info.in_bits[j]};
    } else {
        if (info.has_output[j] != 1)
            return false;
        *place = {info.out_shm_start_byte[j], info.out_shm_start_offs_bit[j], info.out_bytes[j], info.out_bits[j]};
    }
    return true;
}

// A place that the copy can use: inside the image, the caller's byte count.
bool place_fits(const Slave_Place& place, int num_byte)
{
    return place.start_byte >= 0 && place.start_bit >= 0 && place.start_bit <= 7 && place.bytes == num_byte &&
           num_byte >= 0 && place.start_byte <= IMAGE_BYTES - num_byte;
}

// The num_byte bytes that begin at bit start_bit of image + start_byte, as
// one little-endian bit string; a byte past the image counts as 0.
void copy_in(const uint8_t* image, const Slave_Place& place, int num_byte, uint8_t* inputs)
{
    const uint8_t* source = image + place.start_byte;
    const int s = place.start_bit;
    if (s == 0) {
        std::memcpy(inputs, source, static_cast<std::size_t>(num_byte));
        return;
    }
    for (int i = 0; i < num_byte; ++i) {
        const unsigned low = source[i];
        const unsigned high = place.start_byte + i + 1 < IMAGE_BYTES ? source[i + 1] : 0u;
        inputs[i] = static_cast<uint8_t>(((low | (high << 8)) >> s) & 0xFFu);
    }
}

// Writes exactly the slave's bits [start_bit, start_bit + bits) of
// image + start_byte from the caller's bits [0, bits); the other bits of the
// bytes it shares with neighbours keep their values.
void copy_out(uint8_t* image, const Slave_Place& place, int num_byte, const uint8_t* outputs)
{
    uint8_t* destination = image + place.start_byte;
    const int s = place.start_bit;
    int bits = place.bits;
    if (bits < 0)
        bits = 0;
    if (bits > num_byte * 8)
        bits = num_byte * 8;
    if (s == 0 && bits % 8 == 0) {
        std::memcpy(destination, outputs, static_cast<std::size_t>(bits / 8));
        return;
    }
    const int end_bit = s + bits;  // one past the field, counted from destination bit 0
    const int touched = (end_bit + 7) / 8;
    for (int i = 0; i < touched && place.start_byte + i < IMAGE_BYTES; ++i) {
        const unsigned current = i < num_byte ? outputs[i] : 0u;
        const unsigned previous = i > 0 ? outputs[i - 1] : 0u;
        const unsigned shifted = ((current << s) | (s > 0 ? previous >> (8 - s) : 0u)) & 0xFFu;
        unsigned mask = 0xFFu;
        if (i == 0)
            mask &= (0xFFu << s) & 0xFFu;
        const int bits_below_end = end_bit - i * 8;
        if (bits_below_end < 8)
            mask &= (1u << bits_below_end) - 1u;
        destination[i] = static_cast<uint8_t>((destination[i] & ~mask) | (shifted & mask));
    }
}

// One slave's copy in either direction. lock_info / lock_pdo: whether the
// call takes the memory mutexes itself (the caller-locked variants do not).
int process_data_copy(int address_slave, int num_byte, uint8_t* bytes, Direction direction, bool take_locks)
{
    if (check_address_slave_type(address_slave, 1) != 0)
        return -1;
    if (ptr_info_shmem == nullptr || ptr_pdo_shmem == nullptr || bytes == nullptr)
        return -1;
    Slave_Place place{};
    if (take_locks) {
        Nothrow_Lock info(info_mutex());
        if (!taken(info, INFO_LOCK_FAILED))
            return -1;
        const bool placed = read_place(address_slave, direction, &place);
        if (!released(info, INFO_UNLOCK_FAILED) || !placed)
            return -1;
    } else if (!read_place(address_slave, direction, &place)) {
        return -1;
    }
    if (!place_fits(place, num_byte))
        return -1;
    if (!take_locks) {
        if (direction == Direction::INPUT)
            copy_in(ptr_pdo_shmem->shm_buf_in, place, num_byte, bytes);
        else
            copy_out(ptr_pdo_shmem->shm_buf_out, place, num_byte, bytes);
        return 0;
    }
    Nothrow_Lock pdo(pdo_mutex());
    if (!taken(pdo, PDO_LOCK_FAILED))
        return -1;
    if (direction == Direction::INPUT)
        copy_in(ptr_pdo_shmem->shm_buf_in, place, num_byte, bytes);
    else
        copy_out(ptr_pdo_shmem->shm_buf_out, place, num_byte, bytes);
    return released(pdo, PDO_UNLOCK_FAILED) ? 0 : -1;
}

// One field of the slave-info memory for the slave at address.
int slave_info_field(int address_slave, const int32_t (Shared_Slave_Info_Mem_Region::*field)[ecm_shm::MAX_SLAVES])
{
    const int count = m_slave_in_xml_number;
    if (address_slave < ecm_shm::FIRST_SLAVE_NUMBER || address_slave > ecm_shm::FIRST_SLAVE_NUMBER - 1 + count)
        return -1;
    if (test_system_connect_and_xml_valid() != 0 || ptr_info_shmem == nullptr)
        return -1;
    Nothrow_Lock info(info_mutex());
    if (!taken(info, INFO_LOCK_FAILED))
        return -1;
    int value = -1;
    for (int j = 0; j < count; ++j) {
        if (ptr_info_shmem->configaddress[j] == address_slave) {
            value = (ptr_info_shmem->*field)[j];
            break;
        }
    }
    return released(info, INFO_UNLOCK_FAILED) ? value : -1;
}

// ---- tick ---------------------------------------------------------------------------
int load_and_check_master_tick_count()
{
    Nothrow_Lock tick(client_mutex(&ptr_tick_shmem->shm_mutex, "ptr_tick_shmem->shm_mutex"));
    if (!taken(tick, "Error on SHM_TICK_MUTEX_LOCK"))
        return -1;
    tick_tmp = ptr_tick_shmem->tick_count;
    if (tick_tmp != -1)
        ptr_tick_shmem->tick_count = 0;
    else
        is_master_in_operational_state = 0;
    const int count = tick_tmp;
    if (!released(tick, "Error on SHM_TICK_MUTEX_UNLOCK"))
        return -1;
    ptr_tick_shmem->client_started_cyclic_op = 1;
    return count;
}

void clear_cancellation()
{
    uint64_t count = 0;
    if (cancel_event_fd != -1)
        while (read(cancel_event_fd, &count, sizeof(count)) > 0) {
        }
    requests_cancelled.store(false, std::memory_order_release);
}

void sleep_not_operational()
{
    const timespec pause{0, 10000000};
    nanosleep(&pause, nullptr);
}

}  // namespace

// ==== connection =================================================================

int preliminary_hook(int /*system_port*/)
{
    pthread_once(&m_mutex_lib_once, init_library_mutex);
    if (m_mutex_lib_init_result != 0)
        return -1;
    clear_cancellation();
    if (test_system_connect() == 0) {
        say_line("\n!!! Error System Already Connected !!!");
        return -1;
    }
    {
        Nothrow_Lock lock(library_mutex());
        if (!taken(lock, LIB_LOCK_FAILED))
            return -1;
        if (connect_pdo_shm_mem() != 0 || connect_info_shm_mem() != 0 || connect_tick_shm_mem() != 0 ||
            connect_ecm_socket(&sock_master, &addr_master, p::CLIENT_ADDRESS, p::PORT) != 0)
            return release(lock, -1);
        is_master_connect = 0;
        is_system_connect = 1;
        if (!released(lock, LIB_UNLOCK_FAILED))
            return -1;
    }
    if (test_system_connect() != 0)
        return -1;
    long version = 0;
    {
        Nothrow_Lock lock(library_mutex());
        if (!taken(lock, LIB_LOCK_FAILED))
            return -1;
        if (os_socket_set_timeout(NORMAL_TIMEOUT_NS) != 0)
            return release(lock, -1);
        Request_Text request(p::GET_SYSTEM_VERSION);
        if (exchange(request) != 0 || reply_is(p::REPLY_ERROR))
            return release(lock, -1);
        version = std::strtol(recv_string, nullptr, 10);
        if (!released(lock, LIB_UNLOCK_FAILED))
            return -1;
    }
    if (version != p::SYSTEM_VERSION) {
        say("ECM_SYSTEM_VERSION: %d\n", p::SYSTEM_VERSION);
        say("ret_value: %ld\n", version);
        say("PROJECT_VERSION_MINOR: %d\n", p::SYSTEM_VERSION);
        say_line("\n!!! Error User Lib and Ecm System version are not equal !!!");
        return -1;
    }
    return p::SYSTEM_VERSION;
}

int open_connection_with_master(const char* xml_twincat_file)
{
    if (test_system_connect() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (xml_twincat_file == nullptr || std::strlen(xml_twincat_file) > MAX_PATH_CHARACTERS) {
        say("\n!!! Error: Max filename length exceded ... ");
        return release(lock, -1);
    }
    // A master started again since the hook has new memories: those are the
    // ones the new bus is published in.
    if (remap_replaced_memories() != 0)
        return release(lock, -1);
    Request_Text request(p::START_ETHERCAT_MASTER);
    request.arg(xml_twincat_file);
    if (exchange_without_timeout(request) != 0)
        return release(lock, -1);
    if (reply_is(REPLY_STARTED)) {
        is_xml_valid = 1;
        is_master_connect = 1;
        copy_slave_counts();
        return release(lock, 0);
    }
    if (reply_is(REPLY_ONLY_VALID_XML)) {
        is_xml_valid = 1;
        copy_slave_counts();
        return release(lock, -1);
    }
    say_line("\n!!! Error: response not verified !!!");
    clear_slave_counts();
    return release(lock, -1);
}

int join_running_master()
{
    if (test_system_connect() != 0)
        return -1;
    long state = 0;
    if (request_value(Request_Text(p::GET_MASTER_ETHERCAT_STATE), &state) != 0 ||
        (state != SAFEOP_STATE && state != OP_STATE))
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (remap_replaced_memories() != 0)
        return release(lock, -1);
    is_xml_valid = 1;
    is_master_connect = 1;
    copy_slave_counts();
    return release(lock, 0);
}

int reopen_connection()
{
    if (test_system_connect_and_xml_valid() != 0) {
        clear_slave_counts();
        return -1;
    }
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    Request_Text request(p::RESTART_MASTER_COMUNICATION_WITH_SLAVE);
    if (exchange_without_timeout(request) != 0)
        return release(lock, -1);
    if (reply_is(REPLY_RESTART_OK)) {
        is_xml_valid = 1;
        is_master_connect = 1;
        copy_slave_counts();
        return release(lock, 0);
    }
    if (reply_is(REPLY_ONLY_VALID_XML)) {
        is_master_connect = 0;
        is_xml_valid = 1;
        copy_slave_counts();
        return release(lock, -1);
    }
    is_xml_valid = 0;
    is_master_connect = 0;
    clear_slave_counts();
    say_line("\n!!! Error: response not verified !!!");
    return release(lock, -1);
}

int close_connection_with_master()
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    Request_Text request(p::STOP_ETHERCAT_MASTER);
    if (exchange(request) != 0 || !reply_is(REPLY_STOPPED))
        return release(lock, -1);
    is_xml_valid = 0;
    is_master_connect = 0;
    return release(lock, 0);
}

// The library lock stays initialised for the life of the process: another
// thread may still be inside a call, and a later preliminary_hook uses it.
void cancel_master_requests()
{
    requests_cancelled.store(true, std::memory_order_release);
    const uint64_t one = 1;
    if (cancel_event_fd != -1)
        (void)!write(cancel_event_fd, &one, sizeof(one));
}

int last_unhook()
{
    if (test_system_connect() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    const timespec pause{1, 0};
    nanosleep(&pause, nullptr);
    is_system_connect = 0;
    if (!released(lock, LIB_UNLOCK_FAILED))
        return -1;
    say("\tuser_interface mutex destroy ... ");
    return 0;
}

// ==== requests =======================================================================

int check_address_slave_type(int address_slave, int slave_type)
{
    int count = 0;
    if (slave_type == 0) {
        count = m_slave_in_xml_number;
    } else if (slave_type == 1) {
        count = m_slave_active_number;
        if (count > m_slave_in_xml_number) {
            say_line("EtherCAT User Interface ERROR: m_slave_active_number > m_slave_in_xml_number");
            count = 0;
        }
    } else {
        say("slave_type %d \n### check_address_slave_type error slave_type not valid\n", slave_type);
        return -1;
    }
    return address_slave >= ecm_shm::FIRST_SLAVE_NUMBER && address_slave <= ecm_shm::FIRST_SLAVE_NUMBER - 1 + count
               ? 0
               : -1;
}

int check_address_slave(int address_slave)
{
    return check_address_slave_type(address_slave, 0);
}

int check_slaves_link()
{
    if (test_system_connect_and_xml_valid() != 0)
        return -1;
    return request_not_error(Request_Text(p::CHECK_SLAVES_LINK));
}

int get_last_system_error(ECM_Error_Struct* error_struct)
{
    if (test_system_connect() != 0)
        return -1;
    long values[3];
    if (request_list(Request_Text(p::GET_LAST_SYSTEM_ERROR), 4, values) != 0)
        return -1;
    error_struct->error_type = static_cast<Ec_Master_Error_Type>(values[0]);
    error_struct->error_code = static_cast<EC_Master_Error_Code>(values[1]);
    error_struct->possible_slave_in_error = static_cast<int32_t>(values[2]);
    return 0;
}

int get_frame_resend_info(int* num_frame_resend, int* max_consecutive_resend)
{
    if (test_system_connect() != 0)
        return -1;
    long values[2];
    if (request_list(Request_Text(p::GET_FRAME_RESEND_INFO), 3, values) != 0)
        return -1;
    *num_frame_resend = static_cast<int>(values[0]);
    *max_consecutive_resend = static_cast<int>(values[1]);
    return 0;
}

int get_slave_state_info(int address_slave, int* request_state, int* actual_state, int* error_code)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect() != 0)
        return -1;
    long values[3];
    if (request_list(Request_Text(p::GET_SLAVE_STATE_INFO).arg(address_slave), 4, values) != 0)
        return -1;
    *request_state = static_cast<int>(values[0]);
    *actual_state = static_cast<int>(values[1]);
    *error_code = static_cast<int>(values[2]);
    return 0;
}

int get_slave_frame_errors_counters(int address_slave, int* port_in_rx_error, int* port_out_rx_error,
                                    int* port_in_fw_error, int* port_out_fw_error)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect() != 0)
        return -1;
    long values[4];
    if (request_list(Request_Text(p::GET_SLAVE_ERRORS_COUNTERS).arg(address_slave), 5, values) != 0)
        return -1;
    *port_in_rx_error = static_cast<int>(values[0]);
    *port_out_rx_error = static_cast<int>(values[1]);
    *port_in_fw_error = static_cast<int>(values[2]);
    *port_out_fw_error = static_cast<int>(values[3]);
    return 0;
}

Ec_System_State get_system_state()
{
    if (test_system_connect() != 0)
        return SYSTEM_SETUP_FAILED;
    long value = 0;
    if (request_value(Request_Text(p::GET_SYSTEM_STATE), &value) != 0)
        return SYSTEM_SETUP_FAILED;
    return static_cast<Ec_System_State>(value);
}

namespace {
// A timing list of n values into the n - 1 outputs.
int timing_list(const char* word, int n, int* const* outputs)
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    long values[5];
    if (request_list(Request_Text(word), n, values) != 0)
        return -1;
    for (int i = 0; i < n - 1; ++i)
        *outputs[i] = static_cast<int>(values[i]);
    return 0;
}
}  // namespace

int get_master_time_info(int* master_slot_cycle_time_ns, int* master_max_slot_cycle_time_ns,
                         int* master_max_resend_slot_cycle_time_ns, int* master_jitter_time_ns,
                         int* master_max_jitter_time_ns)
{
    int* const outputs[] = {master_slot_cycle_time_ns, master_max_slot_cycle_time_ns,
                            master_max_resend_slot_cycle_time_ns, master_jitter_time_ns, master_max_jitter_time_ns};
    return timing_list(p::GET_MASTER_TIME_INFO, 6, outputs);
}

int get_master_time_info_first_dc_frame(int* slave_ref_clock_ns, int* next_sync_time_ns, int* frame_send_time_ns,
                                        int* resto_ns)
{
    int* const outputs[] = {slave_ref_clock_ns, next_sync_time_ns, frame_send_time_ns, resto_ns};
    return timing_list(p::GET_MASTER_TIME_INFO_FIRST_FRAME, 5, outputs);
}

int get_master_slot_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns)
{
    int* const outputs[] = {actual_time_ns, min_time_ns, max_time_ns};
    return timing_list(p::GET_MASTER_TIME_SLOT_INFO, 4, outputs);
}

int get_master_jitter_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns)
{
    int* const outputs[] = {actual_time_ns, min_time_ns, max_time_ns};
    return timing_list(p::GET_MASTER_JITTER_INFO, 4, outputs);
}

int get_frame_gap_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns)
{
    int* const outputs[] = {actual_time_ns, min_time_ns, max_time_ns};
    return timing_list(p::GET_FRAME_GAP_TIME_INFO, 4, outputs);
}

namespace {
// The identity list of the two EEPROM requests; signed values stored bit for bit.
int identity_list(Request_Text request, uint32_t* vendor_id, uint32_t* product_code, uint32_t* serial_number,
                  uint16_t* config_alias)
{
    long values[4];
    if (request_list(request, 5, values) != 0)
        return -1;
    *vendor_id = static_cast<uint32_t>(values[0]);
    *product_code = static_cast<uint32_t>(values[1]);
    *serial_number = static_cast<uint32_t>(values[2]);
    *config_alias = static_cast<uint16_t>(values[3] & 0xFFFF);
    return 0;
}
}  // namespace

int get_slave_eeprom_information(int address_slave, uint32_t* vendor_id, uint32_t* product_code,
                                 uint32_t* serial_number, uint16_t* config_alias)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect_and_xml_valid() != 0)
        return -1;
    return identity_list(Request_Text(p::GET_SLAVE_EEPROM_INFO).arg(address_slave), vendor_id, product_code,
                         serial_number, config_alias);
}

int get_slave_information_incr_read(int incr_slave_position, uint32_t* vendor_id, uint32_t* product_code,
                                    uint32_t* serial_number, uint16_t* config_alias)
{
    if (test_system_connect_and_xml_valid() != 0)
        return -1;
    if (incr_slave_position < 1) {
        say_line("\n!!! Error: get_slave_information_incr_read -> incr_slave_position < 1 !!!");
        return -1;
    }
    return identity_list(Request_Text(p::AUTO_INCR_SLAVE_INFO).arg(incr_slave_position - 1), vendor_id, product_code,
                         serial_number, config_alias);
}

int get_slave_address(char* slave_name)
{
    if (test_system_connect_and_xml_valid() != 0 || slave_name == nullptr)
        return -1;
    long value = 0;
    if (request_value(Request_Text(p::GET_SLAVE_ADDRESS).arg(slave_name), &value) != 0)
        return -1;
    return static_cast<int>(value);
}

State_Enum get_master_state()
{
    if (test_system_connect_and_master_connect() != 0)
        return static_cast<State_Enum>(-1);
    long value = 0;
    if (request_value(Request_Text(p::GET_MASTER_ETHERCAT_STATE), &value) != 0)
        return static_cast<State_Enum>(-1);
    return static_cast<State_Enum>(value);
}

int get_slaves_number()
{
    if (test_system_connect() != 0)
        return -1;
    long value = 0;
    if (request_value(Request_Text(p::GET_SLAVES_NUMBER), &value) != 0)
        return -1;
    return static_cast<int>(value);
}

int go_into_new_state(State_Enum desired_state)
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    Request_Text request(p::GO_INTO_NEXT_STATE);
    request.arg(static_cast<long>(desired_state));
    if (exchange_without_timeout(request) != 0 || !reply_is(p::REPLY_OK))
        return release(lock, -1);
    is_master_in_operational_state = desired_state == OP_STATE ? 1 : 0;
    return release(lock, 0);
}

int reset_all_timer_info()
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    return request_not_error(Request_Text(p::REQUEST_TIMER_INFO_RESET));
}

int set_operational_cycle_time_ns(int ns_time_cycle)
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    return request_ok(Request_Text(p::SET_OP_CYCLE_TIME).arg(ns_time_cycle));
}

int set_watchdog_on(int num_cycle)
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    return request_ok(Request_Text(p::SET_WATCHDOG_ON).arg(num_cycle));
}

int set_watchdog_off()
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    return request_ok(Request_Text(p::SET_WATCHDOG_OFF));
}

int write_config_alias_into_slave(int address_slave, uint16_t config_alias)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect_and_master_connect() != 0)
        return -1;
    return request_ok(Request_Text(p::WRITE_INTO_EEPROM_CONFIG_ALIAS).arg(address_slave).arg(long{config_alias}));
}

namespace {
// Index, subindex and bit length of each of count entries, three requests each.
int entry_descriptions(int address_slave, int count, Info_Pdo_Struct* entries, const char* index_word,
                       const char* subindex_word, const char* bitlength_word)
{
    if (check_address_slave_type(address_slave, 0) != 0 || test_system_connect_and_xml_valid() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    if (count < 1)
        return release(lock, 0);
    if (entries == nullptr)
        return release(lock, -1);
    for (int i = 0; i < count; ++i) {
        const char* const words[] = {index_word, subindex_word, bitlength_word};
        long values[3];
        for (int k = 0; k < 3; ++k) {
            Request_Text request(words[k]);
            request.arg(address_slave).arg(i);
            if (exchange(request) != 0 || reply_is(p::REPLY_ERROR) || !reply_value(&values[k]))
                return release(lock, -1);
        }
        entries[i].index = static_cast<uint32_t>(values[0]);
        entries[i].subindex = static_cast<uint32_t>(values[1]);
        entries[i].bitlength = static_cast<int>(values[2]);
    }
    return release(lock, 0);
}

// The byte list of an SDO write or queue push; false when it is no byte list.
bool append_bytes(Request_Text& request, int count, const uint8_t* bytes)
{
    if (count < 0 || (count > 0 && bytes == nullptr))
        return false;
    for (int i = 0; i < count; ++i)
        request.arg(long{bytes[i]});
    return true;
}
}  // namespace

int get_slave_inputs_address(int address_slave, int num_input, Info_Pdo_Struct* input_struct)
{
    return entry_descriptions(address_slave, num_input, input_struct, p::GET_SLAVE_INPUT_INDEX,
                              p::GET_SLAVE_INPUT_SUBINDEX, p::GET_SLAVE_INPUT_BITLENGTH);
}

int get_slave_outputs_address(int address_slave, int num_output, Info_Pdo_Struct* output_struct)
{
    return entry_descriptions(address_slave, num_output, output_struct, p::GET_SLAVE_OUTPUT_INDEX,
                              p::GET_SLAVE_OUTPUT_SUBINDEX, p::GET_SLAVE_OUTPUT_BITLENGTH);
}

int get_data_via_sdo_from_slave(uint16_t address_slave, int index_el, int sub_index_el, int dim_data_el,
                                uint8_t* data_el)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect_and_master_connect() != 0)
        return -1;
    if (dim_data_el < 0 || (dim_data_el > 0 && data_el == nullptr))
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    Request_Text request(p::GET_DATA_VIA_SDO);
    request.arg(long{address_slave}).arg(index_el).arg(sub_index_el).arg(dim_data_el);
    if (exchange(request) != 0 || reply_is(p::REPLY_ERROR))
        return release(lock, -1);
    long values[p::DATAGRAM_BYTES / 2];
    const int count = reply_values(values, p::DATAGRAM_BYTES / 2);
    if (count != dim_data_el)
        return release(lock, -1);
    for (int i = 0; i < count; ++i)
        data_el[i] = static_cast<uint8_t>(values[i]);
    return release(lock, 0);
}

int set_data_via_sdo_to_slave(uint16_t address_slave, int index_el, int sub_index_el, int dim_data_el, uint8_t* data_el)
{
    if (check_address_slave_type(address_slave, 1) != 0 || test_system_connect_and_master_connect() != 0)
        return -1;
    Request_Text request(p::SET_DATA_VIA_SDO);
    request.arg(long{address_slave}).arg(index_el).arg(sub_index_el).arg(dim_data_el);
    if (!append_bytes(request, dim_data_el, data_el))
        return -1;
    return request_not_error(request);
}

int push_sdo_into_queue(uint16_t address_slave, int index_el, int sub_index_el, uint8_t sdo_code, int dim_data_el,
                        uint8_t* data_el)
{
    if (check_address_slave_type(address_slave, 1) != 0 || dim_data_el < 0 ||
        test_system_connect_and_master_connect() != 0)
        return -1;
    Request_Text request(p::PUSH_SDO_INTO_QUEUE);
    request.arg(long{address_slave}).arg(index_el).arg(sub_index_el).arg(long{sdo_code}).arg(dim_data_el);
    if (!append_bytes(request, dim_data_el, data_el))
        return -1;
    return request_not_error(request);
}

int pop_sdo_from_queue(uint16_t* address_slave, int* index_el, int* sub_index_el, uint8_t* sdo_code, int* dim_data_el,
                       uint8_t* data_el)
{
    if (test_system_connect_and_master_connect() != 0)
        return -1;
    Nothrow_Lock lock(library_mutex());
    if (!taken(lock, LIB_LOCK_FAILED))
        return -1;
    Request_Text request(p::POP_SDO_FROM_QUEUE);
    if (exchange(request) != 0 || reply_is(p::REPLY_ERROR))
        return release(lock, -1);
    long values[p::DATAGRAM_BYTES / 2];
    const int count = reply_values(values, p::DATAGRAM_BYTES / 2);
    if (count < 1 || values[0] < 0)
        return release(lock, -1);
    if (values[0] == 0)
        return release(lock, 0);
    // waiting, address, index, subindex, code, dim, then dim bytes
    const long dim = count >= 6 ? values[5] : -1;
    if (dim < 0 || dim > ECM_SDO_REPLY_MAX_BYTES || count != 6 + dim)
        return release(lock, -1);
    *address_slave = static_cast<uint16_t>(values[1]);
    *index_el = static_cast<int>(values[2]);
    *sub_index_el = static_cast<int>(values[3]);
    *sdo_code = static_cast<uint8_t>(values[4]);
    *dim_data_el = static_cast<int>(dim);
    for (long i = 0; i < dim; ++i)
        data_el[i] = static_cast<uint8_t>(values[6 + i]);
    return release(lock, static_cast<int>(values[0]));
}

int get_operational_cycle_time_ns()
{
    say_line("\nATTENZIONE get_operational_cycle_time() da implementare ###");
    return -1;
}

// ==== memories, process data and tick ====================================================

int connect_pdo_shm_mem()
{
    return connect_shm(ecm_shm::PDO_NAME, &fd_pdo_shmem, &status_pdo_shmem, &ptr_pdo_shmem);
}

int connect_info_shm_mem()
{
    return connect_shm(ecm_shm::INFO_NAME, &fd_info_shmem, &status_info_shmem, &ptr_info_shmem);
}

int connect_tick_shm_mem()
{
    return connect_shm(ecm_shm::TICK_NAME, &fd_tick_shmem, &status_tick_shmem, &ptr_tick_shmem);
}

int disconnect_pdo_shm_mem()
{
    return disconnect_fd(&fd_pdo_shmem);
}

int disconnect_info_shm_mem()
{
    return disconnect_fd(&fd_info_shmem);
}

int disconnect_tick_shm_mem()
{
    return disconnect_fd(&fd_tick_shmem);
}

int get_slave_input_byte_dim(int address_slave)
{
    return slave_info_field(address_slave, &Shared_Slave_Info_Mem_Region::in_bytes);
}

int get_slave_input_num(int address_slave)
{
    return slave_info_field(address_slave, &Shared_Slave_Info_Mem_Region::num_input);
}

int get_slave_output_byte_dim(int address_slave)
{
    return slave_info_field(address_slave, &Shared_Slave_Info_Mem_Region::out_bytes);
}

int get_slave_output_num(int address_slave)
{
    return slave_info_field(address_slave, &Shared_Slave_Info_Mem_Region::num_output);
}

int get_slave_inputs_values(int address_slave, int num_byte, uint8_t* inputs)
{
    return process_data_copy(address_slave, num_byte, inputs, Direction::INPUT, true);
}

int set_slave_outputs_values(int address_slave, int num_byte, uint8_t* outputs)
{
    return process_data_copy(address_slave, num_byte, outputs, Direction::OUTPUT, true);
}

int get_slave_inputs_values_warning_use(int address_slave, int num_byte, uint8_t* inputs)
{
    return process_data_copy(address_slave, num_byte, inputs, Direction::INPUT, false);
}

int set_slave_outputs_value_warning_use(int address_slave, int num_byte, uint8_t* outputs)
{
    return process_data_copy(address_slave, num_byte, outputs, Direction::OUTPUT, false);
}

int lock_ecm_master_mutex_warning_use()
{
    if (ptr_info_shmem == nullptr || ptr_pdo_shmem == nullptr)
        return -1;
    if (info_mutex().lock_code() != 0) {
        say_line(INFO_LOCK_FAILED);
        return -1;
    }
    if (pdo_mutex().lock_code() != 0) {
        say_line(PDO_LOCK_FAILED);
        (void)info_mutex().unlock_code();
        return -1;
    }
    return 0;
}

int unlock_ecm_master_mutex_warning_use()
{
    if (ptr_info_shmem == nullptr || ptr_pdo_shmem == nullptr)
        return -1;
    int result = 0;
    if (pdo_mutex().unlock_code() != 0) {
        say_line(PDO_UNLOCK_FAILED);
        result = -1;
    }
    if (info_mutex().unlock_code() != 0) {
        say_line(INFO_UNLOCK_FAILED);
        result = -1;
    }
    return result;
}

int wait_master_tick()
{
    if (is_master_in_operational_state == 0 || ptr_tick_shmem == nullptr) {
        sleep_not_operational();
        return -1;
    }
    while (sem_wait(&ptr_tick_shmem->shm_sem_tick_ready) != 0 && errno == EINTR) {
    }
    return load_and_check_master_tick_count();
}

int wait_master_tick_and_alerts(Master_Alerts* master_alerts)
{
    const int result = wait_master_tick();
    tick_tmp = result;
    if (ptr_tick_shmem != nullptr && master_alerts != nullptr)
        *master_alerts = ptr_tick_shmem->previus_tick_alert;
    return result;
}

int wait_master_tick_with_timeout(unsigned int timeout_ms)
{
    if (is_master_in_operational_state == 0 || ptr_tick_shmem == nullptr) {
        sleep_not_operational();
        return -1;
    }
    timespec deadline{};
    if (clock_gettime(CLOCK_REALTIME, &deadline) != 0) {
        say("Failed to clock_gettime :: %d\n", errno);
        return -1;
    }
    const int64_t ns = static_cast<int64_t>(deadline.tv_nsec) + int64_t{1000000} * timeout_ms;
    deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000);
    int rc;
    while ((rc = sem_timedwait(&ptr_tick_shmem->shm_sem_tick_ready, &deadline)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        if (errno == ETIMEDOUT) {
            say("sem_timedwait :: timout elapsed ");
            return -2;
        }
        say("Failed to wait sem errno :: %d\n", errno);
        return -1;
    }
    return load_and_check_master_tick_count();
}
