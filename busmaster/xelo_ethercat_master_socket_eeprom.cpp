// Command handlers of the EEPROM alias write, the identity by ring position
// and the link walk.
#include <stdexcept>

#include "ecm_log.h"
#include "ecm_request_arguments.h"
#include "xelo_ethercat_master_socket.h"
#include "xelo_string_functions.h"

namespace {
constexpr uint16_t SII_WORD_VENDOR = 8;
constexpr uint16_t SII_WORD_PRODUCT = 10;
constexpr uint16_t SII_WORD_SERIAL = 14;
constexpr uint16_t SII_WORD_ALIAS = 4;
}  // namespace

std::string ECM_Master_Socket::write_config_alias_into_eeprom_slave_exec(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    try {
        const uint16_t address = read_uint16_argument_ex(args, "slave");
        const uint16_t alias = read_uint16_argument_ex(args, "alias");
        write_slave_alias_into_eeprom_ex(address, alias);
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on write_config_alias_into ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::auto_incr_slave_info_exec(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    const uint16_t position = read_uint16_argument_ex(args, "position");
    const uint16_t address = static_cast<uint16_t>(0 - position);
    try {
        std::string reply = "5";
        for (uint16_t word : {SII_WORD_VENDOR, SII_WORD_PRODUCT, SII_WORD_SERIAL, SII_WORD_ALIAS})
            reply += " " + XELO_String_Functions::num2str(
                               static_cast<int32_t>(read_slave_data_from_eeprom_ex(address, word, false)));
        return reply;
    } catch (const std::exception&) {
        ecm_log_err("Error on auto_incr_slave_info_exec on slave at incr addr: " + std::to_string(address));
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::check_slaves_link_exec(std::istream& /*args*/)
{
    m_is_critical_request_real_udp = false;
    try {
        start_check_slaves_link_ex();
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on start_check_slaves_link ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}
