// The port functions over a slave's topology fields, the first slave whose
// recorded state differs, and the checksum of the EEPROM's configuration
// area, in this process without a network.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "sii_checksum.h"
#include "xelo_ethercat_master_class.h"

namespace {
const std::string ENI = "/tmp/port_functions_eni.xml";

// A master whose slave list holds count slaves of a minimal ENI.
class Port_Master : public ECM_Master {
public:
    explicit Port_Master(int count)
    {
        init_pthread_mutex_ex(&m_pdo->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_info->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_tick->shm_mutex, true, true, true);
        init_ex("none", m_pdo.get(), m_info.get(), m_tick.get());
        std::string slaves;
        for (int i = 0; i < count; ++i)
            slaves += "<Slave><Info><Name>s</Name><PhysAddr>" + std::to_string(1001 + i) +
                      "</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>YY</Physics><VendorId>2</VendorId>"
                      "<ProductCode>1</ProductCode><RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info></Slave>";
        std::ofstream(ENI) << "<?xml version=\"1.0\"?>\n<EtherCATConfig><Config><Master><Info><Name>m</Name>"
                              "<Destination>ffffffffffff</Destination><Source>000000000000</Source></Info></Master>"
                           << slaves << "<Cyclic/><ProcessImage/></Config></EtherCATConfig>\n";
        m_xml_system_cfg = std::make_unique<EtherCATConfig_Config>(ENI);
        m_is_cleaned = false;
        fill_slave_list_ex();
    }
    ECM_Slave& at(std::size_t i) { return m_slave.at(i); }
    void record_states(std::vector<uint16_t> states) { m_slaves_state_array = std::move(states); }

private:
    std::unique_ptr<Shared_Pdo_Mem_Region> m_pdo = std::make_unique<Shared_Pdo_Mem_Region>();
    std::unique_ptr<Shared_Slave_Info_Mem_Region> m_info = std::make_unique<Shared_Slave_Info_Mem_Region>();
    std::unique_ptr<Shared_Tick_Mem_Region> m_tick = std::make_unique<Shared_Tick_Mem_Region>();
};
}  // namespace

TEST(PortFunctions, PreviousPortIsTheFirstActiveCandidateInProcessingOrder)
{
    const struct {
        uint8_t active;
        uint8_t port;
        uint8_t previous;
    } cases[] = {
        {0x0F, 0, 2}, {0x03, 0, 1}, {0x09, 0, 0},  // port 3 is no candidate of port 0
        {0x01, 0, 0}, {0x0F, 1, 3}, {0x07, 1, 0}, {0x06, 1, 2}, {0x02, 1, 1}, {0x0F, 2, 1}, {0x0D, 2, 3},
        {0x05, 2, 0}, {0x0F, 3, 0}, {0x0E, 3, 2}, {0x0A, 3, 1}, {0x08, 3, 3}, {0x0F, 4, 4}, {0x0F, 200, 200},
    };
    Port_Master master(2);
    for (const auto& c : cases) {
        master.at(1).set_activeports(c.active);
        EXPECT_EQ(master.ec_prevport(2, c.port), c.previous) << int(c.active) << " port " << int(c.port);
    }
}

TEST(PortFunctions, ParentPortHandsOutFreePortsThreeOneTwoZeroThenZero)
{
    Port_Master master(3);
    master.at(0).set_consumedports(0x0A);  // ports 1 and 3
    EXPECT_EQ(master.ec_parentport(1), 3);
    EXPECT_EQ(master.ec_parentport(1), 1);
    EXPECT_EQ(master.ec_parentport(1), 0);
    EXPECT_EQ(master.at(0).get_consumedports(), 0);

    master.at(2).set_consumedports(0x0F);
    EXPECT_EQ(master.ec_parentport(3), 3);
    EXPECT_EQ(master.ec_parentport(3), 1);
    EXPECT_EQ(master.ec_parentport(3), 2);
    EXPECT_EQ(master.at(2).get_consumedports(), 0x01);
    EXPECT_EQ(master.ec_parentport(3), 0);
    EXPECT_EQ(master.at(2).get_consumedports(), 0x00);
    EXPECT_EQ(master.at(1).get_consumedports(), 0) << "another slave's ports taken";
}

TEST(PortFunctions, PortTimeIsTheReceiveTimeOfThatPort)
{
    Port_Master master(2);
    master.at(1).set_DCrtA(10);
    master.at(1).set_DCrtB(-20);
    master.at(1).set_DCrtC(30);
    master.at(1).set_DCrtD(40);
    EXPECT_EQ(master.ec_porttime(2, 0), 10);
    EXPECT_EQ(master.ec_porttime(2, 1), -20);
    EXPECT_EQ(master.ec_porttime(2, 2), 30);
    EXPECT_EQ(master.ec_porttime(2, 3), 40);
    EXPECT_EQ(master.ec_porttime(2, 4), 0);
    EXPECT_EQ(master.ec_porttime(1, 1), 0);
}

TEST(PortFunctions, SlaveNumbersOutsideTheListAreRefused)
{
    Port_Master master(2);
    EXPECT_THROW(master.ec_prevport(0, 1), std::out_of_range);
    EXPECT_THROW(master.ec_prevport(3, 1), std::out_of_range);
    EXPECT_THROW(master.ec_parentport(3), std::out_of_range);
    EXPECT_THROW(master.ec_porttime(0, 0), std::out_of_range);
}

TEST(PortFunctions, FirstSlaveInErrorIsTheFirstWhoseStateDiffers)
{
    Port_Master master(3);
    EXPECT_EQ(master.find_first_slave_in_error(8), 0);
    master.record_states({8, 8, 4});
    EXPECT_EQ(master.find_first_slave_in_error(8), 1003);
    EXPECT_EQ(master.find_first_slave_in_error(4), 1001);
    master.record_states({2, 2, 2});
    EXPECT_EQ(master.find_first_slave_in_error(2), 0);
}

TEST(SiiChecksum, CrcOfKnownVectors)
{
    const uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(ec_sii_crc8(abc, sizeof(abc)), 0x74);
    // The configuration area of a slave description published by a vendor.
    const uint8_t area[] = {0x91, 0x02, 0x01, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00};
    EXPECT_EQ(ec_sii_crc8(area, sizeof(area)), 0x2B);
    EXPECT_EQ(ec_sii_crc8(nullptr, 0), 0xFF);
}
