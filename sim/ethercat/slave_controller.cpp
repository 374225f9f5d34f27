#include "slave_controller.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "devices.h"
#include "sim_log.h"

namespace ecat_sim {

namespace {

constexpr size_t MEMORY_SIZE = 0x10000;
constexpr uint16_t RAM_END = reg::RAM + RAM_KIB * 1024;

bool overlaps(uint32_t a, size_t alen, uint32_t b, size_t blen)
{
    return alen != 0 && blen != 0 && a < b + blen && b < a + alen;
}

uint8_t crc8(const uint16_t* words, size_t count)
{
    uint8_t crc = 0xFF;
    for (size_t i = 0; i < count; ++i) {
        for (int half = 0; half < 2; ++half) {
            crc ^= static_cast<uint8_t>(words[i] >> (8 * half));
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
            }
        }
    }
    return crc;
}

bool get_bit(const uint8_t* buffer, uint64_t bit)
{
    return (buffer[bit / 8] >> (bit % 8)) & 1;
}
void put_bit(uint8_t* buffer, uint64_t bit, bool value)
{
    if (value) {
        buffer[bit / 8] = static_cast<uint8_t>(buffer[bit / 8] | (1u << (bit % 8)));
    } else {
        buffer[bit / 8] = static_cast<uint8_t>(buffer[bit / 8] & ~(1u << (bit % 8)));
    }
}

bool is_state(uint8_t state)
{
    return state == AL_INIT || state == AL_PREOP || state == AL_BOOT || state == AL_SAFEOP || state == AL_OP;
}

}  // namespace

Slave_Controller::Slave_Controller(const Slave_Config& config, int position, uint64_t seed, Sim_Log* log)
    : m_config(config), m_position(position), m_log(log), m_mem(MEMORY_SIZE, 0), m_sii(SII_WORDS, 0xFFFF)
{
    std::mt19937_64 random(seed);
    m_clock_offset = config.clock_offset_set ? config.clock_offset_ns
                                             : static_cast<int64_t>(random() % 1000000000000ULL);  // up to 1000 s
    m_drift_ppm = config.drift_ppm;
    m_device = make_device(config);
    if (config.has_mailbox()) {
        m_out_sm = 2;
        m_in_sm = 3;
        if (m_device) {
            m_coe = std::make_unique<Coe_Server>(m_device->dictionary(), config.mbx_in_size);
        }
    } else {
        m_out_sm = 0;
        m_in_sm = 1;
    }

    // SII contents.
    for (size_t w = 0; w < 0x40; ++w) {
        m_sii[w] = 0;
    }
    const bool emulation = config.device == Device_Kind::NONE;
    m_sii[sii::WORD_PDI_CONTROL] = static_cast<uint16_t>(0x0005 | (emulation ? 0x0100 : 0));
    m_sii[sii::WORD_SYNC_PULSE] = 0x03E8;
    m_sii[sii::WORD_ALIAS] = config.alias;
    m_sii[sii::WORD_CHECKSUM] = crc8(m_sii.data(), 7);
    auto put_long = [this](uint16_t word, uint32_t value) {
        m_sii[word] = static_cast<uint16_t>(value);
        m_sii[word + 1] = static_cast<uint16_t>(value >> 16);
    };
    // The EEPROM carries the identity the device's 0x1018 answers.
    uint32_t identity[4] = {config.vendor, config.product, config.revision, config.serial};
    if (m_device) {
        for (uint8_t sub = 1; sub <= 4; ++sub) {
            uint8_t value[8] = {};
            size_t size = 0;
            if (m_device->dictionary().upload(0x1018, sub, false, value, sizeof value, size) == 0 && size == 4) {
                identity[sub - 1] = get32(value);
            }
        }
    }
    put_long(sii::WORD_VENDOR, identity[0]);
    put_long(sii::WORD_PRODUCT, identity[1]);
    put_long(sii::WORD_REVISION, identity[2]);
    put_long(sii::WORD_SERIAL, identity[3]);
    if (config.has_mailbox()) {
        m_sii[sii::WORD_MBX_RECEIVE_OFFSET] = config.mbx_out_start;
        m_sii[sii::WORD_MBX_RECEIVE_SIZE] = config.mbx_out_size;
        m_sii[sii::WORD_MBX_SEND_OFFSET] = config.mbx_in_start;
        m_sii[sii::WORD_MBX_SEND_SIZE] = config.mbx_in_size;
        m_sii[sii::WORD_MBX_PROTOCOLS] = m_coe ? sii::PROTOCOL_COE : 0;
    }
    m_sii[sii::WORD_SIZE] = 15;  // 16 kbit
    m_sii[sii::WORD_VERSION] = 1;
    // Categories: the name as string 1, then the sync managers.
    size_t w = sii::WORD_CATEGORIES;
    const std::string name = config.name.substr(0, 200);
    const size_t string_bytes = 2 + name.size();
    const size_t string_words = (string_bytes + 1) / 2;
    m_sii[w++] = sii::CATEGORY_STRINGS;
    m_sii[w++] = static_cast<uint16_t>(string_words);
    std::vector<uint8_t> strings(string_words * 2, 0);
    strings[0] = 1;
    strings[1] = static_cast<uint8_t>(name.size());
    std::memcpy(strings.data() + 2, name.data(), name.size());
    for (size_t i = 0; i < string_words; ++i) {
        m_sii[w++] = static_cast<uint16_t>(strings[2 * i] | (strings[2 * i + 1] << 8));
    }
    if (config.has_mailbox()) {
        m_sii[w++] = sii::CATEGORY_SM;
        m_sii[w++] = 8;  // two entries of 8 bytes
        const uint16_t sms[2][4] = {{config.mbx_out_start, config.mbx_out_size, 0x0026, 0x0001},
                                    {config.mbx_in_start, config.mbx_in_size, 0x0022, 0x0002}};
        for (const auto& entry : sms) {
            m_sii[w++] = entry[0];
            m_sii[w++] = entry[1];
            m_sii[w++] = entry[2];  // control, status
            m_sii[w++] = entry[3];  // enable, type
        }
    }
    m_sii[w++] = sii::CATEGORY_END;
    m_sii[w++] = 0xFFFF;
}

