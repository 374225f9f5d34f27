#pragma once

// Mailbox messages and the CoE server of a simulated slave: SDO upload and
// download (expedited, normal, segmented, complete access), aborts,
// emergencies and mailbox error replies.

#include <cstddef>
#include <cstdint>

#include "coe_dictionary.h"
#include "device.h"

namespace ecat_sim {

constexpr size_t MAX_MAILBOX = 1024;

// Messages waiting for the slave's read mailbox, oldest first.
class Mailbox_Queue {
public:
    static constexpr size_t CAPACITY = 8;
    // Room for one message of up to MAX_MAILBOX bytes; null when full.
    uint8_t* push_slot();
    void commit(size_t size);
    bool empty() const { return m_count == 0; }
    const uint8_t* front(size_t& size) const;
    void pop();
    void clear() { m_count = 0; }
    uint32_t dropped() const { return m_dropped; }

private:
    uint8_t m_data[CAPACITY][MAX_MAILBOX] = {};
    size_t m_size[CAPACITY] = {};
    size_t m_head = 0;
    size_t m_count = 0;
    uint32_t m_dropped = 0;
};

struct Sdo_Log_Entry {
    bool upload = false;
    uint16_t index = 0;
    uint8_t sub = 0;
    bool complete = false;
    uint32_t size = 0;
    uint32_t abort = 0;
};

class Coe_Server {
public:
    Coe_Server(Coe_Dictionary& dictionary, uint16_t read_mailbox_size);

    // One message from the write mailbox (header included); the replies go
    // to out.
    void handle(const uint8_t* message, size_t size, Mailbox_Queue& out);
    void emergency(const Emergency& emergency, Mailbox_Queue& out);

    // Scripted aborts: every access to index (and sub, or every sub when
    // sub < 0) is aborted with code until cleared.
    void abort_object(uint16_t index, int sub, uint32_t code);
    void clear_aborts() { m_abort_count = 0; }

    static constexpr size_t LOG_SIZE = 64;
    // Log entries, oldest first; at most LOG_SIZE are kept.
    size_t log_count() const { return m_log_total < LOG_SIZE ? m_log_total : LOG_SIZE; }
    const Sdo_Log_Entry& log_entry(size_t i) const;
    void reset_transfers();

private:
    uint8_t* begin_reply(Mailbox_Queue& out, uint8_t type);
    void finish_reply(Mailbox_Queue& out, uint8_t* reply, size_t length);
    void mailbox_error(Mailbox_Queue& out, uint16_t detail);
    void sdo_abort(Mailbox_Queue& out, uint16_t index, uint8_t sub, uint32_t code);
    uint32_t scripted_abort(uint16_t index, uint8_t sub) const;
    void log(bool upload, uint16_t index, uint8_t sub, bool complete, uint32_t size, uint32_t abort);

    void download_initiate(const uint8_t* m, size_t length, Mailbox_Queue& out);
    void download_segment(const uint8_t* m, size_t length, Mailbox_Queue& out);
    void upload_initiate(const uint8_t* m, Mailbox_Queue& out);
    void upload_segment(const uint8_t* m, Mailbox_Queue& out);
    void finish_download(Mailbox_Queue& out);

    Coe_Dictionary& m_dictionary;
    size_t m_room;  // bytes after the mailbox header in one reply
    uint8_t m_counter = 0;

    struct Transfer {
        bool active = false;
        bool upload = false;
        uint16_t index = 0;
        uint8_t sub = 0;
        bool complete = false;
        uint8_t toggle = 0;
        size_t size = 0;      // complete size
        size_t position = 0;  // bytes moved so far
        uint8_t data[4096] = {};
    } m_transfer;

    struct Scripted_Abort {
        uint16_t index = 0;
        int sub = -1;
        uint32_t code = 0;
    };
    static constexpr size_t MAX_ABORTS = 16;
    Scripted_Abort m_aborts[MAX_ABORTS];
    size_t m_abort_count = 0;

    Sdo_Log_Entry m_log[LOG_SIZE];
    size_t m_log_total = 0;
};

}  // namespace ecat_sim
