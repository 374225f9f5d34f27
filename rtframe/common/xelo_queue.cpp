#include "xelo_queue.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "xelo_macros_ms.h"

Posix_Queue_Msg::Posix_Queue_Msg() : ts{0, 0}, application_id(-1), sem_data_group_id(-1) {}

Posix_Queue_Msg::Posix_Queue_Msg(Message_Type type, int app_id, int group_id, bool /*unused*/)
    : message_type(type), ts{0, 0}, application_id(app_id), sem_data_group_id(group_id)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    ts = to_shared_timespec(now);
}

std::ostream& operator<<(std::ostream& os, Message_Type type)
{
    static const char letters[] = {'w', 'p', 'W', 'P'};
    if (type < CYCLIC_SEMAPHORE_WAIT || type > SEM_DATA_SEMAPHORE_POST)
        throw std::runtime_error("message type not recognized!");
    return os << letters[type];
}

std::ostream& operator<<(std::ostream& os, const Posix_Queue_Msg& msg)
{
    const timespec ts = from_shared_timespec(msg.ts);
    os << get_timestamp_from_timespec_no_context_switch(&ts);
    if (msg.application_id == QUEUE_SERVER_APPLICATION_ID)
        os << " X";
    else
        os << ' ' << msg.application_id;
    os << ' ' << msg.message_type;
    if (msg.message_type != CYCLIC_SEMAPHORE_WAIT)
        os << ' ' << msg.sem_data_group_id;
    return os;
}

timespec queue_deadline_from(const timespec& now, float timeout_ms)
{
    const uint64_t total =
        static_cast<uint64_t>(static_cast<double>(timeout_ms) * 1000000.0) + static_cast<uint64_t>(now.tv_nsec);
    const uint64_t whole = total / 1000000000ULL;
    timespec deadline{};
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(whole);
    deadline.tv_nsec = static_cast<long>(total - whole * 1000000000ULL);
    return deadline;
}

timespec queue_deadline_after_ms(float timeout_ms, const char* who)
{
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        throw std::runtime_error(std::string("[") + who + "] clock_gettime error");
    return queue_deadline_from(now, timeout_ms);
}

// ---- manager ----------------------------------------------------------------

uint32_t Posix_Queue_Message_Manager::get_queue_current_msg_number_ex()
{
    if (mq_getattr(m_queue, &m_queue_attribute) != 0)
        throw std::runtime_error("cannot read quque attribute, name :: " + m_queue_name + " --> " +
                                 std::strerror(errno));
    return static_cast<uint32_t>(m_queue_attribute.mq_curmsgs);
}

void Posix_Queue_Message_Manager::check_timeout_allowed(float timeout_ms) const
{
    if (timeout_ms != 0.0f && !m_is_blocking)
        throw std::runtime_error("queue " + m_queue_name + " is non_blocking!, timeout_ms must be default one!");
}

void Posix_Queue_Message_Manager::close_descriptor()
{
    if (m_queue == static_cast<mqd_t>(-1))
        return;
    mq_close(m_queue);
    m_queue = static_cast<mqd_t>(-1);
}

// ---- writer -----------------------------------------------------------------

Posix_Queue_Message_Writer::~Posix_Queue_Message_Writer()
{
    close();
}

void Posix_Queue_Message_Writer::open_ex(bool is_blocking)
{
    m_is_blocking = is_blocking;
    const int flags = O_WRONLY | O_CLOEXEC | (is_blocking ? 0 : O_NONBLOCK);
    const mqd_t queue = mq_open(m_queue_name.c_str(), flags);
    if (queue == static_cast<mqd_t>(-1))
        throw std::runtime_error("cannot open writer queue, name :: " + m_queue_name + " --> " + std::strerror(errno));
    if (mq_getattr(queue, &m_queue_attribute) != 0) {
        const int err = errno;
        mq_close(queue);
        throw std::runtime_error("cannot read queue attribute, name :: " + m_queue_name + " --> " + std::strerror(err));
    }
    close_descriptor();
    m_queue = queue;
}

bool Posix_Queue_Message_Writer::send_queue_msg_ex(Message_Type type, int application_id, int sem_data_group_id,
                                                   float timeout_ms)
{
    check_timeout_allowed(timeout_ms);
    const Posix_Queue_Msg msg(type, application_id, sem_data_group_id, false);
    const char* bytes = reinterpret_cast<const char*>(&msg);
    int rc;
    if (timeout_ms == 0.0f) {
        rc = mq_send(m_queue, bytes, sizeof(msg), 0);
    } else {
        const timespec deadline = queue_deadline_after_ms(timeout_ms, "send_queue_msg_ex");
        rc = mq_timedsend(m_queue, bytes, sizeof(msg), 0, &deadline);
    }
    if (rc == 0)
        return true;
    if (errno == EAGAIN || errno == ETIMEDOUT)
        return false;
    throw std::runtime_error("cannot send message on queue, name :: " + m_queue_name + " --> " + std::strerror(errno));
}