void Slave_Controller::power_up(int64_t now)
{
    std::fill(m_mem.begin(), m_mem.end(), 0);
    m_now = now;
    m_mem[reg::TYPE] = m_config.esc_type;
    m_mem[reg::REVISION] = 1;
    put16(&m_mem[reg::BUILD], 0x0001);
    m_mem[reg::FMMU_COUNT] = FMMU_COUNT;
    m_mem[reg::SM_COUNT] = SM_COUNT;
    m_mem[reg::RAM_SIZE] = RAM_KIB;
    uint8_t descriptor = 0;
    for (int p = 0; p < m_config.ports; ++p) {
        descriptor = static_cast<uint8_t>(descriptor | (0x3 << (2 * p)));  // MII
    }
    m_mem[reg::PORT_DESCRIPTOR] = descriptor;
    put16(&m_mem[reg::FEATURES], m_config.dc ? 0x010C : 0x0000);
    put16(&m_mem[reg::STATION_ALIAS], m_sii[sii::WORD_ALIAS]);
    put32(&m_mem[reg::DL_CONTROL], 0x00000001);
    put16(&m_mem[reg::WD_DIVIDER], 2498);
    put16(&m_mem[reg::WD_PDI_TIME], 1000);
    put16(&m_mem[reg::WD_PD_TIME], 1000);
    put16(&m_mem[reg::WD_PD_STATUS], 0x0001);
    for (int n = 0; n < SM_COUNT; ++n) {
        sm(n)[sm::STATUS] = 0;
    }
    if (m_config.dc) {
        put16(&m_mem[reg::DC_SPEED_START], 0x1000);
        put16(&m_mem[reg::DC_SYNC_PULSE], m_sii[sii::WORD_SYNC_PULSE]);
    }
    std::fill(std::begin(m_auto_closed), std::end(m_auto_closed), false);
    m_clock_correction = 0;
    m_drift_origin = now;
    m_dc_start = 0;
    m_sii_pending = 0;
    m_sii_busy_until = 0;
    m_sii_written = false;
    m_al_written = false;
    m_wd_armed = false;
    m_outputs_valid = false;
    m_outputs_received = false;
    m_queue.clear();
    m_last_sent_size = 0;
    m_last_counter = 0;
    if (m_coe) {
        m_coe->reset_transfers();
    }
    sii_load();
    m_state = AL_INIT;
    m_error = false;
    m_code = 0;
    publish_al();
    m_mem[reg::EVENT_REQUEST] = 0;
    put16(&m_mem[reg::AL_CONTROL], AL_INIT);
    if (m_device) {
        m_device->dictionary().set_al_state(AL_INIT);
        m_device->state_changed(AL_INIT);
    }
}

void Slave_Controller::sii_load()
{
    uint16_t status = static_cast<uint16_t>(m_config.eeprom_read_bytes == 8 ? sii::READ_SIZE_8 : 0);
    const uint16_t stored = m_sii[sii::WORD_CHECKSUM];
    if (stored != sii::CHECKSUM_DISABLED && (stored & 0xFF) != crc8(m_sii.data(), 7)) {
        status |= sii::ERROR_CHECKSUM | sii::ERROR_NOT_LOADED;
    } else {
        m_mem[reg::PDI_CONTROL] = static_cast<uint8_t>(m_sii[sii::WORD_PDI_CONTROL]);
        m_mem[reg::ESC_CONFIG] = static_cast<uint8_t>(m_sii[sii::WORD_PDI_CONTROL] >> 8);
    }
    put16(&m_mem[reg::SII_CONTROL], status);
}

void Slave_Controller::set_link(int port, bool up)
{
    if (m_link[port] && !up) {
        m_auto_closed[port] = true;
        uint8_t& lost = m_mem[reg::LOST_LINK + port];
        lost = static_cast<uint8_t>(lost == 0xFF ? 0xFF : lost + 1);
    }
    m_link[port] = up;
}

bool Slave_Controller::port_open(int port) const
{
    if (port >= m_config.ports) {
        return false;
    }
    const uint8_t mode = static_cast<uint8_t>((get32(&m_mem[reg::DL_CONTROL]) >> (8 + 2 * port)) & 3);
    switch (mode) {
    case 0: return m_link[port];
    case 1: return m_link[port] && !m_auto_closed[port];
    case 2: return true;  // forced open: without a link the frame is lost
    default: return false;
    }
}

bool Slave_Controller::matches_station(uint16_t adp) const
{
    if (get16(&m_mem[reg::STATION_ADDRESS]) == adp) {
        return true;
    }
    const bool alias_enabled = (get32(&m_mem[reg::DL_CONTROL]) & 0x01000000) != 0;
    return alias_enabled && get16(&m_mem[reg::STATION_ALIAS]) == adp;
}

uint16_t Slave_Controller::irq() const
{
    return static_cast<uint16_t>(get16(&m_mem[reg::EVENT_REQUEST]) & get16(&m_mem[reg::EVENT_MASK]));
}

void Slave_Controller::begin_frame(const Frame_Times& times)
{
    m_times = times;
    m_now = times.unit;
    m_latch = false;
    m_frame_logical = false;
    std::fill(std::begin(m_sm_last_written), std::end(m_sm_last_written), false);
    std::fill(std::begin(m_sm_last_read), std::end(m_sm_last_read), false);
}

// DC registers exist only in a slave with a distributed clock. A slave without
// one does not count an access that lies wholly in 0x0900-0x09FF (chosen: the
// sources do not say how such a slave answers FRMW/ARMW on the system time).
bool Slave_Controller::dc_only(uint16_t address, size_t length) const
{
    return address >= 0x0900 && address + length <= 0x0A00;
}

Slave_Controller::Access_Result Slave_Controller::check_sm_access(uint16_t address, size_t length, bool write) const
{
    for (int n = 0; n < SM_COUNT; ++n) {
        if (!sm_enabled(n) || !overlaps(address, length, sm_start(n), sm_length(n))) {
            continue;
        }
        if (sm(n)[sm::PDI_CONTROL] & sm::PDI_DEACTIVATED) {
            return Access_Result::BLOCKED;
        }
        if ((sm_control(n) & sm::MODE_MASK) != sm::MODE_MAILBOX) {
            continue;
        }
        const bool master_writes = (sm_control(n) & sm::DIRECTION_MASK) == sm::DIRECTION_MASTER_WRITES;
        const bool full = (sm(n)[sm::STATUS] & sm::STATUS_MAILBOX_FULL) != 0;
        if (master_writes && write && full) {
            return Access_Result::BLOCKED;
        }
        if (!master_writes && (write || !full)) {
            return Access_Result::BLOCKED;
        }
    }
    return Access_Result::OK;
}

