// The segment description: its faults, defaults and the order of a tree.

#include <gtest/gtest.h>

#include "segment_config.h"

using ecat_sim::parse_segment_config;

TEST(Segment_Config, defaults_and_keys)
{
    const auto config = parse_segment_config(
        "# a comment\n"
        "control_port 7001\n"
        "slave first device=dio inputs=4 outputs=12 alias=0x22 serial=99\n"
        "slave drive device=cia402 dc=0 eeprom_read_bytes=8\n");
    ASSERT_EQ(config.slaves.size(), 2u);
    EXPECT_EQ(config.control_port, 7001);
    EXPECT_EQ(config.slaves[0].alias, 0x22);
    EXPECT_EQ(config.slaves[0].serial, 99u);
    EXPECT_EQ(config.slaves[0].dio_inputs, 4);
    EXPECT_FALSE(config.slaves[0].has_mailbox());
    EXPECT_EQ(config.slaves[1].previous, 0);
    EXPECT_EQ(config.slaves[1].previous_port, 1);
    EXPECT_TRUE(config.slaves[1].has_mailbox());
    EXPECT_EQ(config.slaves[1].mbx_in_start, 0x1080);
    EXPECT_FALSE(config.slaves[1].dc);
    EXPECT_EQ(config.slaves[1].serial, 2u);
}

TEST(Segment_Config, faults_name_their_line)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"slave a\nslave b device=robot\n", "line 2: unknown device robot"},
        {"slave a ports=5\n", "line 1: ports must be 1..4"},
        {"slave a\nslave a\n", "line 2: duplicate slave name a"},
        {"slave a speed=3\n", "line 1: unknown key speed"},
        {"slave a alias=0xZZ\n", "line 1: bad number for alias: 0xZZ"},
        {"slave a\nslave b previous=c:1\n", "line 2: previous names no earlier slave: c"},
        {"slave a\nslave b previous=a:2\n", "line 2: port 2 of a is not implemented"},
        {"slave a ports=3\nslave b\nslave c previous=a:1\n", "line 3: port 1 of a is taken"},
        {"slave a mailbox=0x1000:8,0x1080:128\n", "line 1: mailbox out of range"},
        {"master a\n", "line 1: unknown statement master"},
        {"# nothing\n", "no slave"},
    };
    for (const auto& c : cases) {
        try {
            parse_segment_config(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
            EXPECT_EQ(std::string(error.what()).rfind("[Segment_Config][", 0), 0u) << error.what();
        }
    }
}

// Frames pass a junction's ports in the order 1, 2 (three ports) or 3, 1, 2
// (four); the file must list the slaves in that order.
TEST(Segment_Config, processing_order_of_junctions)
{
    const auto three = parse_segment_config(
        "slave j ports=3\n"
        "slave a\n"
        "slave b ports=1\n"
        "slave c previous=j:2 ports=1\n");
    EXPECT_EQ(ecat_sim::processing_order(three), (std::vector<int>{0, 1, 2, 3}));
    const auto four = parse_segment_config(
        "slave j ports=4\n"
        "slave on3 previous=j:3 ports=1\n"
        "slave on1 previous=j:1 ports=1\n"
        "slave on2 previous=j:2 ports=1\n");
    EXPECT_EQ(ecat_sim::processing_order(four), (std::vector<int>{0, 1, 2, 3}));
    try {
        parse_segment_config(
            "slave j ports=4\n"
            "slave on1 previous=j:1 ports=1\n"
            "slave on3 previous=j:3 ports=1\n");
        ADD_FAILURE() << "accepted a list out of processing order";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("not listed in the order frames pass it"), std::string::npos);
    }
}
