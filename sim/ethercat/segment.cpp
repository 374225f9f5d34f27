#include "segment.h"

#include <random>

namespace ecat_sim {

Segment::Segment(const Segment_Config& config, uint64_t seed) : m_config(config)
{
    if (seed == 0) {
        seed = std::random_device{}();
    }
    const size_t n = config.slaves.size();
    m_child.assign(n * MAX_PORTS, -1);
    m_cable.assign(n * MAX_PORTS, false);
    m_visit.reserve(n);
    m_times.resize(n);
    for (size_t i = 0; i < n; ++i) {
        m_slaves.push_back(std::make_unique<Slave_Controller>(config.slaves[i], static_cast<int>(i), seed + i, &m_log));
        if (m_reference < 0 && config.slaves[i].dc) {
            m_reference = static_cast<int>(i);
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const Slave_Config& slave = config.slaves[i];
        if (slave.previous >= 0) {
            m_child[static_cast<size_t>(slave.previous) * MAX_PORTS + static_cast<size_t>(slave.previous_port)] =
                static_cast<int>(i);
            m_cable[static_cast<size_t>(slave.previous) * MAX_PORTS + static_cast<size_t>(slave.previous_port)] = true;
        }
        m_cable[i * MAX_PORTS] = true;  // port 0 leads to the master or the parent
    }
    for (size_t i = 0; i < n; ++i) {
        for (int p = 0; p < MAX_PORTS; ++p) {
            m_slaves[i]->set_link(p, m_cable[i * MAX_PORTS + static_cast<size_t>(p)]);
        }
        m_slaves[i]->power_up(0);
    }
}

bool Segment::set_link(size_t position, int port, bool up)
{
    if (position >= m_slaves.size() || port < 0 || port >= MAX_PORTS) {
        return false;
    }
    size_t other = 0;
    int other_port = 0;
    if (port == 0) {
        const int parent = m_config.slaves[position].previous;
        if (parent < 0) {
            return false;  // the master's side is not simulated
        }
        other = static_cast<size_t>(parent);
        other_port = m_config.slaves[position].previous_port;
    } else {
        const int child = m_child[position * MAX_PORTS + static_cast<size_t>(port)];
        if (child < 0) {
            return false;
        }
        other = static_cast<size_t>(child);
        other_port = 0;
    }
    m_cable[position * MAX_PORTS + static_cast<size_t>(port)] = up;
    m_cable[other * MAX_PORTS + static_cast<size_t>(other_port)] = up;
    m_slaves[position]->set_link(port, up);
    m_slaves[other]->set_link(other_port, up);
    return true;
}

int64_t Segment::traverse(int s, int64_t t)
{
    Frame_Times& times = m_times[static_cast<size_t>(s)];
    times = Frame_Times{};
    times.port[0] = t;
    times.unit = t;
    m_visit.push_back(s);
    Slave_Controller& slave = *m_slaves[static_cast<size_t>(s)];
    static const int two[] = {1};
    static const int three[] = {1, 2};
    static const int four[] = {3, 1, 2};
    const int ports = slave.config().ports;
    const int* sequence = ports == 4 ? four : ports == 3 ? three : two;
    const int count = ports == 4 ? 3 : ports == 3 ? 2 : ports == 2 ? 1 : 0;
    for (int k = 0; k < count; ++k) {
        const int port = sequence[k];
        if (!slave.port_open(port)) {
            continue;  // a closed port passes the frame to the next one
        }
        const int child = m_child[static_cast<size_t>(s) * MAX_PORTS + static_cast<size_t>(port)];
        if (child < 0 || !m_cable[static_cast<size_t>(s) * MAX_PORTS + static_cast<size_t>(port)]) {
            m_lost = true;  // an open port without a link loses the frame
            continue;
        }
        const int64_t hop = m_slaves[static_cast<size_t>(child)]->config().hop_delay_ns;
        t = traverse(child, t + hop) + hop;
        times.port[port] = t;
    }
    return t;
}

void Segment::datagram(Slave_Controller& slave, uint8_t* dg)
{
    const uint8_t command = dg[DG_CMD];
    const uint16_t adp = get16(dg + DG_ADP);
    const uint16_t ado = get16(dg + DG_ADO);
    const size_t length = get16(dg + DG_LENGTH) & DG_LENGTH_MASK;
    uint8_t* data = dg + DG_DATA;
    int wkc = 0;
    switch (command) {
    case CMD_APRD:
    case CMD_APWR:
    case CMD_APRW:
        if (adp == 0) {
            wkc = slave.physical(command, ado, data, length, false);
        }
        put16(dg + DG_ADP, static_cast<uint16_t>(adp + 1));
        break;
    case CMD_FPRD:
    case CMD_FPWR:
    case CMD_FPRW:
        if (slave.matches_station(adp)) {
            wkc = slave.physical(command, ado, data, length, false);
        }
        break;
    case CMD_BRD:
    case CMD_BWR:
    case CMD_BRW:
        wkc = slave.physical(command, ado, data, length, false);
        put16(dg + DG_ADP, static_cast<uint16_t>(adp + 1));
        break;
    case CMD_LRD:
    case CMD_LWR:
    case CMD_LRW: wkc = slave.logical(command, get32(dg + DG_ADP), data, length); break;
    case CMD_ARMW:
        wkc = slave.physical(command, ado, data, length, adp == 0);
        put16(dg + DG_ADP, static_cast<uint16_t>(adp + 1));
        break;
    case CMD_FRMW: wkc = slave.physical(command, ado, data, length, slave.matches_station(adp)); break;
    default: break;
    }
    if (wkc != 0) {
        uint8_t* counter = data + length;
        put16(counter, static_cast<uint16_t>(get16(counter) + wkc));
    }
    put16(dg + DG_IRQ, static_cast<uint16_t>(get16(dg + DG_IRQ) | slave.irq()));
}

bool Segment::process(uint8_t* frame, size_t size, int64_t now)
{
    if (size < ETH_HEADER_SIZE + ECAT_HEADER_SIZE || get16(frame + 12) != 0xA488) {
        return false;  // not EtherCAT (the type is big-endian on the wire)
    }
    ++m_frames;
    const uint16_t header = get16(frame + ETH_HEADER_SIZE);
    const size_t total = header & ECAT_LENGTH_MASK;
    uint8_t* const first = frame + ETH_HEADER_SIZE + ECAT_HEADER_SIZE;
    const size_t available = size - ETH_HEADER_SIZE - ECAT_HEADER_SIZE;
    if ((header >> 12) == ECAT_TYPE_DATAGRAMS) {
        // The whole chain must be well formed before any slave acts on it.
        m_datagram_count = 0;
        size_t pos = 0;
        bool ok = total <= available;
        bool more = true;
        while (ok && more) {
            if (pos + DATAGRAM_HEADER_SIZE + WKC_SIZE > total || m_datagram_count == 128) {
                ok = false;
                break;
            }
            const uint16_t word = get16(first + pos + DG_LENGTH);
            const size_t length = word & DG_LENGTH_MASK;
            if (length > MAX_DATAGRAM_DATA || pos + DATAGRAM_HEADER_SIZE + length + WKC_SIZE > total) {
                ok = false;
                break;
            }
            m_datagrams[m_datagram_count++] = pos;
            more = (word & DG_MORE) != 0;
            pos += DATAGRAM_HEADER_SIZE + length + WKC_SIZE;
        }
        if (!ok) {
            ++m_invalid;
            // Counted as an invalid frame on the first slave's port 0; the
            // frame is destroyed and the master sees nothing come back.
            Slave_Controller& entry = *m_slaves[0];
            uint8_t counter = 0;
            entry.read_memory(reg::RX_ERROR, &counter, 1, now);
            entry.set_error_counter(reg::RX_ERROR, static_cast<uint8_t>(counter == 0xFF ? 0xFF : counter + 1));
            return false;
        }
        m_visit.clear();
        m_lost = false;
        traverse(0, now + m_slaves[0]->config().hop_delay_ns);
        for (int s : m_visit) {
            Slave_Controller& slave = *m_slaves[static_cast<size_t>(s)];
            slave.begin_frame(m_times[static_cast<size_t>(s)]);
            for (size_t d = 0; d < m_datagram_count; ++d) {
                datagram(slave, first + m_datagrams[d]);
            }
        }
        bool logical = false;
        for (int s : m_visit) {
            Slave_Controller& slave = *m_slaves[static_cast<size_t>(s)];
            logical = logical || slave.frame_had_process_data();
            slave.end_frame(true, now);
        }
        if (logical && m_reference >= 0) {
            for (int s : m_visit) {
                if (s == m_reference) {
                    m_slaves[static_cast<size_t>(s)]->record_phase();
                }
            }
        }
        if (m_corrupt > 0 && !m_lost) {
            --m_corrupt;
            for (size_t d = 0; d < m_datagram_count; ++d) {
                uint8_t* dg = first + m_datagrams[d];
                uint8_t* counter = dg + DG_DATA + (get16(dg + DG_LENGTH) & DG_LENGTH_MASK);
                put16(counter, static_cast<uint16_t>(get16(counter) + 1));
            }
        }
        if (m_log.datagrams()) {
            for (size_t d = 0; d < m_datagram_count; ++d) {
                const uint8_t* dg = first + m_datagrams[d];
                Log_Record record;
                record.kind = m_lost ? Log_Record::FRAME_DROPPED : Log_Record::DATAGRAM;
                record.time_ns = now;
                record.command = dg[DG_CMD];
                record.index = dg[DG_INDEX];
                record.adp = get16(dg + DG_ADP);
                record.ado = get16(dg + DG_ADO);
                record.length = static_cast<uint16_t>(get16(dg + DG_LENGTH) & DG_LENGTH_MASK);
                record.wkc = get16(dg + DG_DATA + record.length);
                m_log.push(record);
            }
        }
        if (m_lost) {
            return false;
        }
    }
    frame[6] |= REPLY_SOURCE_MARK;
    return true;
}

void Segment::housekeeping(int64_t now)
{
    for (auto& slave : m_slaves) {
        slave->housekeeping(now);
    }
}

void Segment::skip_stall(int64_t ns)
{
    for (auto& slave : m_slaves) {
        slave->skip_stall(ns);
    }
}

}  // namespace ecat_sim