bool Slave_Controller::writable(uint16_t a) const
{
    if (a >= reg::RAM) {
        return a < RAM_END;
    }
    auto in = [a](uint16_t first, uint16_t last) { return a >= first && a <= last; };
    if (in(0x0010, 0x0011) || in(0x0100, 0x0103) || in(0x0120, 0x0121) || in(0x0200, 0x0201) || in(0x0400, 0x0401) ||
        in(0x0410, 0x0411) || in(0x0420, 0x0421) || in(0x0500, 0x0500) || in(0x0502, 0x050F) ||
        in(0x0600, reg::FMMU_BASE + reg::FMMU_SIZE * FMMU_COUNT - 1) || in(0x0F00, 0x0F03)) {
        return true;
    }
    if (in(reg::SM_BASE, reg::SM_BASE + reg::SM_SIZE * SM_COUNT - 1)) {
        const int offset = (a - reg::SM_BASE) % reg::SM_SIZE;
        return offset != sm::STATUS && offset != sm::PDI_CONTROL;
    }
    if (m_config.dc) {
        return in(0x0920, 0x092B) || in(0x0930, 0x0931) || in(0x0980, 0x0981) || in(0x0990, 0x0997) ||
               in(0x09A0, 0x09A7);
    }
    return false;
}

void Slave_Controller::refresh(uint16_t address, size_t length)
{
    if (overlaps(address, length, reg::DL_STATUS, 2)) {
        uint16_t status = (get16(&m_mem[reg::SII_CONTROL]) & sii::ERROR_NOT_LOADED) ? 0 : 0x0001;
        for (int p = 0; p < MAX_PORTS; ++p) {
            if (m_link[p]) {
                status = static_cast<uint16_t>(status | (1u << (4 + p)) | (1u << (9 + 2 * p)));
            }
            if (!port_open(p)) {
                status = static_cast<uint16_t>(status | (1u << (8 + 2 * p)));
            }
        }
        put16(&m_mem[reg::DL_STATUS], status);
    }
    if (overlaps(address, length, reg::SII_CONTROL, 14)) {
        sii_complete(m_now);
        uint16_t control = get16(&m_mem[reg::SII_CONTROL]);
        const bool busy = m_sii_pending != 0 || m_now < m_sii_busy_until;
        control = static_cast<uint16_t>(busy ? control | sii::BUSY : control & ~sii::BUSY);
        put16(&m_mem[reg::SII_CONTROL], control);
    }
    if (!m_config.dc) {
        return;
    }
    if (overlaps(address, length, reg::DC_SYSTEM_TIME, 8)) {
        put64(&m_mem[reg::DC_SYSTEM_TIME], static_cast<uint64_t>(system_time(m_times.unit)));
    }
    const bool running = (m_mem[reg::DC_ACTIVATION] & 0x03) == 0x03;
    const int64_t system = system_time(m_times.unit);
    if (overlaps(address, length, reg::DC_START_TIME, 8)) {
        put64(&m_mem[reg::DC_START_TIME], running ? next_sync0(system) : m_dc_start);
    }
    if (overlaps(address, length, reg::DC_NEXT_SYNC1, 8)) {
        // SYNC1 fires its own cycle after each SYNC0.
        const bool sync1 = running && (m_mem[reg::DC_ACTIVATION] & 0x04) != 0;
        uint64_t next = 0;
        if (sync1) {
            const uint64_t cycle0 = get32(&m_mem[reg::DC_SYNC0_CYCLE]);
            const uint64_t cycle1 = get32(&m_mem[reg::DC_SYNC1_CYCLE]);
            const uint64_t sync0 = next_sync0(system);
            next = sync0 + cycle1;
            if (cycle0 != 0 && sync0 >= cycle0 + m_dc_start &&
                sync0 - cycle0 + cycle1 > static_cast<uint64_t>(system)) {
                next = sync0 - cycle0 + cycle1;  // the SYNC1 of the SYNC0 just passed is still ahead
            }
        }
        put64(&m_mem[reg::DC_NEXT_SYNC1], next);
    }
    if (overlaps(address, length, reg::DC_ACTIVATION_STATUS, 1)) {
        m_mem[reg::DC_ACTIVATION_STATUS] =
            static_cast<uint8_t>(running && system < static_cast<int64_t>(m_dc_start) ? 0x01 : 0x00);
    }
}

void Slave_Controller::read_bytes(uint16_t address, uint8_t* out, size_t length)
{
    refresh(address, length);
    const size_t inside = std::min(length, MEMORY_SIZE - address);
    std::memcpy(out, &m_mem[address], inside);
    std::memset(out + inside, 0, length - inside);
    if (overlaps(address, length, reg::AL_STATUS, 1)) {
        m_mem[reg::EVENT_REQUEST] &= static_cast<uint8_t>(~0x08);
    }
    after_read(address, length);
}