bool Posix_Queue_Message_Writer::send_queue_cyclic_wait_ex(int application_id, float timeout_ms)
{
    return send_queue_msg_ex(CYCLIC_SEMAPHORE_WAIT, application_id, -1, timeout_ms);
}

bool Posix_Queue_Message_Writer::send_queue_cyclic_post_ex(int semaphore_index, float timeout_ms)
{
    return send_queue_msg_ex(CYCLIC_SEMAPHORE_POST, QUEUE_SERVER_APPLICATION_ID, semaphore_index, timeout_ms);
}

bool Posix_Queue_Message_Writer::send_queue_sem_wait_ex(int application_id, int sem_data_group_id, float timeout_ms)
{
    return send_queue_msg_ex(SEM_DATA_SEMAPHORE_WAIT, application_id, sem_data_group_id, timeout_ms);
}

bool Posix_Queue_Message_Writer::send_queue_sem_post_ex(int application_id, int sem_data_group_id, float timeout_ms)
{
    return send_queue_msg_ex(SEM_DATA_SEMAPHORE_POST, application_id, sem_data_group_id, timeout_ms);
}

void Posix_Queue_Message_Writer::close()
{
    close_descriptor();
}

// ---- reader -----------------------------------------------------------------

namespace {
long system_queue_msg_max()
{
    std::ifstream file("/proc/sys/fs/mqueue/msg_max");
    long value = -1;
    file >> value;
    return value;
}

std::string queue_limit_hint(int err, int max_message_number)
{
    if (err == EMFILE)
        return " (the queue memory of this user is exhausted: RLIMIT_MSGQUEUE, 'ulimit -q', counts every queue the"
               " user holds)";
    if (err != EINVAL && err != ENOMEM)
        return "";
    const long msg_max = system_queue_msg_max();
    if (msg_max < 0 || max_message_number <= msg_max)
        return "";
    return " (the system admits at most " + std::to_string(msg_max) + " messages per queue, fs.mqueue.msg_max, and " +
           std::to_string(max_message_number) +
           " were asked for: raise it as root with 'sysctl -w fs.mqueue.msg_max=" + std::to_string(max_message_number) +
           "')";
}
}  // namespace

Posix_Queue_Message_Reader::~Posix_Queue_Message_Reader()
{
    close();
}

void Posix_Queue_Message_Reader::open_ex(bool is_blocking, int max_message_size, int max_message_number)
{
    mq_unlink(m_queue_name.c_str());
    mq_attr attribute{};
    attribute.mq_flags = 0;
    attribute.mq_maxmsg = max_message_number;
    attribute.mq_msgsize = max_message_size;
    attribute.mq_curmsgs = 0;
    m_is_blocking = is_blocking;
    const int flags = O_RDONLY | O_CREAT | O_CLOEXEC | (is_blocking ? 0 : O_NONBLOCK);
    const mqd_t queue = mq_open(m_queue_name.c_str(), flags, 0666, &attribute);
    if (queue == static_cast<mqd_t>(-1)) {
        const int err = errno;
        throw std::runtime_error("cannot open reader queue, name :: " + m_queue_name + " --> " + std::strerror(err) +
                                 queue_limit_hint(err, max_message_number));
    }
    close_descriptor();
    m_queue = queue;
    m_queue_attribute = attribute;
    m_receive_buffer.assign(static_cast<std::size_t>(max_message_size > 0 ? max_message_size : 0), 0);
}

bool Posix_Queue_Message_Reader::recv_queue_msg_ex(Posix_Queue_Msg* msg, float timeout_ms)
{
    check_timeout_allowed(timeout_ms);
    ssize_t received;
    if (timeout_ms == 0.0f) {
        received = mq_receive(m_queue, m_receive_buffer.data(), m_receive_buffer.size(), nullptr);
    } else {
        const timespec deadline = queue_deadline_after_ms(timeout_ms, "recv_queue_msg_ex");
        received = mq_timedreceive(m_queue, m_receive_buffer.data(), m_receive_buffer.size(), nullptr, &deadline);
    }
    if (received < 0) {
        if (errno == EAGAIN || errno == ETIMEDOUT)
            return false;
        throw std::runtime_error("cannot read queue, name :: " + m_queue_name + " --> " + std::strerror(errno));
    }
    if (received != static_cast<ssize_t>(sizeof(Posix_Queue_Msg)))
        throw std::runtime_error("reader queue size mismatch, name :: " + m_queue_name + ", recived size :: " +
                                 std::to_string(received) + ", expected :: " + std::to_string(sizeof(Posix_Queue_Msg)));
    std::memcpy(msg, m_receive_buffer.data(), sizeof(Posix_Queue_Msg));
    return true;
}

void Posix_Queue_Message_Reader::close()
{
    if (!is_open())
        return;
    close_descriptor();
    mq_unlink(m_queue_name.c_str());
}

void Posix_Queue_Message_Reader::open_linux_ex(bool, int, int)
{
    if (m_linux_queue >= 0)
        return;
    throw std::runtime_error("cannot open reader linux queue, name :: " + m_linux_queue_name + " --> " +
                             std::strerror(errno));
}
