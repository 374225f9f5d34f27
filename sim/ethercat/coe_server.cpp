#include "coe_server.h"

#include <cstring>
#include <stdexcept>

namespace ecat_sim {

uint8_t* Mailbox_Queue::push_slot()
{
    if (m_count == CAPACITY) {
        ++m_dropped;
        return nullptr;
    }
    return m_data[(m_head + m_count) % CAPACITY];
}

void Mailbox_Queue::commit(size_t size)
{
    m_size[(m_head + m_count) % CAPACITY] = size;
    ++m_count;
}

const uint8_t* Mailbox_Queue::front(size_t& size) const
{
    if (m_count == 0) {
        size = 0;
        return nullptr;
    }
    size = m_size[m_head];
    return m_data[m_head];
}

void Mailbox_Queue::pop()
{
    if (m_count != 0) {
        m_head = (m_head + 1) % CAPACITY;
        --m_count;
    }
}

Coe_Server::Coe_Server(Coe_Dictionary& dictionary, uint16_t read_mailbox_size)
    : m_dictionary(dictionary), m_room(read_mailbox_size > mbx::HEADER_SIZE ? read_mailbox_size - mbx::HEADER_SIZE : 0)
{
    if (m_room < coe::SDO_FRAME_SIZE) {
        throw std::runtime_error("[Coe_Server][Coe_Server] read mailbox too small for CoE");
    }
}

const Sdo_Log_Entry& Coe_Server::log_entry(size_t i) const
{
    const size_t first = m_log_total < LOG_SIZE ? 0 : m_log_total % LOG_SIZE;
    return m_log[(first + i) % LOG_SIZE];
}

void Coe_Server::log(bool upload, uint16_t index, uint8_t sub, bool complete, uint32_t size, uint32_t abort)
{
    Sdo_Log_Entry& entry = m_log[m_log_total % LOG_SIZE];
    entry = Sdo_Log_Entry{upload, index, sub, complete, size, abort};
    ++m_log_total;
}

void Coe_Server::reset_transfers()
{
    m_transfer.active = false;
}

void Coe_Server::abort_object(uint16_t index, int sub, uint32_t code)
{
    for (size_t i = 0; i < m_abort_count; ++i) {
        if (m_aborts[i].index == index && m_aborts[i].sub == sub) {
            m_aborts[i].code = code;
            return;
        }
    }
    if (m_abort_count == MAX_ABORTS) {
        throw std::runtime_error("[Coe_Server][abort_object] too many scripted aborts");
    }
    m_aborts[m_abort_count++] = Scripted_Abort{index, sub, code};
}

uint32_t Coe_Server::scripted_abort(uint16_t index, uint8_t sub) const
{
    for (size_t i = 0; i < m_abort_count; ++i) {
        if (m_aborts[i].index == index && (m_aborts[i].sub < 0 || m_aborts[i].sub == sub)) {
            return m_aborts[i].code;
        }
    }
    return 0;
}

uint8_t* Coe_Server::begin_reply(Mailbox_Queue& out, uint8_t type)
{
    uint8_t* reply = out.push_slot();
    if (reply == nullptr) {
        return nullptr;
    }
    std::memset(reply, 0, m_room + mbx::HEADER_SIZE);
    m_counter = static_cast<uint8_t>(m_counter >= 7 ? 1 : m_counter + 1);
    reply[mbx::TYPE_COUNTER] = static_cast<uint8_t>(type | (m_counter << mbx::COUNTER_SHIFT));
    return reply;
}

void Coe_Server::finish_reply(Mailbox_Queue& out, uint8_t* reply, size_t length)
{
    put16(reply + mbx::LENGTH, static_cast<uint16_t>(length));
    out.commit(mbx::HEADER_SIZE + length);
}

void Coe_Server::mailbox_error(Mailbox_Queue& out, uint16_t detail)
{
    uint8_t* reply = begin_reply(out, mbx::TYPE_ERROR);
    if (reply == nullptr) {
        return;
    }
    put16(reply + mbx::HEADER_SIZE, mbx::ERROR_SERVICE);
    put16(reply + mbx::HEADER_SIZE + 2, detail);
    finish_reply(out, reply, 4);
}

void Coe_Server::sdo_abort(Mailbox_Queue& out, uint16_t index, uint8_t sub, uint32_t code)
{
    m_transfer.active = false;
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    // An abort travels as an SDO request of the server.
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_REQUEST << 12));
    reply[coe::SDO_COMMAND] = coe::ABORT;
    put16(reply + coe::SDO_INDEX, index);
    reply[coe::SDO_SUBINDEX] = sub;
    put32(reply + coe::SDO_DATA, code);
    finish_reply(out, reply, coe::SDO_FRAME_SIZE);
}