void Slave_Controller::write_bytes(uint16_t address, const uint8_t* in, size_t length)
{
    const bool sii_busy = m_sii_pending != 0 || m_now < m_sii_busy_until;
    bool al = false, dl = false, sii = false, latch = false, steer = false;
    for (size_t i = 0; i < length && address + i < MEMORY_SIZE; ++i) {
        const uint16_t a = static_cast<uint16_t>(address + i);
        if (a >= reg::RX_ERROR && a <= 0x0313) {
            if (a <= 0x030B) {
                std::memset(&m_mem[reg::RX_ERROR], 0, 0x0C);
            } else if (a != 0x030E && a != 0x030F) {
                m_mem[a] = 0;
            }
            continue;
        }
        if (m_config.dc && a >= reg::DC_RECEIVE_TIME && a < reg::DC_RECEIVE_TIME + 4) {
            latch = true;
            continue;
        }
        if (m_config.dc && a >= reg::DC_SYSTEM_TIME && a < reg::DC_SYSTEM_TIME + 8) {
            steer = true;
            continue;
        }
        if (!writable(a)) {
            continue;
        }
        if (a >= reg::SM_BASE && a < reg::SM_BASE + reg::SM_SIZE * SM_COUNT) {
            const int n = (a - reg::SM_BASE) / reg::SM_SIZE;
            const int offset = (a - reg::SM_BASE) % reg::SM_SIZE;
            if (offset < sm::STATUS && sm_enabled(n)) {
                continue;  // start, length and control are fixed while enabled
            }
            if (offset == sm::ACTIVATE) {
                const bool was = sm_enabled(n);
                m_mem[a] = static_cast<uint8_t>(in[i] & (sm::ACTIVATE_ENABLE | sm::ACTIVATE_REPEAT | 0xC0));
                if (!was && sm_enabled(n)) {
                    sm(n)[sm::STATUS] = 0;  // a freshly enabled buffer is empty
                    sm(n)[sm::PDI_CONTROL] = static_cast<uint8_t>((sm(n)[sm::PDI_CONTROL] & ~sm::PDI_REPEAT_ACK) |
                                                                  (m_mem[a] & sm::ACTIVATE_REPEAT));
                }
                continue;
            }
        }
        if (a >= reg::SII_CONTROL && a <= 0x050F) {
            if (sii_busy) {
                continue;
            }
            if (a == reg::SII_CONTROL) {
                m_mem[a] = static_cast<uint8_t>((m_mem[a] & ~0x01) | (in[i] & 0x01));
                sii = true;
                continue;
            }
            if (a == reg::SII_CONTROL + 1) {
                m_mem[a] = static_cast<uint8_t>((m_mem[a] & ~0x07) | (in[i] & 0x07));
                sii = true;
                continue;
            }
        }
        if (a >= reg::DC_START_TIME && a < reg::DC_START_TIME + 8) {
            if ((m_mem[reg::DC_ACTIVATION] & 0x01) == 0) {
                uint8_t bytes[8];
                put64(bytes, m_dc_start);
                bytes[a - reg::DC_START_TIME] = in[i];
                m_dc_start = get64(bytes);
            }
            continue;
        }
        if (a == reg::DC_SPEED_START || a == reg::DC_SPEED_START + 1) {
            put32(&m_mem[reg::DC_TIME_DIFFERENCE], 0);
        }
        m_mem[a] = in[i];
        al = al || a == reg::AL_CONTROL || a == reg::AL_CONTROL + 1;
        dl = dl || (a >= reg::DL_CONTROL && a < reg::DL_CONTROL + 4);
    }
    if (al) {
        m_al_written = true;
    }
    if (dl) {
        std::fill(std::begin(m_auto_closed), std::end(m_auto_closed), false);
    }
    if (sii) {
        m_sii_written = true;
        m_sii_written_value = get16(&m_mem[reg::SII_CONTROL]);
    }
    if (latch) {
        m_latch = true;
    }
    if (steer) {
        const size_t begin = std::max<size_t>(address, reg::DC_SYSTEM_TIME) - address;
        const size_t end = std::min<size_t>(address + length, reg::DC_SYSTEM_TIME + 8) - address;
        dc_steer(in + begin, end - begin);
    }
    after_write(address, length);
}

void Slave_Controller::after_write(uint16_t address, size_t length)
{
    for (int n = 0; n < SM_COUNT; ++n) {
        if (!sm_enabled(n) || !overlaps(address, length, sm_start(n), sm_length(n))) {
            continue;
        }
        const uint32_t last = sm_start(n) + sm_length(n) - 1u;
        const bool master_writes = (sm_control(n) & sm::DIRECTION_MASK) == sm::DIRECTION_MASTER_WRITES;
        if (!master_writes || last < address || last >= address + length) {
            continue;
        }
        m_sm_last_written[n] = true;
        sm(n)[sm::STATUS] |= sm::STATUS_WRITTEN;
        if ((sm_control(n) & sm::MODE_MASK) == sm::MODE_MAILBOX) {
            sm(n)[sm::STATUS] |= sm::STATUS_MAILBOX_FULL;
        } else if (sm_control(n) & sm::CONTROL_WATCHDOG) {
            m_wd_last = m_now;
            m_wd_armed = true;
            m_mem[reg::WD_PD_STATUS] |= 0x01;
        }
    }
}

void Slave_Controller::after_read(uint16_t address, size_t length)
{
    for (int n = 0; n < SM_COUNT; ++n) {
        if (!sm_enabled(n) || !overlaps(address, length, sm_start(n), sm_length(n))) {
            continue;
        }
        const uint32_t last = sm_start(n) + sm_length(n) - 1u;
        const bool master_reads = (sm_control(n) & sm::DIRECTION_MASK) == sm::DIRECTION_MASTER_READS;
        if (!master_reads || last < address || last >= address + length) {
            continue;
        }
        m_sm_last_read[n] = true;
        sm(n)[sm::STATUS] |= sm::STATUS_READ;
        if ((sm_control(n) & sm::MODE_MASK) == sm::MODE_MAILBOX) {
            sm(n)[sm::STATUS] &= static_cast<uint8_t>(~sm::STATUS_MAILBOX_FULL);
        }
    }
}

int Slave_Controller::physical(uint8_t command, uint16_t ado, uint8_t* data, size_t length, bool reader)
{
    if (!m_config.dc && dc_only(ado, length)) {
        return 0;
    }
    bool read = false, write = false;
    switch (command) {
    case CMD_APRD:
    case CMD_FPRD:
    case CMD_BRD: read = true; break;
    case CMD_APWR:
    case CMD_FPWR:
    case CMD_BWR: write = true; break;
    case CMD_APRW:
    case CMD_FPRW:
    case CMD_BRW: read = write = true; break;
    case CMD_ARMW:
    case CMD_FRMW:
        read = reader;
        write = !reader;
        break;
    default: return 0;
    }
    if ((read && check_sm_access(ado, length, false) == Access_Result::BLOCKED) ||
        (write && check_sm_access(ado, length, true) == Access_Result::BLOCKED)) {
        return 0;
    }
    uint8_t original[MAX_DATAGRAM_DATA];
    if (read && write) {
        std::memcpy(original, data, length);
    }
    if (read) {
        if (command == CMD_BRD || command == CMD_BRW) {
            uint8_t memory[MAX_DATAGRAM_DATA];
            read_bytes(ado, memory, length);
            for (size_t i = 0; i < length; ++i) {
                data[i] = static_cast<uint8_t>(data[i] | memory[i]);
            }
        } else {
            read_bytes(ado, data, length);
        }
    }
    if (write) {
        write_bytes(ado, read ? original : data, length);
    }
    return (read ? 1 : 0) + (write ? (read ? 2 : 1) : 0);
}

