#include "sdo_client.h"

#include <stdexcept>

std::vector<uint8_t> Sdo_Client::message(uint8_t type, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> m = le16(static_cast<uint16_t>(body.size()));
    m.push_back(0);
    m.push_back(0);
    m.push_back(0);
    m.push_back(static_cast<uint8_t>(type | (m_master.next_mailbox_counter() << 4)));
    m.insert(m.end(), body.begin(), body.end());
    return m;
}

std::vector<uint8_t> Sdo_Client::request(const std::vector<uint8_t>& coe_body)
{
    m_master.mailbox_send(m_station, message(3, coe_body), 0x1000, m_out);
    return m_master.mailbox_receive(m_station, 0x1080, m_in);
}

namespace {

std::vector<uint8_t> sdo(uint8_t command, uint16_t index, uint8_t sub, const std::vector<uint8_t>& rest)
{
    std::vector<uint8_t> body = {0x00, 0x20, command, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                                 sub};
    body.insert(body.end(), rest.begin(), rest.end());
    return body;
}

bool is_abort(const std::vector<uint8_t>& reply, Sdo_Reply& result)
{
    if (reply.size() >= 16 && reply[8] == 0x80) {
        result.abort = get_le32(reply, 12);
        return true;
    }
    return false;
}

}  // namespace

Sdo_Reply Sdo_Client::upload(uint16_t index, uint8_t sub, bool complete)
{
    Sdo_Reply result;
    std::vector<uint8_t> reply = request(sdo(complete ? 0x50 : 0x40, index, sub, {0, 0, 0, 0}));
    if (reply.empty()) {
        return result;
    }
    result.answered = true;
    result.frames = 1;
    if (is_abort(reply, result)) {
        return result;
    }
    if ((reply[7] >> 4) != 3 || (reply[8] & 0xE0) != 0x40 || get_le16(reply, 9) != index) {
        throw std::runtime_error("unexpected upload reply");
    }
    if (reply[8] & 0x02) {
        const size_t size = 4 - ((reply[8] >> 2) & 3);
        result.data.assign(reply.begin() + 12, reply.begin() + 12 + static_cast<long>(size));
        return result;
    }
    const size_t size = get_le32(reply, 12);
    const size_t carried = std::min<size_t>(get_le16(reply, 0) - 10, size);
    result.data.assign(reply.begin() + 16, reply.begin() + 16 + static_cast<long>(carried));
    uint8_t toggle = 0;
    while (result.data.size() < size) {
        reply = request({0x00, 0x20, static_cast<uint8_t>(0x60 | toggle), 0, 0, 0, 0, 0, 0, 0});
        if (reply.empty()) {
            result.answered = false;
            return result;
        }
        ++result.frames;
        if (is_abort(reply, result)) {
            return result;
        }
        if ((reply[8] & 0xE0) != 0x00 || (reply[8] & 0x10) != toggle) {
            throw std::runtime_error("unexpected upload segment");
        }
        const size_t length = get_le16(reply, 0);
        size_t bytes = length - 3;
        if (length == 10 && (reply[8] & 0x0E)) {
            bytes = 7 - ((reply[8] >> 1) & 7);
        }
        result.data.insert(result.data.end(), reply.begin() + 9, reply.begin() + 9 + static_cast<long>(bytes));
        if (reply[8] & 0x01) {
            break;
        }
        toggle ^= 0x10;
    }
    return result;
}

Sdo_Reply Sdo_Client::download(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data, bool complete)
{
    Sdo_Reply result;
    const uint8_t access = complete ? 0x10 : 0x00;
    std::vector<uint8_t> reply;
    size_t sent = 0;
    if (data.size() <= 4) {
        std::vector<uint8_t> word = data;
        word.resize(4, 0);
        reply = request(sdo(static_cast<uint8_t>(0x23 | access | ((4 - data.size()) << 2)), index, sub, word));
        sent = data.size();
    } else {
        const size_t room = m_out - 16u;
        sent = std::min(room, data.size());
        std::vector<uint8_t> rest = le32(static_cast<uint32_t>(data.size()));
        rest.insert(rest.end(), data.begin(), data.begin() + static_cast<long>(sent));
        reply = request(sdo(static_cast<uint8_t>(0x21 | access), index, sub, rest));
    }
    if (reply.empty()) {
        return result;
    }
    result.answered = true;
    result.frames = 1;
    if (is_abort(reply, result)) {
        return result;
    }
    if (reply[8] != 0x60 || get_le16(reply, 9) != index || reply[11] != sub) {
        throw std::runtime_error("unexpected download reply");
    }
    uint8_t toggle = 0;
    while (sent < data.size()) {
        const size_t chunk = std::min<size_t>(m_out - 9u, data.size() - sent);
        const bool last = sent + chunk == data.size();
        uint8_t command = static_cast<uint8_t>(toggle | (last ? 1 : 0));
        std::vector<uint8_t> body = {0x00, 0x20};
        if (chunk < 7) {
            command = static_cast<uint8_t>(command | ((7 - chunk) << 1));
        }
        body.push_back(command);
        body.insert(body.end(), data.begin() + static_cast<long>(sent), data.begin() + static_cast<long>(sent + chunk));
        if (chunk < 7) {
            body.resize(10, 0);
        }
        reply = request(body);
        if (reply.empty()) {
            result.answered = false;
            return result;
        }
        ++result.frames;
        if (is_abort(reply, result)) {
            return result;
        }
        if (reply[8] != (0x20 | toggle)) {
            throw std::runtime_error("unexpected download segment reply");
        }
        sent += chunk;
        toggle ^= 0x10;
    }
    return result;
}
