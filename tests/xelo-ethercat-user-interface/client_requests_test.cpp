// Master requests of the client API: the text each one sends, how its reply
// is read, its argument checks and guards.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client_fixture.h"

namespace {
class Requests : public Hooked_Client {
protected:
    void SetUp() override
    {
        Hooked_Client::SetUp();
        started(3, 2);
    }
};
}  // namespace

TEST_F(Requests, ListRepliesFillTheOutputsOnlyWithTheirCount)
{
    ECM_Error_Struct error{NOT_ERROR_PRESENT, NULL_CODE, 7};
    expect({{"get_last_system_error\n", "4 23 5 1002"}, {"get_last_system_error\n", "3 30 4"}});
    EXPECT_EQ(get_last_system_error(&error), 0);
    EXPECT_EQ(error.error_type, ECAT_XML_STRUCT);
    EXPECT_EQ(error.error_code, DATA_NOT_VALIDATE);
    EXPECT_EQ(error.possible_slave_in_error, 1002);
    // A wrong count fails and leaves the record as it was.
    EXPECT_EQ(get_last_system_error(&error), -1);
    EXPECT_EQ(error.error_type, ECAT_XML_STRUCT);

    int counters[4] = {9, 9, 9, 9};
    expect({{"get_slave_errors_counters 1001\n", "5 1 2 3 4"},
            {"get_slave_errors_counters 1002\n", "4 1 2 3"},
            {"get_slave_errors_counters 1002\n", "5 1 x 3 4"}});
    EXPECT_EQ(get_slave_frame_errors_counters(1001, &counters[0], &counters[1], &counters[2], &counters[3]), 0);
    EXPECT_EQ(counters[0] + counters[1] * 10 + counters[2] * 100 + counters[3] * 1000, 4321);
    EXPECT_EQ(get_slave_frame_errors_counters(1002, &counters[0], &counters[1], &counters[2], &counters[3]), -1);
    EXPECT_EQ(get_slave_frame_errors_counters(1002, &counters[0], &counters[1], &counters[2], &counters[3]), -1);
    EXPECT_EQ(counters[3], 4);
}