void Coe_Server::emergency(const Emergency& emergency, Mailbox_Queue& out)
{
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_EMERGENCY << 12));
    put16(reply + coe::HEADER + 2, emergency.code);
    reply[coe::HEADER + 4] = emergency.error_register;
    std::memcpy(reply + coe::HEADER + 5, emergency.data, sizeof emergency.data);
    finish_reply(out, reply, 10);
}

void Coe_Server::handle(const uint8_t* message, size_t size, Mailbox_Queue& out)
{
    if (size < mbx::HEADER_SIZE) {
        mailbox_error(out, mbx::ERROR_SIZE_TOO_SHORT);
        return;
    }
    const size_t length = get16(message + mbx::LENGTH);
    if (length > size - mbx::HEADER_SIZE) {
        mailbox_error(out, mbx::ERROR_INVALID_SIZE);
        return;
    }
    if ((message[mbx::TYPE_COUNTER] & mbx::TYPE_MASK) != mbx::TYPE_COE) {
        mailbox_error(out, mbx::ERROR_UNSUPPORTED_PROTOCOL);
        return;
    }
    if (length < 2) {
        mailbox_error(out, mbx::ERROR_SIZE_TOO_SHORT);
        return;
    }
    const uint8_t service = static_cast<uint8_t>(message[coe::HEADER + 1] >> 4);
    if (service != coe::SERVICE_SDO_REQUEST) {
        mailbox_error(out, mbx::ERROR_SERVICE_NOT_SUPPORTED);
        return;
    }
    if (length < 3) {
        mailbox_error(out, mbx::ERROR_SIZE_TOO_SHORT);
        return;
    }
    const uint8_t command = message[coe::SDO_COMMAND];
    const uint8_t specifier = static_cast<uint8_t>(command >> 5);
    // Segments are 3 bytes and up; initiate frames are 10 bytes, though an
    // upload request of 6 (without the data bytes) is accepted too.
    if (specifier == coe::CCS_DOWNLOAD_SEGMENT) {
        download_segment(message, length, out);
        return;
    }
    if (specifier == coe::CCS_UPLOAD_SEGMENT) {
        upload_segment(message, out);
        return;
    }
    if (specifier == coe::CS_ABORT) {
        m_transfer.active = false;  // the client gave up; no reply
        return;
    }
    if (specifier == coe::CCS_UPLOAD_INITIATE && length >= 6) {
        upload_initiate(message, out);
        return;
    }
    if (length < coe::SDO_FRAME_SIZE) {
        mailbox_error(out, mbx::ERROR_SIZE_TOO_SHORT);
        return;
    }
    if (specifier == coe::CCS_DOWNLOAD_INITIATE) {
        download_initiate(message, length, out);
        return;
    }
    sdo_abort(out, get16(message + coe::SDO_INDEX), message[coe::SDO_SUBINDEX], abort_code::BAD_COMMAND);
}