int Slave_Controller::logical(uint8_t command, uint32_t address, uint8_t* data, size_t length)
{
    const bool want_read = command == CMD_LRD || command == CMD_LRW;
    const bool want_write = command == CMD_LWR || command == CMD_LRW;
    uint8_t original[MAX_DATAGRAM_DATA];
    std::memcpy(original, data, length);
    const uint64_t d0 = static_cast<uint64_t>(address) * 8;
    const uint64_t d1 = d0 + length * 8 - 1;
    bool did_read = false, did_write = false;
    for (int pass = 0; pass < 2; ++pass) {  // reads first: they return the memory before the writes
        const bool reading = pass == 0;
        if ((reading && !want_read) || (!reading && !want_write)) {
            continue;
        }
        for (int f = 0; f < FMMU_COUNT; ++f) {
            const uint8_t* r = &m_mem[reg::FMMU_BASE + reg::FMMU_SIZE * f];
            if (!(r[fmmu::ACTIVATE] & 1) || !(r[fmmu::TYPE] & (reading ? fmmu::TYPE_READ : fmmu::TYPE_WRITE))) {
                continue;
            }
            const uint16_t flen = get16(r + fmmu::LENGTH);
            if (flen == 0) {
                continue;
            }
            const uint64_t f0 =
                static_cast<uint64_t>(get32(r + fmmu::LOGICAL_START)) * 8 + (r[fmmu::LOGICAL_START_BIT] & 7);
            const uint64_t f1 = (static_cast<uint64_t>(get32(r + fmmu::LOGICAL_START)) + flen - 1) * 8 +
                                (r[fmmu::LOGICAL_STOP_BIT] & 7);
            const uint64_t o0 = std::max(f0, d0);
            const uint64_t o1 = std::min(f1, d1);
            if (f1 < f0 || o0 > o1) {
                continue;
            }
            const uint64_t p_base =
                static_cast<uint64_t>(get16(r + fmmu::PHYSICAL_START)) * 8 + (r[fmmu::PHYSICAL_START_BIT] & 7);
            const uint64_t p0 = p_base + (o0 - f0);
            const uint64_t p1 = p_base + (o1 - f0);
            if (p1 / 8 >= MEMORY_SIZE) {
                continue;
            }
            const uint16_t first = static_cast<uint16_t>(p0 / 8);
            const size_t bytes = p1 / 8 - p0 / 8 + 1;
            if (check_sm_access(first, bytes, !reading) == Access_Result::BLOCKED) {
                continue;
            }
            m_frame_logical = true;
            if (reading) {
                refresh(first, bytes);
                if ((o0 - d0) % 8 == 0 && p0 % 8 == 0 && (o1 - o0 + 1) % 8 == 0) {
                    std::memcpy(data + (o0 - d0) / 8, &m_mem[first], (o1 - o0 + 1) / 8);
                } else {
                    for (uint64_t b = o0; b <= o1; ++b) {
                        put_bit(data, b - d0, get_bit(m_mem.data(), p_base + (b - f0)));
                    }
                }
                after_read(first, bytes);
                did_read = true;
            } else {
                uint8_t staged[MAX_DATAGRAM_DATA + 2];
                std::memcpy(staged, &m_mem[first], bytes);
                // Bit-wise writes reach only the digital outputs; elsewhere
                // whole bytes are written.
                const bool bitwise = first >= reg::DIGITAL_OUTPUT && first + bytes <= reg::DIGITAL_OUTPUT + 4u;
                const uint64_t w0 = bitwise ? p0 : (p0 / 8) * 8;
                const uint64_t w1 = bitwise ? p1 : (p1 / 8) * 8 + 7;
                for (uint64_t pb = w0; pb <= w1; ++pb) {
                    const int64_t lb =
                        static_cast<int64_t>(f0) + static_cast<int64_t>(pb) - static_cast<int64_t>(p_base);
                    if (lb < static_cast<int64_t>(d0) || lb > static_cast<int64_t>(d1)) {
                        continue;
                    }
                    put_bit(staged, pb - static_cast<uint64_t>(first) * 8,
                            get_bit(original, static_cast<uint64_t>(lb) - d0));
                }
                write_bytes(first, staged, bytes);
                did_write = true;
            }
        }
    }
    return (did_read ? 1 : 0) + (did_write ? (command == CMD_LRW ? 2 : 1) : 0);
}

void Slave_Controller::sii_command(uint16_t value)
{
    uint16_t control = get16(&m_mem[reg::SII_CONTROL]);
    const uint16_t command = value & sii::COMMAND_MASK;
    control = static_cast<uint16_t>(control & ~(sii::WRITE_ENABLE | sii::COMMAND_MASK));
    if (command == sii::COMMAND_IDLE) {
        control = static_cast<uint16_t>(control & ~(sii::ERROR_ACK | sii::ERROR_WRITE_ENABLE));
        put16(&m_mem[reg::SII_CONTROL], control);
        return;
    }
    if (command != sii::COMMAND_READ && command != sii::COMMAND_WRITE && command != sii::COMMAND_RELOAD) {
        put16(&m_mem[reg::SII_CONTROL], static_cast<uint16_t>(control | sii::ERROR_ACK));
        return;
    }
    if (command == sii::COMMAND_WRITE && !(value & sii::WRITE_ENABLE)) {
        put16(&m_mem[reg::SII_CONTROL], static_cast<uint16_t>(control | sii::ERROR_WRITE_ENABLE));
        return;
    }
    put16(&m_mem[reg::SII_CONTROL], static_cast<uint16_t>(control | command));
    m_sii_pending = command;
    const uint32_t us = command == sii::COMMAND_READ ? m_config.eeprom_read_us : m_config.eeprom_write_us;
    m_sii_done = m_now + static_cast<int64_t>(us) * 1000;
}

