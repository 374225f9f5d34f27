// The port functions over the topology fields, and the master's side of the
// link walk: refused while the cycle runs, addresses given back, the count
// published and checked against the ENI.
#include <stdexcept>

#include "ecm_log.h"
#include "link_walk.h"
#include "xelo_ethercat_master_class.h"

// ---- port functions --------------------------------------------------------------

uint8_t ECM_Master::ec_parentport(uint16_t parent)
{
    ECM_Slave& slave = m_slave.at(static_cast<std::size_t>(parent) - 1);
    const uint8_t consumed = slave.get_consumedports();
    for (uint8_t port : {3, 1, 2, 0}) {
        const uint8_t bit = static_cast<uint8_t>(1u << port);
        if (consumed & bit) {
            slave.set_consumedports(static_cast<uint8_t>(consumed & ~bit));
            return port;
        }
    }
    return 0;
}

int32_t ECM_Master::ec_porttime(uint16_t slave, uint8_t port)
{
    const ECM_Slave& s = m_slave.at(static_cast<std::size_t>(slave) - 1);
    switch (port) {
    case 0: return s.get_DCrtA();
    case 1: return s.get_DCrtB();
    case 2: return s.get_DCrtC();
    case 3: return s.get_DCrtD();
    default: return 0;
    }
}

uint8_t ECM_Master::ec_prevport(uint16_t slave, uint8_t port)
{
    const uint8_t active = m_slave.at(static_cast<std::size_t>(slave) - 1).get_activeports();
    static const uint8_t candidates[4][3] = {{2, 1, 0xFF}, {3, 0, 2}, {1, 3, 0}, {0, 2, 1}};
    if (port > 3)
        return port;
    for (uint8_t candidate : candidates[port])
        if (candidate != 0xFF && (active & (1u << candidate)))
            return candidate;
    return port;
}

// ---- link walk ------------------------------------------------------------------------

void ECM_Master::start_check_slaves_link_ex()
{
    // The walk's datagrams skip the gate and close ports: not beside the cycle.
    if (m_thread_is_running)
        throw std::runtime_error("Attention: the link check is refused while the cycle runs");
    if (!m_slave.empty() && m_is_xml_data_ok)
        check_slave_link_consistency_ex();
}

void ECM_Master::restore_configured_addresses()
{
    ecm_log_inf("ECM_Master::restore_configured_addresses( ... )");
    uint16_t position = 0;
    for (const ECM_Slave& slave : m_slave) {
        if (!Link_Walk::give_address(position, slave.get_config_address()))
            ecm_log_war("the address of the slave at position " + std::to_string(position) + " was not written back");
        position = static_cast<uint16_t>(position - 1);
    }
}

void ECM_Master::check_slave_link_consistency_ex()
{
    ecm_log_inf("ECM_Master::check_slave_link_consistency( ... )");
    Link_Walk walk([this] { return check_slave_active(); });
    const int find_slave_counter = walk.run();
    // With every slave found, ring positions follow the ENI; else the
    // temporary addresses stay (they meet no ENI address), and the next
    // start clears them.
    if (find_slave_counter == static_cast<int>(m_slave.size()))
        restore_configured_addresses();

    m_process_info_slave_exchange_shmem->num_of_active_slaves = find_slave_counter;
    if (find_slave_counter == static_cast<int>(m_slave.size()))
        return;
    slave_eeprom_information_reading_ex();
    // A cyclic-timing or cyclic-frame error stays (set_last_master_error).
    set_last_master_error(ECAT_XML_FILE, SLAVE_NUM_NOT_AGREE, find_slave_counter + ecm_shm::FIRST_SLAVE_NUMBER);
    ecm_log_err("find_slave_counter " + std::to_string(find_slave_counter));
    ecm_log_err("m_slave.size() " + std::to_string(m_slave.size()));
    throw std::runtime_error("Sorry, xml slave number and real number not agree  :(");
}