void Coe_Server::download_initiate(const uint8_t* m, size_t length, Mailbox_Queue& out)
{
    const uint8_t command = m[coe::SDO_COMMAND];
    const uint16_t index = get16(m + coe::SDO_INDEX);
    const uint8_t sub = m[coe::SDO_SUBINDEX];
    const bool complete = (command & coe::COMPLETE_ACCESS) != 0;
    m_transfer = Transfer{};
    m_transfer.upload = false;
    m_transfer.index = index;
    m_transfer.sub = sub;
    m_transfer.complete = complete;
    if (complete && sub > 1) {
        log(false, index, sub, complete, 0, abort_code::UNSUPPORTED_ACCESS);
        sdo_abort(out, index, sub, abort_code::UNSUPPORTED_ACCESS);
        return;
    }
    if (command & coe::EXPEDITED) {
        const size_t size = (command & coe::SIZE_INDICATED) ? 4 - ((command >> 2) & 3) : 4;
        std::memcpy(m_transfer.data, m + coe::SDO_DATA, size);
        m_transfer.size = size;
        m_transfer.position = size;
        finish_download(out);
        return;
    }
    const size_t size = get32(m + coe::SDO_DATA);
    if (size > sizeof m_transfer.data) {
        log(false, index, sub, complete, static_cast<uint32_t>(size), abort_code::TOO_LONG);
        sdo_abort(out, index, sub, abort_code::TOO_LONG);
        return;
    }
    const size_t carried = length - coe::SDO_FRAME_SIZE;
    const size_t taken = carried < size ? carried : size;
    std::memcpy(m_transfer.data, m + coe::SDO_DATA + 4, taken);
    m_transfer.size = size;
    m_transfer.position = taken;
    if (taken == size) {
        finish_download(out);
        return;
    }
    // More follows in segments: confirm the initiate, keep the transfer open.
    if (uint32_t abort = scripted_abort(index, sub)) {
        log(false, index, sub, complete, static_cast<uint32_t>(size), abort);
        sdo_abort(out, index, sub, abort);
        return;
    }
    m_transfer.active = true;
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_RESPONSE << 12));
    reply[coe::SDO_COMMAND] = static_cast<uint8_t>(coe::SCS_DOWNLOAD_INITIATE << 5);
    put16(reply + coe::SDO_INDEX, index);
    reply[coe::SDO_SUBINDEX] = sub;
    finish_reply(out, reply, coe::SDO_FRAME_SIZE);
}

void Coe_Server::download_segment(const uint8_t* m, size_t length, Mailbox_Queue& out)
{
    const uint8_t command = m[coe::SDO_COMMAND];
    if (!m_transfer.active || m_transfer.upload) {
        sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::BAD_COMMAND);
        return;
    }
    if ((command & coe::TOGGLE) != m_transfer.toggle) {
        log(false, m_transfer.index, m_transfer.sub, m_transfer.complete, static_cast<uint32_t>(m_transfer.size),
            abort_code::TOGGLE);
        sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::TOGGLE);
        return;
    }
    size_t carried = length - 3;
    const size_t unused = (command >> 1) & 7;
    if (length == coe::SDO_FRAME_SIZE && unused != 0) {
        carried = 7 - unused;
    }
    if (m_transfer.position + carried > m_transfer.size) {
        log(false, m_transfer.index, m_transfer.sub, m_transfer.complete, static_cast<uint32_t>(m_transfer.size),
            abort_code::TOO_LONG);
        sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::TOO_LONG);
        return;
    }
    std::memcpy(m_transfer.data + m_transfer.position, m + coe::SDO_SEGMENT_DATA, carried);
    m_transfer.position += carried;
    const uint8_t toggle = m_transfer.toggle;
    m_transfer.toggle ^= coe::TOGGLE;
    if (command & coe::LAST_SEGMENT) {
        if (m_transfer.position != m_transfer.size) {
            log(false, m_transfer.index, m_transfer.sub, m_transfer.complete, static_cast<uint32_t>(m_transfer.size),
                abort_code::LENGTH_MISMATCH);
            sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::LENGTH_MISMATCH);
            return;
        }
        const uint32_t abort = m_dictionary.download(m_transfer.index, m_transfer.sub, m_transfer.complete,
                                                     m_transfer.data, m_transfer.size);
        log(false, m_transfer.index, m_transfer.sub, m_transfer.complete, static_cast<uint32_t>(m_transfer.size),
            abort);
        if (abort != 0) {
            sdo_abort(out, m_transfer.index, m_transfer.sub, abort);
            return;
        }
        m_transfer.active = false;
    }
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_RESPONSE << 12));
    reply[coe::SDO_COMMAND] = static_cast<uint8_t>((coe::SCS_DOWNLOAD_SEGMENT << 5) | toggle);
    finish_reply(out, reply, coe::SDO_FRAME_SIZE);
}

void Coe_Server::finish_download(Mailbox_Queue& out)
{
    const uint16_t index = m_transfer.index;
    const uint8_t sub = m_transfer.sub;
    uint32_t abort = scripted_abort(index, sub);
    if (abort == 0) {
        abort = m_dictionary.download(index, sub, m_transfer.complete, m_transfer.data, m_transfer.size);
    }
    log(false, index, sub, m_transfer.complete, static_cast<uint32_t>(m_transfer.size), abort);
    m_transfer.active = false;
    if (abort != 0) {
        sdo_abort(out, index, sub, abort);
        return;
    }
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_RESPONSE << 12));
    reply[coe::SDO_COMMAND] = static_cast<uint8_t>(coe::SCS_DOWNLOAD_INITIATE << 5);
    put16(reply + coe::SDO_INDEX, index);
    reply[coe::SDO_SUBINDEX] = sub;
    finish_reply(out, reply, coe::SDO_FRAME_SIZE);
}