void Slave_Controller::sii_complete(int64_t now)
{
    if (m_sii_pending == 0 || now < m_sii_done) {
        return;
    }
    const int command = m_sii_pending;
    m_sii_pending = 0;
    uint16_t control = static_cast<uint16_t>(get16(&m_mem[reg::SII_CONTROL]) & ~sii::COMMAND_MASK);
    if (m_sii_nack > 0) {
        --m_sii_nack;
        put16(&m_mem[reg::SII_CONTROL], static_cast<uint16_t>(control | sii::ERROR_ACK));
        return;
    }
    const uint32_t word = get32(&m_mem[reg::SII_ADDRESS]);
    if (command == sii::COMMAND_READ) {
        const int words = m_config.eeprom_read_bytes / 2;
        for (int i = 0; i < words; ++i) {
            const uint16_t value = word + i < SII_WORDS ? m_sii[word + i] : 0xFFFF;
            put16(&m_mem[reg::SII_DATA + 2 * i], value);
        }
    } else if (command == sii::COMMAND_WRITE) {
        if (word < SII_WORDS) {
            m_sii[word] = get16(&m_mem[reg::SII_DATA]);
        } else {
            control |= sii::ERROR_ACK;
        }
    } else {
        put16(&m_mem[reg::SII_CONTROL], control);
        sii_load();  // reload: checksum and ESC configuration, the alias only at power-up
        return;
    }
    put16(&m_mem[reg::SII_CONTROL], control);
}

void Slave_Controller::set_eeprom_busy(int64_t until)
{
    m_sii_busy_until = until;
}

// A change of the AL status raises the AL status event (0x0210 bit 3) until
// the master reads the AL status.
void Slave_Controller::publish_al()
{
    const uint16_t status = static_cast<uint16_t>(m_state | (m_error ? AL_ERROR : 0));
    if (status != get16(&m_mem[reg::AL_STATUS])) {
        m_mem[reg::EVENT_REQUEST] |= 0x08;
    }
    put16(&m_mem[reg::AL_STATUS], status);
    put16(&m_mem[reg::AL_STATUS_CODE], m_code);
}

void Slave_Controller::enter(uint8_t state, uint16_t code, bool error)
{
    const uint8_t from = m_state;
    m_state = state;
    m_error = error;
    if (error || code != 0) {
        m_code = code;
    } else if (from != state) {
        m_code = 0;  // a clean transition clears the code
    }
    publish_al();
    if (m_log != nullptr && m_log->transitions() && (from != state || error)) {
        Log_Record record;
        record.kind = Log_Record::AL_TRANSITION;
        record.time_ns = m_now;
        record.slave = static_cast<uint16_t>(m_position);
        record.from = from;
        record.to = state;
        record.code = code;
        m_log->push(record);
    }
    if (state < AL_SAFEOP) {
        m_outputs_valid = false;
        m_outputs_received = false;
    }
    if (state < AL_PREOP) {
        // The mailbox is off in INIT: the next message starts a new
        // exchange, whatever counter its master begins with.
        m_last_counter = 0;
        if (m_coe) {
            m_coe->reset_transfers();
        }
    }
    if (from != state && m_device) {
        m_device->dictionary().set_al_state(static_cast<Al_State>(state));
        m_device->state_changed(static_cast<Al_State>(state));
    }
}

uint16_t Slave_Controller::check_mailbox_sms() const
{
    if (!m_config.has_mailbox()) {
        return 0;
    }
    auto matches = [this](int n, uint16_t start, uint16_t size, uint8_t direction) {
        return sm_enabled(n) && sm_start(n) == start && sm_length(n) == size &&
               (sm_control(n) & sm::MODE_MASK) == sm::MODE_MAILBOX && (sm_control(n) & sm::DIRECTION_MASK) == direction;
    };
    if (!matches(0, m_config.mbx_out_start, m_config.mbx_out_size, sm::DIRECTION_MASTER_WRITES) ||
        !matches(1, m_config.mbx_in_start, m_config.mbx_in_size, sm::DIRECTION_MASTER_READS)) {
        return al_code::INVALID_MAILBOX_CONFIG;
    }
    return 0;
}

// The slave checks its sync managers, not the FMMUs: the sources agree that
// an ESC does not look at the FMMU set-up on this step.
uint16_t Slave_Controller::check_process_sms()
{
    m_rx = Pdo_Layout{};
    m_tx = Pdo_Layout{};
    if (m_device) {
        m_rx = read_pdo_layout(m_device->dictionary(), 0x1C12);
        m_tx = read_pdo_layout(m_device->dictionary(), 0x1C13);
    }
    auto check = [this](int n, const Pdo_Layout& layout, uint8_t direction) {
        if (!layout.valid) {
            return false;
        }
        if (layout.bytes() == 0) {
            return !sm_enabled(n) || sm_length(n) == 0;
        }
        return sm_enabled(n) && sm_length(n) == layout.bytes() &&
               (sm_control(n) & sm::MODE_MASK) == sm::MODE_BUFFERED &&
               (sm_control(n) & sm::DIRECTION_MASK) == direction;
    };
    if (!check(m_out_sm, m_rx, sm::DIRECTION_MASTER_WRITES)) {
        return al_code::INVALID_OUTPUT_CONFIG;
    }
    if (!check(m_in_sm, m_tx, sm::DIRECTION_MASTER_READS)) {
        return al_code::INVALID_INPUT_CONFIG;
    }
    m_outputs.assign(m_rx.bytes(), 0);
    m_unplaced_inputs.assign(m_tx.bytes(), 0);
    return 0;
}

uint16_t Slave_Controller::check_transition(uint8_t from, uint8_t to)
{
    if (!is_state(to)) {
        return al_code::UNKNOWN_STATE;
    }
    if (m_refuse_code[to] != 0 && to != from) {
        return m_refuse_code[to];
    }
    if (to == AL_BOOT) {
        return from == AL_INIT ? al_code::BOOT_NOT_SUPPORTED : al_code::INVALID_TRANSITION;
    }
    if (from == AL_BOOT) {
        return to == AL_INIT ? 0 : al_code::INVALID_TRANSITION;
    }
    if (to <= from) {
        return 0;
    }
    if (from == AL_INIT && to == AL_PREOP) {
        return check_mailbox_sms();
    }
    if (from == AL_PREOP && to == AL_SAFEOP) {
        return check_process_sms();
    }
    if (from == AL_SAFEOP && to == AL_OP) {
        return m_rx.bytes() != 0 && !m_outputs_received ? al_code::SM_WATCHDOG : 0;
    }
    return al_code::INVALID_TRANSITION;
}

