// Writing the slaves' EEPROM: one word, the checksum of the configuration
// area, and a new station alias with its checksum.
#include <cerrno>
#include <ctime>
#include <stdexcept>

#include "ecm_log.h"
#include "ethercatbase.h"
#include "sii_checksum.h"
#include "xelo_ethercat_master_class.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr char THROUGH_GATE = 0;

constexpr uint16_t REG_EEPCTL = 0x0502;
constexpr uint16_t REG_EEPDAT = 0x0508;
constexpr uint16_t EEPROM_ERROR_MASK = 0x7800;
constexpr uint16_t EEPROM_NACK = 0x2000;
constexpr uint16_t EEPROM_COMMAND_WRITE = 0x0201;  // write, with the write-enable bit

constexpr uint16_t SII_WORD_ALIAS = 0x0004;
constexpr uint16_t SII_WORD_CHECKSUM = 0x0007;
constexpr uint16_t SII_WORD_SERIAL = 0x000E;

constexpr long ALIAS_WRITE_TIMEOUT_US = 100000;
constexpr long CHECKSUM_WRITE_TIMEOUT_US = 20000;
constexpr int ALIAS_ATTEMPTS = 5;

void sleep_us(long us)
{
    timespec rest{us / 1000000, (us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
    }
}

// Sent again while the working counter is 0 or negative.
template <typename Access>
int with_attempts(Access access)
{
    return ec_exchange_with_resends(access, 1);
}
}  // namespace

uint8_t ec_sii_crc8(const uint8_t* data, std::size_t length)
{
    // Augmented form: starting from 0x48, the data bits and then eight zero
    // bits are shifted through the register; the same as starting from 0xFF
    // in the direct form.
    uint8_t crc = 0x48;
    const auto shift_in = [&crc](unsigned bit) {
        const bool out = (crc & 0x80) != 0;
        crc = static_cast<uint8_t>((crc << 1) | bit);
        if (out)
            crc ^= 0x07;
    };
    for (std::size_t i = 0; i < length; ++i)
        for (int bit = 7; bit >= 0; --bit)
            shift_in((data[i] >> bit) & 1u);
    for (int bit = 0; bit < 8; ++bit)
        shift_in(0);
    return crc;
}