TEST_F(Requests, EachRequestSendsItsWordsAndReadsItsReply)
{
    int a = 0, b = 0, c = 0, d = 0, e = 0;
    uint32_t vendor = 0, product = 0, serial = 0;
    uint16_t alias = 0;
    char name[] = "io_module";
    const struct {
        const char* request;
        const char* reply;
        std::function<int()> call;
        int result;
        std::function<bool()> outputs;
    } cases[] = {
        {"check_slaves_link\n", "reply_ok", [] { return check_slaves_link(); }, 0, [] { return true; }},
        {"check_slaves_link\n", "reply_error", [] { return check_slaves_link(); }, -1, [] { return true; }},
        {"get_frame_resend_info\n", "3 12 4", [&] { return get_frame_resend_info(&a, &b); }, 0,
         [&] { return a == 12 && b == 4; }},
        {"get_slave_state_info 1002\n", "4 8 4 17", [&] { return get_slave_state_info(1002, &a, &b, &c); }, 0,
         [&] { return a == 8 && b == 4 && c == 17; }},
        {"get_system_state\n", "3", [] { return static_cast<int>(get_system_state()); }, MASTER_ON,
         [] { return true; }},
        {"get_system_state\n", "reply_error", [] { return static_cast<int>(get_system_state()); }, -1,
         [] { return true; }},
        {"get_master_time_info\n", "6 1 2 3 4 5", [&] { return get_master_time_info(&a, &b, &c, &d, &e); }, 0,
         [&] { return a == 1 && b == 2 && c == 3 && d == 4 && e == 5; }},
        {"get_master_time_info_first_frame\n", "5 -1 -2 -3 -4",
         [&] { return get_master_time_info_first_dc_frame(&a, &b, &c, &d); }, 0,
         [&] { return a == -1 && b == -2 && c == -3 && d == -4; }},
        {"get_master_time_slot_info\n", "4 7 6 9", [&] { return get_master_slot_time_info(&a, &b, &c); }, 0,
         [&] { return a == 7 && b == 6 && c == 9; }},
        {"get_master_jitter_info\n", "4 1 0 2", [&] { return get_master_jitter_time_info(&a, &b, &c); }, 0,
         [&] { return a == 1 && b == 0 && c == 2; }},
        {"get_frame_gap_time_info\n", "4 5 5 5", [&] { return get_frame_gap_time_info(&a, &b, &c); }, 0,
         [&] { return a == 5 && b == 5 && c == 5; }},
        // Identity values travel as signed ints and arrive bit for bit.
        {"get_slave_eeprom_info 1001\n", "5 130 -294967296 -1 65537",
         [&] { return get_slave_eeprom_information(1001, &vendor, &product, &serial, &alias); }, 0,
         [&] { return vendor == 130 && product == 4000000000u && serial == 0xFFFFFFFFu && alias == 1; }},
        {"auto_incr_slave_info 0\n", "5 2 768 5 0",
         [&] { return get_slave_information_incr_read(1, &vendor, &product, &serial, &alias); }, 0,
         [&] { return vendor == 2 && product == 768 && serial == 5 && alias == 0; }},
        {"get_slave_address io_module\n", "1001", [&] { return get_slave_address(name); }, 1001, [] { return true; }},
        {"get_master_ethercat_state\n", "8", [] { return static_cast<int>(get_master_state()); }, OP_STATE,
         [] { return true; }},
        {"get_slaves_number\n", "3", [] { return get_slaves_number(); }, 3, [] { return true; }},
        {"get_slaves_number\n", "three", [] { return get_slaves_number(); }, -1, [] { return true; }},
        {"request_timer_info_reset\n", "reply_ok", [] { return reset_all_timer_info(); }, 0, [] { return true; }},
        {"set_op_cycle_time 1000000\n", "reply_ok", [] { return set_operational_cycle_time_ns(1000000); }, 0,
         [] { return true; }},
        {"set_op_cycle_time 1000000\n", "started", [] { return set_operational_cycle_time_ns(1000000); }, -1,
         [] { return true; }},
        {"set_watchdog_on 10\n", "reply_ok", [] { return set_watchdog_on(10); }, 0, [] { return true; }},
        {"write_into_eeprom_config_alias 1002 65535\n", "reply_ok",
         [] { return write_config_alias_into_slave(1002, 65535); }, 0, [] { return true; }},
        {"set_data_via_sdo 1002 24672 0 2 232 3\n", "reply_ok",
         [] {
             uint8_t data[] = {0xE8, 0x03};
             return set_data_via_sdo_to_slave(1002, 0x6060, 0, 2, data);
         },
         0, [] { return true; }},
        {"push_sdo_into_queue 1002 24672 0 47 1 1\n", "reply_ok",
         [] {
             uint8_t data[] = {1};
             return push_sdo_into_queue(1002, 0x6060, 0, 0x2F, 1, data);
         },
         0, [] { return true; }},
        {"push_sdo_into_queue 1002 24672 0 47 1 1\n", "reply_error",
         [] {
             uint8_t data[] = {1};
             return push_sdo_into_queue(1002, 0x6060, 0, 0x2F, 1, data);
         },
         -1, [] { return true; }},
    };
    for (const auto& test_case : cases) {
        expect({{test_case.request, test_case.reply}});
        EXPECT_EQ(test_case.call(), test_case.result) << test_case.request << test_case.reply;
        EXPECT_TRUE(test_case.outputs()) << test_case.request << test_case.reply;
    }
}

TEST_F(Requests, ArgumentChecksRefuseWithoutSending)
{
    int a = 0, b = 0, c = 0;
    uint32_t v = 0;
    uint16_t alias = 0;
    uint8_t data[4] = {};
    Info_Pdo_Struct entries[1];
    // Active count 2: 1001 and 1002 only.
    EXPECT_EQ(get_slave_state_info(1000, &a, &b, &c), -1);
    EXPECT_EQ(get_slave_state_info(1003, &a, &b, &c), -1);
    EXPECT_EQ(get_slave_eeprom_information(1003, &v, &v, &v, &alias), -1);
    EXPECT_EQ(push_sdo_into_queue(1002, 0x6060, 0, 0x2F, -1, data), -1);
    EXPECT_EQ(get_data_via_sdo_from_slave(1003, 0x6060, 0, 1, data), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_slave_information_incr_read(0, &v, &v, &v, &alias), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("incr_slave_position < 1"), std::string::npos);
    EXPECT_EQ(get_slave_inputs_address(1002, 0, entries), 0);
    EXPECT_EQ(get_slave_outputs_address(1004, 1, entries), -1);  // configured count 3
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_operational_cycle_time_ns(), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ATTENZIONE"), std::string::npos);
    // A byte list that does not fit one datagram.
    uint8_t many[200];
    std::memset(many, 255, sizeof(many));
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_data_via_sdo_to_slave(1001, 0x2000, 1, 200, many), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("request longer than one datagram"), std::string::npos);
}