void Slave_Controller::al_request(uint16_t control)
{
    const uint8_t requested = static_cast<uint8_t>(control & AL_STATE_MASK);
    const bool acknowledge = (control & AL_ERROR) != 0;
    if (m_config.device == Device_Kind::NONE) {
        // Device emulation: the status follows the control register.
        enter(requested, 0, false);
        return;
    }
    // While the error indication is set, only an acknowledge or a request
    // for INIT is taken (common slave behaviour; the standard's wording was
    // not available).
    if (m_error && !acknowledge && requested != AL_INIT) {
        return;
    }
    if (requested == m_state) {
        if (acknowledge || (m_error && requested == AL_INIT)) {
            m_error = false;
            publish_al();
        }
        return;
    }
    const uint16_t code = check_transition(m_state, requested);
    if (code != 0) {
        enter(m_state, code, true);
        return;
    }
    if (requested == AL_SAFEOP && m_state == AL_PREOP && m_device) {
        // Inputs are valid before the master sees SAFE-OP.
        std::vector<uint8_t>& out = m_outputs;
        uint8_t* inputs = sm_enabled(m_in_sm) && sm_fits(m_in_sm) ? &m_mem[sm_start(m_in_sm)] : nullptr;
        if (inputs != nullptr && m_tx.bytes() != 0) {
            m_device->cycle(m_rx, out.data(), false, m_tx, inputs, m_now);
        }
    }
    enter(requested, 0, false);
}

void Slave_Controller::force_state(uint8_t state, uint16_t code)
{
    enter(state, code, code != 0);
}

void Slave_Controller::refuse(uint8_t target_state, uint16_t code)
{
    m_refuse_code[target_state & 0x0F] = code;
}

bool Slave_Controller::set_error_counter(uint16_t address, uint8_t value)
{
    if (address < reg::RX_ERROR || address > 0x0313 || address == 0x030E || address == 0x030F) {
        return false;
    }
    m_mem[address] = value;
    return true;
}

bool Slave_Controller::send_emergency(const Emergency& emergency)
{
    if (!m_coe) {
        return false;
    }
    m_coe->emergency(emergency, m_queue);
    load_read_mailbox();
    return true;
}

void Slave_Controller::read_memory(uint16_t address, uint8_t* out, size_t length, int64_t now)
{
    m_now = now;
    refresh(address, length);
    const size_t inside = std::min(length, MEMORY_SIZE - address);
    std::memcpy(out, &m_mem[address], inside);
    std::memset(out + inside, 0, length - inside);
}

void Slave_Controller::load_read_mailbox()
{
    if (!m_config.has_mailbox() || !sm_enabled(1) || !sm_fits(1) || (sm(1)[sm::STATUS] & sm::STATUS_MAILBOX_FULL) ||
        m_queue.empty()) {
        return;
    }
    size_t size = 0;
    const uint8_t* message = m_queue.front(size);
    const uint16_t length = sm_length(1);
    const size_t copied = std::min<size_t>(size, length);
    std::memset(&m_mem[sm_start(1)], 0, length);
    std::memcpy(&m_mem[sm_start(1)], message, copied);
    std::memcpy(m_last_sent, message, copied);
    m_last_sent_size = copied;
    m_queue.pop();
    sm(1)[sm::STATUS] |= sm::STATUS_MAILBOX_FULL;
}

void Slave_Controller::mailbox_end_frame()
{
    if (!m_config.has_mailbox()) {
        return;
    }
    if (m_state >= AL_PREOP && m_state != AL_BOOT && sm_enabled(0) && sm_fits(0) &&
        (sm(0)[sm::STATUS] & sm::STATUS_MAILBOX_FULL)) {
        const uint8_t* message = &m_mem[sm_start(0)];
        const uint8_t counter =
            static_cast<uint8_t>((message[mbx::TYPE_COUNTER] >> mbx::COUNTER_SHIFT) & mbx::COUNTER_MASK);
        if (counter == 0 || counter != m_last_counter) {
            m_last_counter = counter;
            if (m_coe) {
                m_coe->handle(message, sm_length(0), m_queue);
            } else {
                // A mailbox without CoE answers every request with an error reply.
                uint8_t* reply = m_queue.push_slot();
                if (reply != nullptr) {
                    std::memset(reply, 0, 10);
                    put16(reply + mbx::LENGTH, 4);
                    reply[mbx::TYPE_COUNTER] = mbx::TYPE_ERROR | (1 << mbx::COUNTER_SHIFT);
                    put16(reply + mbx::HEADER_SIZE, mbx::ERROR_SERVICE);
                    put16(reply + mbx::HEADER_SIZE + 2, mbx::ERROR_UNSUPPORTED_PROTOCOL);
                    m_queue.commit(10);
                }
            }
        }
        sm(0)[sm::STATUS] &= static_cast<uint8_t>(~sm::STATUS_MAILBOX_FULL);
    }
    // Repeat request: the last message goes back into the read mailbox.
    if (sm_enabled(1) && sm_fits(1)) {
        const uint8_t request = sm(1)[sm::ACTIVATE] & sm::ACTIVATE_REPEAT;
        if (request != (sm(1)[sm::PDI_CONTROL] & sm::PDI_REPEAT_ACK)) {
            if (m_last_sent_size != 0) {
                std::memset(&m_mem[sm_start(1)], 0, sm_length(1));
                std::memcpy(&m_mem[sm_start(1)], m_last_sent, std::min<size_t>(m_last_sent_size, sm_length(1)));
                sm(1)[sm::STATUS] |= sm::STATUS_MAILBOX_FULL;
            }
            sm(1)[sm::PDI_CONTROL] = static_cast<uint8_t>((sm(1)[sm::PDI_CONTROL] & ~sm::PDI_REPEAT_ACK) | request);
        }
    }
    if (m_device && m_coe) {
        Emergency emergency;
        while (m_device->take_emergency(emergency)) {
            m_coe->emergency(emergency, m_queue);
        }
    }
    load_read_mailbox();
}

int64_t Slave_Controller::local_time(int64_t host_ns) const
{
    const double drift = m_drift_ppm * 1e-6 * static_cast<double>(host_ns - m_drift_origin);
    return host_ns + m_clock_offset + m_clock_correction + static_cast<int64_t>(drift);
}

