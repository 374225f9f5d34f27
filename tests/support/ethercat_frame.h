#pragma once

// An EtherCAT frame built by hand, for the tests and benchmarks that play the
// master on a raw socket or hand frames to a segment: a broadcast Ethernet
// header of EtherType 0x88A4, then the datagrams, each but the last with its
// "more" bit, their working counters 0.

#include <cstddef>
#include <cstdint>
#include <vector>

class Ethercat_Frame {
public:
    static constexpr std::size_t HEADER_BYTES = 16;     // Ethernet and EtherCAT headers
    static constexpr std::size_t DATAGRAM_HEADER = 10;  // command .. interrupt
    static constexpr std::size_t DATAGRAM_EXTRA = 12;   // the header and the working counter

    Ethercat_Frame()
        : m_bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4, 0x00, 0x10}
    {
    }

    // Appends a datagram; the one before it gets its "more" bit.
    Ethercat_Frame& add(uint8_t command, uint16_t adp, uint16_t ado, const std::vector<uint8_t>& data,
                        uint8_t index = 0)
    {
        if (!m_starts.empty())
            m_bytes[m_starts.back() + 7] |= 0x80;
        m_starts.push_back(m_bytes.size());
        m_bytes.push_back(command);
        m_bytes.push_back(index);
        for (uint16_t word : {adp, ado, static_cast<uint16_t>(data.size()), uint16_t{0}})
            push_le16(word);
        m_bytes.insert(m_bytes.end(), data.begin(), data.end());
        push_le16(0);
        const std::size_t total = m_bytes.size() - HEADER_BYTES;
        m_bytes[14] = static_cast<uint8_t>(total);
        m_bytes[15] = static_cast<uint8_t>(0x10 | ((total >> 8) & 0x07));
        return *this;
    }

    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    std::vector<uint8_t>& bytes() { return m_bytes; }
    std::size_t size() const { return m_bytes.size(); }
    // Where datagram i begins, in this frame and in its reply.
    std::size_t datagram_start(std::size_t i) const { return m_starts[i]; }
    // The working counter of datagram i in a reply (or this frame) of this layout.
    uint16_t working_counter(const uint8_t* reply, std::size_t i) const
    {
        const std::size_t end = i + 1 < m_starts.size() ? m_starts[i + 1] : m_bytes.size();
        return static_cast<uint16_t>(reply[end - 2] | (reply[end - 1] << 8));
    }

private:
    void push_le16(uint16_t word)
    {
        m_bytes.push_back(static_cast<uint8_t>(word));
        m_bytes.push_back(static_cast<uint8_t>(word >> 8));
    }

    std::vector<uint8_t> m_bytes;
    std::vector<std::size_t> m_starts;
};