TEST_F(Requests, ActiveCountAboveTheConfiguredOneRefusesEveryAddress)
{
    m_memories.set_slave_counts(1, 2);
    expect({{"restart_master_comunication_with_slave\n", "restart_master_comunication_ok"}});
    ASSERT_EQ(reopen_connection(), 0);
    int a = 0, b = 0, c = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_slave_state_info(1001, &a, &b, &c), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("m_slave_active_number > m_slave_in_xml_number"),
              std::string::npos);
}

TEST_F(Requests, EntryDescriptionsTakeThreeRequestsPerEntry)
{
    Info_Pdo_Struct entries[2] = {};
    expect({{"get_slave_input_index 1003 0\n", "24641"},
            {"get_slave_input_subindex 1003 0\n", "0"},
            {"get_slave_input_bitlength 1003 0\n", "16"},
            {"get_slave_input_index 1003 1\n", "24676"},
            {"get_slave_input_subindex 1003 1\n", "0"},
            {"get_slave_input_bitlength 1003 1\n", "32"}});
    EXPECT_EQ(get_slave_inputs_address(1003, 2, entries), 0);
    EXPECT_EQ(entries[0].index, 0x6041u);
    EXPECT_EQ(entries[0].bitlength, 16);
    EXPECT_EQ(entries[1].index, 0x6064u);
    EXPECT_EQ(entries[1].bitlength, 32);

    Info_Pdo_Struct outputs[2] = {};
    expect({{"get_slave_output_index 1001 0\n", "28672"},
            {"get_slave_output_subindex 1001 0\n", "1"},
            {"get_slave_output_bitlength 1001 0\n", "1"},
            {"get_slave_output_index 1001 1\n", "reply_error"}});
    EXPECT_EQ(get_slave_outputs_address(1001, 2, outputs), -1);
    EXPECT_EQ(outputs[0].index, 0x7000u);  // entries already filled stay filled
    EXPECT_EQ(outputs[0].subindex, 1u);
}

TEST_F(Requests, StateChangesSetTheOperationalFlag)
{
    expect({{"go_into_next_state 8\n", "reply_ok"}});
    ASSERT_EQ(go_into_new_state(OP_STATE), 0);
    // In OP the tick wait blocks on the semaphore: a posted tick is taken.
    m_memories.tick();
    EXPECT_EQ(wait_master_tick_with_timeout(1000), 1);
    expect({{"go_into_next_state 2\n", "reply_ok"}});
    ASSERT_EQ(go_into_new_state(PREOP_STATE), 0);
    m_memories.tick();
    EXPECT_EQ(wait_master_tick_with_timeout(1000), -1);
    expect({{"go_into_next_state 8\n", "reply_error"}});
    EXPECT_EQ(go_into_new_state(OP_STATE), -1);
    EXPECT_EQ(wait_master_tick_with_timeout(1000), -1);
}

TEST_F(Requests, SdoReadRepliesAreCheckedAgainstTheirSize)
{
    uint8_t data[4] = {0, 0, 0, 0};
    expect({{"get_data_via_sdo 1002 24676 0 4\n", "1 2 3"}, {"get_data_via_sdo 1002 24676 0 4\n", "1 2 3 250"}});
    EXPECT_EQ(get_data_via_sdo_from_slave(1002, 0x6064, 0, 4, data), -1);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(get_data_via_sdo_from_slave(1002, 0x6064, 0, 4, data), 0);
    EXPECT_EQ(data[0] + data[1] + data[2] + data[3], 256);
}

TEST_F(Requests, QueuePopDeliversTheOldestResult)
{
    uint16_t address = 0;
    int index = -1, subindex = -1, dim = -1;
    uint8_t code = 0;
    uint8_t data[ECM_SDO_REPLY_MAX_BYTES] = {};
    expect({{"pop_sdo_from_queue\n", "0"},
            {"pop_sdo_from_queue\n", "2 1002 24676 0 67 4 16 39 0 0"},
            {"pop_sdo_from_queue\n", "1 1002 24672 0 96 0"},
            {"pop_sdo_from_queue\n", "1 1002 24676 0 67 4 16 39"},
            {"pop_sdo_from_queue\n", "reply_error"}});
    EXPECT_EQ(pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data), 0);
    EXPECT_EQ(index, -1);  // nothing waiting: untouched
    EXPECT_EQ(pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data), 2);
    EXPECT_EQ(address, 1002);
    EXPECT_EQ(index, 0x6064);
    EXPECT_EQ(code, 0x43);
    EXPECT_EQ(dim, 4);
    EXPECT_EQ(data[0] + 256 * data[1], 10000);
    EXPECT_EQ(pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data), 1);
    EXPECT_EQ(code, 0x60);
    EXPECT_EQ(dim, 0);
    // Fewer bytes than announced.
    EXPECT_EQ(pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data), -1);
    EXPECT_EQ(pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data), -1);
}