void ECM_Master::ec_writeeeprom_ex(int slave, uint16_t eeproma, uint16_t data, bool is_config_addr,
                                   long timeout_wait_us)
{
    if (!is_config_addr)
        throw std::runtime_error("ec_writeeeprom_ex Incr Add TODO");
    const uint16_t station = static_cast<uint16_t>(slave);
    assign_slave_eeprom_to_ecat_ex(slave, true);
    uint16_t estat = 0;
    if (eeprom_waitnotbusy_ex(slave, &estat, true, timeout_wait_us) == 0)
        throw std::runtime_error("ec_writeeeprom_ex EEPROM BUSY");
    if (estat & EEPROM_ERROR_MASK) {
        uint8_t clear[2] = {0, 0};
        (void)ec_FPWR(station, REG_EEPCTL, 2, clear, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        throw std::runtime_error("ec_writeeeprom_ex error bits are set -> clear error bits and retry");
    }
    for (int pass = 0; pass < 3; ++pass) {
        // A write that got no answer at all fails like one that found no slave.
        const int written = with_attempts([&] {
            uint8_t word[2] = {static_cast<uint8_t>(data & 0xFF), static_cast<uint8_t>(data >> 8)};
            return ec_FPWR(station, REG_EEPDAT, 2, word, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        });
        if (written <= 0)
            throw std::runtime_error("ec_writeeeprom_ex error: ec_FPWR ( ECT_REG_EEPDAT, data )");
        const int commanded = with_attempts([&] {
            uint8_t command[6] = {static_cast<uint8_t>(EEPROM_COMMAND_WRITE & 0xFF),
                                  static_cast<uint8_t>(EEPROM_COMMAND_WRITE >> 8),
                                  static_cast<uint8_t>(eeproma & 0xFF),
                                  static_cast<uint8_t>(eeproma >> 8),
                                  0,
                                  0};
            return ec_FPWR(station, REG_EEPCTL, 6, command, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        });
        if (commanded <= 0)
            throw std::runtime_error("ec_writeeeprom_ex error: ec_FPWR ( ECT_REG_EEPCTL, ed )");
        sleep_us(400);
        if (eeprom_waitnotbusy_ex(slave, &estat, true, timeout_wait_us) == 0)
            throw std::runtime_error("ec_writeeeprom_ex EEPROM BUSY after");
        if ((estat & EEPROM_NACK) == 0)
            return;
        sleep_us(1000);
    }
    // The word was never taken: reporting success would leave the caller
    // believing a value that the EEPROM does not hold.
    throw std::runtime_error("ec_writeeeprom_ex error: write not acknowledged");
}

void ECM_Master::ec_eeprom_write_checksum_ex(int slave)
{
    const ECM_Slave* last = nullptr;
    for (const ECM_Slave& s : m_slave)
        if (s.get_config_address() == slave)
            last = &s;
    if (last == nullptr)
        throw std::runtime_error("ECM_Master::ec_eeprom_write_checksum_ex -> slave not found:" + std::to_string(slave));
    uint16_t words[7] = {};
    last->get_first_seven_eeprom_word(words);
    uint8_t bytes[14];
    for (int w = 0; w < 7; ++w) {
        bytes[2 * w] = static_cast<uint8_t>(words[w] & 0xFF);
        bytes[2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
    }
    ec_writeeeprom_ex(slave, SII_WORD_CHECKSUM, ec_sii_crc8(bytes, sizeof(bytes)), true, CHECKSUM_WRITE_TIMEOUT_US);
}

void ECM_Master::write_slave_alias_into_eeprom_ex(int slave, uint16_t data)
{
    const uint16_t old_alias = get_slave_configured_alias(slave);
    const auto restore_and_fail = [&](const char* text) {
        try {
            ec_writeeeprom_ex(slave, SII_WORD_ALIAS, old_alias, true, ALIAS_WRITE_TIMEOUT_US);
        } catch (const std::exception& e) {
            ecm_log_war(std::string("ECM_Master:: ") + e.what());
        }
        throw std::runtime_error(text);
    };

    for (int attempt = 1;; ++attempt) {
        try {
            ec_writeeeprom_ex(slave, SII_WORD_ALIAS, data, true, ALIAS_WRITE_TIMEOUT_US);
            break;
        } catch (const std::exception& e) {
            ecm_log_war(std::string("ECM_Master:: ") + e.what());
            ecm_log_war("ECM_Master::write_slave_alias_into_eeprom_ex retry on slave:" + std::to_string(slave));
            if (attempt == ALIAS_ATTEMPTS)
                restore_and_fail("ec_writeeeprom_ex EEPROM_CONFIG_ALIAS error -> set old alias");
            sleep_us(100000);
        }
    }
    for (int attempt = 1;; ++attempt) {
        try {
            const uint16_t station = static_cast<uint16_t>(slave);
            set_slave_fisrt_seven_eeprom_words(station, station, true, true);
            ec_eeprom_write_checksum_ex(slave);
            break;
        } catch (const std::exception& e) {
            ecm_log_war(std::string("ECM_Master:: ") + e.what());
            ecm_log_war("ECM_Master::ec_eeprom_write_checksum_ex retry on slave:" + std::to_string(slave));
            if (attempt == ALIAS_ATTEMPTS)
                restore_and_fail("ec_eeprom_write_checksum_ex error -> set old alias");
            sleep_us(100000);
        }
    }
    save_slave_config_alias_change(slave, data);
}

void ECM_Master::save_slave_config_alias_change(int conf_addr, int conf_alias)
{
    for (ECM_Slave& s : m_slave)
        if (s.get_config_address() == conf_addr)
            s.set_config_alias(static_cast<uint16_t>(conf_alias & 0xFFFF));
}

void ECM_Master::save_slave_serial_number_change(int conf_addr, int /*ser_num*/)
{
    for (ECM_Slave& s : m_slave)
        if (s.get_config_address() == conf_addr)
            s.set_serial_number(read_slave_data_from_eeprom_ex(conf_addr, SII_WORD_SERIAL, true));
}
