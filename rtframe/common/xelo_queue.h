#pragma once

#include <mqueue.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "framework_shared_memory.h"

// The logging queue: clients and the server report semaphore traffic to the
// server's logger as fixed 20-byte records on "/linux_framework_queue".

enum Message_Type : int32_t {
    CYCLIC_SEMAPHORE_WAIT = 0,
    CYCLIC_SEMAPHORE_POST = 1,
    SEM_DATA_SEMAPHORE_WAIT = 2,
    SEM_DATA_SEMAPHORE_POST = 3,
};

constexpr int32_t QUEUE_SERVER_APPLICATION_ID = -2;
constexpr const char* FRAMEWORK_QUEUE_NAME = framework_names::QUEUE;

struct Posix_Queue_Msg {
    Message_Type message_type;
    Shared_Timespec ts;
    int32_t application_id;
    int32_t sem_data_group_id;

    // A record to be filled by a reader.
    Posix_Queue_Msg();
    // A message stamped with CLOCK_REALTIME now; the bool is not used.
    Posix_Queue_Msg(Message_Type type, int application_id, int sem_data_group_id, bool unused);
};
static_assert(sizeof(Posix_Queue_Msg) == 20, "queue record is 20 bytes");
static_assert(offsetof(Posix_Queue_Msg, ts) == 4, "queue record layout");
static_assert(offsetof(Posix_Queue_Msg, application_id) == 12, "queue record layout");
static_assert(offsetof(Posix_Queue_Msg, sem_data_group_id) == 16, "queue record layout");

std::ostream& operator<<(std::ostream& os, Message_Type type);
std::ostream& operator<<(std::ostream& os, const Posix_Queue_Msg& msg);

// Absolute deadline timeout_ms after now (fractions of a millisecond count).
timespec queue_deadline_from(const timespec& now, float timeout_ms);
// The same from CLOCK_REALTIME; who names the caller in the clock error text.
timespec queue_deadline_after_ms(float timeout_ms, const char* who);

class Posix_Queue_Message_Manager {
public:
    Posix_Queue_Message_Manager(const Posix_Queue_Message_Manager&) = delete;
    Posix_Queue_Message_Manager& operator=(const Posix_Queue_Message_Manager&) = delete;

    virtual void close() = 0;

    uint32_t get_queue_max_msg_number_ex() const { return static_cast<uint32_t>(m_queue_attribute.mq_maxmsg); }
    uint32_t get_queue_max_msg_size_ex() const { return static_cast<uint32_t>(m_queue_attribute.mq_msgsize); }
    uint32_t get_queue_current_msg_number_ex();

    uint32_t get_linux_queue_max_msg_number_ex() const
    {
        return static_cast<uint32_t>(m_linux_queue_attribute.mq_maxmsg);
    }
    uint32_t get_linux_queue_max_msg_size_ex() const
    {
        return static_cast<uint32_t>(m_linux_queue_attribute.mq_msgsize);
    }
    uint32_t get_linux_queue_current_msg_number_ex() const
    {
        return static_cast<uint32_t>(m_linux_queue_attribute.mq_curmsgs);
    }

    bool is_open() const { return m_queue != static_cast<mqd_t>(-1); }

protected:
    Posix_Queue_Message_Manager() = default;
    ~Posix_Queue_Message_Manager() = default;

    // Throws "queue <name> is non_blocking!..." for a time-out on a non-blocking queue.
    void check_timeout_allowed(float timeout_ms) const;
    // Closes the descriptor once and marks it closed.
    void close_descriptor();

    bool m_is_blocking = false;
    mqd_t m_queue = static_cast<mqd_t>(-1);
    std::string m_queue_name = FRAMEWORK_QUEUE_NAME;
    mq_attr m_queue_attribute{};

    bool m_linux_is_blocking = false;
    mqd_t m_linux_queue = static_cast<mqd_t>(-1);
    std::string m_linux_queue_name = "NotAvailable";
    mq_attr m_linux_queue_attribute{};
};

class Posix_Queue_Message_Writer : public Posix_Queue_Message_Manager {
public:
    Posix_Queue_Message_Writer() = default;
    ~Posix_Queue_Message_Writer();

    void open_ex(bool is_blocking);
    // true when queued, false when dropped (queue full past the time-out, or
    // full on a non-blocking writer). timeout_ms 0 means no deadline.
    bool send_queue_msg_ex(Message_Type type, int application_id, int sem_data_group_id, float timeout_ms);
    bool send_queue_cyclic_wait_ex(int application_id, float timeout_ms);
    bool send_queue_cyclic_post_ex(int semaphore_index, float timeout_ms);
    bool send_queue_sem_wait_ex(int application_id, int sem_data_group_id, float timeout_ms);
    bool send_queue_sem_post_ex(int application_id, int sem_data_group_id, float timeout_ms);

    // Closes the writer; the queue stays.
    void close() override;

    void open_linux_ex(bool /*is_blocking*/) {}
    bool send_linux_queue_msg_ex(Message_Type, int, int, float) { return false; }
    bool send_linux_queue_cyclic_wait_ex(int, float) { return false; }
    bool send_linux_queue_cyclic_post_ex(int, float) { return false; }
    bool send_linux_queue_sem_wait_ex(int, int, float) { return false; }
    bool send_linux_queue_sem_post_ex(int, int, float) { return false; }
};

class Posix_Queue_Message_Reader : public Posix_Queue_Message_Manager {
public:
    Posix_Queue_Message_Reader() = default;
    ~Posix_Queue_Message_Reader();

    // Removes any queue of that name and creates it afresh for reading.
    void open_ex(bool is_blocking, int max_message_size, int max_message_number);
    // true when one 20-byte message was received into msg, false when none came.
    bool recv_queue_msg_ex(Posix_Queue_Msg* msg, float timeout_ms);

    // Closes the reader and removes the queue name.
    void close() override;

    bool recv_linux_queue_msg_ex(Posix_Queue_Msg*, float) { return false; }
    void open_linux_ex(bool is_blocking, int max_message_size, int max_message_number);

private:
    std::vector<char> m_receive_buffer;
};