void Coe_Server::upload_initiate(const uint8_t* m, Mailbox_Queue& out)
{
    const uint8_t command = m[coe::SDO_COMMAND];
    const uint16_t index = get16(m + coe::SDO_INDEX);
    const uint8_t sub = m[coe::SDO_SUBINDEX];
    const bool complete = (command & coe::COMPLETE_ACCESS) != 0;
    m_transfer = Transfer{};
    m_transfer.upload = true;
    m_transfer.index = index;
    m_transfer.sub = sub;
    m_transfer.complete = complete;
    size_t size = 0;
    uint32_t abort = scripted_abort(index, sub);
    if (abort == 0) {
        abort = m_dictionary.upload(index, sub, complete, m_transfer.data, sizeof m_transfer.data, size);
    }
    log(true, index, sub, complete, static_cast<uint32_t>(size), abort);
    if (abort != 0) {
        sdo_abort(out, index, sub, abort);
        return;
    }
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_RESPONSE << 12));
    put16(reply + coe::SDO_INDEX, index);
    reply[coe::SDO_SUBINDEX] = sub;
    const uint8_t access = complete ? coe::COMPLETE_ACCESS : 0;
    if (size <= 4 && size > 0) {
        reply[coe::SDO_COMMAND] = static_cast<uint8_t>((coe::SCS_UPLOAD_INITIATE << 5) | access | coe::EXPEDITED |
                                                       coe::SIZE_INDICATED | ((4 - size) << 2));
        std::memcpy(reply + coe::SDO_DATA, m_transfer.data, size);
        finish_reply(out, reply, coe::SDO_FRAME_SIZE);
        return;
    }
    reply[coe::SDO_COMMAND] = static_cast<uint8_t>((coe::SCS_UPLOAD_INITIATE << 5) | access | coe::SIZE_INDICATED);
    put32(reply + coe::SDO_DATA, static_cast<uint32_t>(size));
    const size_t room = m_room - coe::SDO_FRAME_SIZE;
    const size_t carried = size < room ? size : room;
    std::memcpy(reply + coe::SDO_DATA + 4, m_transfer.data, carried);
    finish_reply(out, reply, coe::SDO_FRAME_SIZE + carried);
    m_transfer.size = size;
    m_transfer.position = carried;
    m_transfer.active = carried < size;  // the rest follows in segments
}

void Coe_Server::upload_segment(const uint8_t* m, Mailbox_Queue& out)
{
    const uint8_t command = m[coe::SDO_COMMAND];
    if (!m_transfer.active || !m_transfer.upload) {
        sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::BAD_COMMAND);
        return;
    }
    if ((command & coe::TOGGLE) != m_transfer.toggle) {
        sdo_abort(out, m_transfer.index, m_transfer.sub, abort_code::TOGGLE);
        return;
    }
    uint8_t* reply = begin_reply(out, mbx::TYPE_COE);
    if (reply == nullptr) {
        return;
    }
    const size_t room = m_room - 3;
    const size_t left = m_transfer.size - m_transfer.position;
    const size_t carried = left < room ? left : room;
    const bool last = carried == left;
    uint8_t segment_command = static_cast<uint8_t>((coe::SCS_UPLOAD_SEGMENT << 5) | m_transfer.toggle);
    size_t length = 3 + carried;
    if (last) {
        segment_command |= coe::LAST_SEGMENT;
    }
    if (carried < 7) {
        segment_command = static_cast<uint8_t>(segment_command | ((7 - carried) << 1));
        length = coe::SDO_FRAME_SIZE;
    }
    put16(reply + coe::HEADER, static_cast<uint16_t>(coe::SERVICE_SDO_RESPONSE << 12));
    reply[coe::SDO_COMMAND] = segment_command;
    std::memcpy(reply + coe::SDO_SEGMENT_DATA, m_transfer.data + m_transfer.position, carried);
    finish_reply(out, reply, length);
    m_transfer.position += carried;
    m_transfer.toggle ^= coe::TOGGLE;
    if (last) {
        m_transfer.active = false;
    }
}

}  // namespace ecat_sim