void Slave_Controller::clock_drift(double ppm, int64_t now)
{
    m_clock_correction = local_time(now) - now - m_clock_offset;
    m_drift_origin = now;
    m_drift_ppm = ppm;
}

int64_t Slave_Controller::system_time(int64_t host_ns) const
{
    return local_time(host_ns) + static_cast<int64_t>(get64(&m_mem[reg::DC_SYSTEM_OFFSET])) -
           static_cast<int64_t>(get32(&m_mem[reg::DC_SYSTEM_DELAY]));
}

void Slave_Controller::dc_latch()
{
    for (int p = 0; p < MAX_PORTS; ++p) {
        if (m_times.port[p] >= 0) {
            put32(&m_mem[reg::DC_RECEIVE_TIME + 4 * p], static_cast<uint32_t>(local_time(m_times.port[p])));
        }
    }
    put64(&m_mem[reg::DC_RECEIVE_TIME_PU], static_cast<uint64_t>(local_time(m_times.unit)));
}

// A write of the system time steers the clock toward the written value; the
// value itself is not loaded.
void Slave_Controller::dc_steer(const uint8_t* data, size_t length)
{
    const int64_t own = system_time(m_times.unit);
    int64_t difference = 0;
    if (length >= 8) {
        difference = own - static_cast<int64_t>(get64(data));
    } else if (length >= 4) {
        difference = static_cast<int32_t>(static_cast<uint32_t>(own) - get32(data));
    } else {
        return;
    }
    m_clock_correction -= difference / 4;
    const uint64_t magnitude = static_cast<uint64_t>(difference < 0 ? -difference : difference);
    put32(&m_mem[reg::DC_TIME_DIFFERENCE],
          static_cast<uint32_t>(std::min<uint64_t>(magnitude, 0x7FFFFFFF)) | (difference < 0 ? 0x80000000u : 0));
}

uint64_t Slave_Controller::next_sync0(int64_t system) const
{
    const uint64_t start = m_dc_start;
    const uint32_t cycle = get32(&m_mem[reg::DC_SYNC0_CYCLE]);
    if (system < static_cast<int64_t>(start) || cycle == 0) {
        return start;
    }
    return start + (static_cast<uint64_t>(system - static_cast<int64_t>(start)) / cycle + 1) * cycle;
}

void Slave_Controller::record_phase()
{
    if (!m_config.dc || (m_mem[reg::DC_ACTIVATION] & 0x03) != 0x03) {
        return;
    }
    const uint32_t cycle = get32(&m_mem[reg::DC_SYNC0_CYCLE]);
    const int64_t system = system_time(m_times.unit);
    if (cycle == 0 || system < static_cast<int64_t>(m_dc_start)) {
        return;
    }
    const int64_t phase = (system - static_cast<int64_t>(m_dc_start)) % cycle;
    if (m_phase.count == 0 || phase < m_phase.min) {
        m_phase.min = phase;
    }
    if (m_phase.count == 0 || phase > m_phase.max) {
        m_phase.max = phase;
    }
    m_phase.last = phase;
    ++m_phase.count;
}

void Slave_Controller::end_frame(bool frame_ok, int64_t now)
{
    m_now = now;
    if (!frame_ok) {
        return;
    }
    if (m_latch && m_config.dc) {
        dc_latch();
    }
    sii_complete(now);
    if (m_sii_written) {
        m_sii_written = false;
        if (m_sii_pending == 0 && now >= m_sii_busy_until) {
            sii_command(m_sii_written_value);
        }
    }
    if (m_al_written) {
        m_al_written = false;
        al_request(get16(&m_mem[reg::AL_CONTROL]));
    }
    mailbox_end_frame();
    if (m_state >= AL_SAFEOP && m_state != AL_BOOT) {
        if (m_out_sm >= 0 && m_sm_last_written[m_out_sm] && m_outputs.size() == sm_length(m_out_sm) &&
            sm_fits(m_out_sm)) {
            std::memcpy(m_outputs.data(), &m_mem[sm_start(m_out_sm)], m_outputs.size());
            m_outputs_received = true;
        }
        m_outputs_valid = m_state == AL_OP && m_outputs_received;
        if (m_device) {
            // Inputs go to the input buffer only while it has the layout's
            // size (a master may have cleared the SMs), else to a buffer of
            // that size that nobody reads.
            if (m_unplaced_inputs.size() < m_tx.bytes()) {
                m_unplaced_inputs.assign(m_tx.bytes(), 0);
            }
            if (m_outputs.size() < m_rx.bytes()) {
                m_outputs.assign(m_rx.bytes(), 0);
            }
            uint8_t* inputs =
                m_tx.bytes() != 0 && sm_enabled(m_in_sm) && sm_length(m_in_sm) == m_tx.bytes() && sm_fits(m_in_sm)
                    ? &m_mem[sm_start(m_in_sm)]
                    : m_unplaced_inputs.data();
            uint8_t none = 0;
            m_device->cycle(m_rx, m_outputs.empty() ? &none : m_outputs.data(), m_outputs_valid, m_tx,
                            m_tx.bytes() == 0 ? &none : inputs, now);
            m_last_cycle = now;
        }
    }
}

void Slave_Controller::housekeeping(int64_t now)
{
    m_now = now;
    watchdog(now);
    if (m_device && now - m_last_cycle > Device::IDLE_AFTER_NS) {
        m_device->idle(now);
    }
}

void Slave_Controller::watchdog(int64_t now)
{
    if (!m_wd_armed) {
        return;
    }
    const uint16_t ticks = get16(&m_mem[reg::WD_PD_TIME]);
    if (ticks == 0) {
        return;
    }
    const int64_t tick_ns = (static_cast<int64_t>(get16(&m_mem[reg::WD_DIVIDER])) + 2) * 40;
    if (now - m_wd_last <= tick_ns * ticks) {
        return;
    }
    m_wd_armed = false;
    m_mem[reg::WD_PD_STATUS] &= static_cast<uint8_t>(~0x01);
    uint8_t& expired = m_mem[reg::WD_PD_COUNTER];
    expired = static_cast<uint8_t>(expired == 0xFF ? 0xFF : expired + 1);
    if (m_state == AL_OP && m_config.watchdog && m_device) {
        enter(AL_SAFEOP, al_code::SM_WATCHDOG, true);
    }
}

}  // namespace ecat_sim
