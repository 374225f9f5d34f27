// The records built from single entry elements.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "descriptor_driver.h"
#include "fab_descriptors.h"
#include "xelo_xml_parser.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// Parses one entry element (the root of a small document).
class Entry_Test : public ::testing::Test {
protected:
    const xmlpp::Node* entry(const std::string& xml)
    {
        m_driver.write_file("entry.xml", xml);
        m_xml.load_ex(m_driver.dir() + "/entry.xml");
        return m_xml.get_node_ex(".");
    }

    IO_Descriptor io(const std::string& xml, IO_Descriptor::IO_Type kind)
    {
        return IO_Descriptor(m_xml, entry(xml), kind);
    }

    // The exception text; what the constructor logged goes to m_output.
    template <typename Build>
    std::string error_of(Build&& build)
    {
        ::testing::internal::CaptureStdout();
        std::string error = "no exception";
        try {
            build();
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        m_output = ::testing::internal::GetCapturedStdout();
        return error;
    }

    Descriptor_Driver m_driver;
    XELO_XML::XML_IO m_xml;
    std::string m_output;
};

// ---- cyclic variables ------------------------------------------------------

TEST_F(Entry_Test, MinimalVirtualVariable)
{
    const IO_Descriptor v =
        io("<virtual_io name_virtual=\"v\" type=\"uint16\" group_id=\"3\" is_ro=\"1\" is_negated=\"2\""
           " slave_address=\"5\" name_physic=\"p\"/>",
           IO_Descriptor::VIRTUAL);
    EXPECT_EQ(v.m_name_virtual_id, "v");
    EXPECT_EQ(v.m_name_physic_id, "");
    EXPECT_EQ(v.m_slave_addr, 0);
    EXPECT_EQ(v.m_byte_offs, 0u);
    EXPECT_EQ(v.m_byte_dim, 0u);
    EXPECT_EQ(v.m_type, UINT16_FSM);
    EXPECT_EQ(v.m_group_id, 3);
    EXPECT_TRUE(v.m_is_ro);
    EXPECT_TRUE(v.m_is_negated);
    EXPECT_EQ(v.m_io_type, IO_Descriptor::VIRTUAL);
    EXPECT_FALSE(v.m_has_default_value);
    EXPECT_TRUE(v.m_default_value.empty());
    EXPECT_FALSE(v.m_is_alias);
}

TEST_F(Entry_Test, SlaveVariableReadsItsPlace)
{
    const IO_Descriptor in =
        io("<input name_physic=\"IO.In\" name_virtual=\"i\" slave_address=\"1002\" byte_offset=\"7\""
           " bit_offset=\"3\" byte_dimension=\"1\" type=\"bit\" group_id=\"-1\" is_ro=\"0\""
           " is_negated=\"0\"/>",
           IO_Descriptor::INPUT);
    EXPECT_EQ(in.m_name_physic_id, "IO.In");
    EXPECT_EQ(in.m_slave_addr, 1002);
    EXPECT_EQ(in.m_byte_offs, 7u);
    EXPECT_EQ(in.m_bit_offs, 3);
    EXPECT_EQ(in.m_byte_dim, 1u);
    EXPECT_EQ(in.m_type, BIT_FSM);
}

TEST_F(Entry_Test, InputOfSlaveZeroReadsNoPlace)
{
    const IO_Descriptor in =
        io("<input name_physic=\"p\" name_virtual=\"i\" slave_address=\"0\" type=\"int32\""
           " group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"/>",
           IO_Descriptor::INPUT);
    EXPECT_EQ(in.m_slave_addr, 0);
    EXPECT_EQ(in.m_byte_dim, 0u);
}

TEST_F(Entry_Test, AliasReadsOnlyItsNameAndTarget)
{
    const IO_Descriptor alias =
        io("<virtual_io name_virtual=\"a\" alias_of=\"target\" default_value=\"7\"/>", IO_Descriptor::VIRTUAL);
    EXPECT_TRUE(alias.m_is_alias);
    EXPECT_EQ(alias.m_pointed_io_descriptor, "target");
    EXPECT_EQ(alias.m_group_id, -1);
    EXPECT_FALSE(alias.m_has_default_value);
    EXPECT_TRUE(alias.m_default_value.empty());
}

TEST_F(Entry_Test, UnknownTypeWordWithoutDefaultIsKept)
{
    EXPECT_EQ(io("<virtual_io name_virtual=\"v\" type=\"UINT16\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"/>",
                 IO_Descriptor::VIRTUAL)
                  .m_type,
              UNDEFINED_TYPE_FSM);
}

// One report lists every field of the entry, then one exception.
TEST_F(Entry_Test, MissingAttributesAreReportedTogether)
{
    EXPECT_EQ(error_of([&] {
                  io("<virtual_io name_virtual=\"v\" type=\"uint8\" is_negated=\"0\"/>", IO_Descriptor::VIRTUAL);
              }),
              "Bad element xml definition");
    EXPECT_EQ(log_texts(m_output, "ERR"),
              std::vector<std::string>{"[fab_descriptors][IO_Descriptor] Bad element xml definition :"
                                       "\n\t\t\t name_physic   :: \n\t\t\t slave_addr    :: 0"
                                       "\n\t\t\t name_virtual  :: v\n\t\t\t type          :: uint8"
                                       "\n\t\t\t byte_offs     :: 0\n\t\t\t bit_offs      :: 0"
                                       "\n\t\t\t byte_dim      :: 0\n\t\t\t group_id      :: -1"
                                       "\n\t\t\t is_ro         :: 0\n\t\t\t is_negated    :: 0"
                                       "\n\t\t\t alias_of      :: "});
}

TEST_F(Entry_Test, AliasOfSlaveWithoutSizeStopsAtOnce)
{
    EXPECT_EQ(
        error_of([&] {
            io("<input name_physic=\"p\" name_virtual=\"a\" slave_address=\"3\" byte_offset=\"1\" bit_offset=\"0\""
               " alias_of=\"x\"/>",
               IO_Descriptor::INPUT);
        }),
        "Bad element xml definition");
    EXPECT_EQ(log_texts(m_output, "ERR").size(), 1u);
}

struct Default_Case {
    const char* type;
    const char* byte_dimension;  // nullptr: none
    const char* text;
    std::vector<uint8_t> bytes;
    bool is_string;
};

class Default_Value_Test : public Entry_Test, public ::testing::WithParamInterface<Default_Case> {};

TEST_P(Default_Value_Test, ConvertedToMemoryLayout)
{
    const Default_Case& c = GetParam();
    std::string xml =
        std::string("<output name_physic=\"p\" name_virtual=\"v\" slave_address=\"1\" byte_offset=\"0\"") +
        " bit_offset=\"0\" type=\"" + c.type + "\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"" + " default_value=\"" +
        c.text + "\" byte_dimension=\"" + (c.byte_dimension != nullptr ? c.byte_dimension : "0") + "\"/>";
    const IO_Descriptor out = io(xml, IO_Descriptor::OUTPUT);
    EXPECT_TRUE(out.m_has_default_value);
    EXPECT_THAT(out.m_default_value, ElementsAreArray(c.bytes));
    EXPECT_EQ(out.m_is_default_value_string, c.is_string);
}

INSTANTIATE_TEST_SUITE_P(
    Types, Default_Value_Test,
    ::testing::Values(Default_Case{"uint8", "1", "300", {0x2C}, false}, Default_Case{"bit", "1", "1", {0x01}, false},
                      Default_Case{"int8", "1", "-1", {0xFF}, false},
                      Default_Case{"int16", "2", "-2", {0xFE, 0xFF}, false},
                      Default_Case{"uint16", "2", "4660", {0x34, 0x12}, false},
                      Default_Case{"int32", "4", "-2", {0xFE, 0xFF, 0xFF, 0xFF}, false},
                      Default_Case{"uint32", "4", "16909060", {0x04, 0x03, 0x02, 0x01}, false},
                      Default_Case{"float", "4", "2.5", {0x00, 0x00, 0x20, 0x40}, false},
                      Default_Case{"double", "8", "-1", {0, 0, 0, 0, 0, 0, 0xF0, 0xBF}, false},
                      Default_Case{"int64", "8", "-2", {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false},
                      Default_Case{"uint64", "8", "258", {0x02, 0x01, 0, 0, 0, 0, 0, 0}, false},
                      // A slave variable wider than its type: the default is zero-padded.
                      Default_Case{"uint16", "4", "258", {0x02, 0x01, 0x00, 0x00}, false},
                      Default_Case{"uint8_array[0..n]", "5", "abc", {0x61, 0x62, 0x63, 0x00, 0x00}, true},
                      Default_Case{"uint8_array[0..n]", "3", "abc", {0x61, 0x62, 0x63}, true},
                      Default_Case{"uint8_array[0..n]", "8", "a b", {0x61, 0x20, 0x62, 0, 0, 0, 0, 0}, true},
                      Default_Case{"uint8_array[0..n]", "2", "0x0102", {0x01, 0x02}, false},
                      Default_Case{"uint8_array[0..n]", "4", "0x0102", {0x01, 0x02, 0x00, 0x00}, false},
                      Default_Case{"uint8_array[0..n]", "2", "0xFF", {0xFF, 0xFF}, false},
                      Default_Case{"uint8_array[0..n]", "4", "0xAB", {0xAB, 0xAB, 0xAB, 0xAB}, false},
                      Default_Case{"uint8_array[0..n]", "3", "0x1G2h", {0x01, 0x02, 0x00}, false}));

struct Bad_Default_Case {
    const char* type;
    const char* byte_dimension;
    const char* text;
    std::string message;  // the first ERR line
};

class Bad_Default_Value_Test : public Entry_Test, public ::testing::WithParamInterface<Bad_Default_Case> {};

TEST_P(Bad_Default_Value_Test, LoggedThenBadElement)
{
    const Bad_Default_Case& c = GetParam();
    const std::string xml = std::string("<virtual_io name_virtual=\"v\" type=\"") + c.type + "\" byte_dimension=\"" +
                            c.byte_dimension + "\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" default_value=\"" +
                            c.text + "\"/>";
    EXPECT_EQ(error_of([&] { io(xml, IO_Descriptor::VIRTUAL); }), "Bad element xml definition");
    const std::vector<std::string> errors = log_texts(m_output, "ERR");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], c.message);
}

const std::string P = "[fab_descriptors][IO_Descriptor] default value of v is given as ";

INSTANTIATE_TEST_SUITE_P(
    Texts, Bad_Default_Value_Test,
    ::testing::Values(
        Bad_Default_Case{"uint8_array[0..n]", "2", "0x010203",
                         P + "bytes but default value dim > byte_array dimension! (3 > 2)"},
        Bad_Default_Case{"uint8_array[0..n]", "2", "0x123", P + "bytes but overall length is odd!"},
        Bad_Default_Case{"uint8_array[0..n]", "2", "0x", P + "bytes but default value dim is 0!"},
        Bad_Default_Case{"uint8_array[0..n]", "2", "0XFF",
                         P + "a string but string length > byte_array dimension! (4 > 2)"},
        Bad_Default_Case{"uint8_array[0..n]", "5", "abcdef",
                         P + "a string but string length > byte_array dimension! (6 > 5)"},
        Bad_Default_Case{"int8_t", "0", "1", "Type not valid for default value"},
        Bad_Default_Case{"int16", "0", "", "[fab_descriptors][IO_Descriptor] cannot get default value :: v"},
        Bad_Default_Case{"int16", "0", "70000", "[fab_descriptors][IO_Descriptor] cannot get default value :: v"},
        Bad_Default_Case{"double", "0", "fast", "[fab_descriptors][IO_Descriptor] cannot get default value :: v"}));

// ---- asynchronous variables --------------------------------------------------

std::string async_xml(const std::string& name, const std::string& dimension, const std::string& index = "6041")
{
    return "<async_input name_physic=\"p\" name_virtual=\"" + name + "\" slave_address=\"1001\" index_hex=\"" + index +
           "\" subindex=\"2\" data_dimension=\"" + dimension + "\" type=\"uint16\"/>";
}

TEST_F(Entry_Test, SdoCommandByteByKindAndSize)
{
    const uint8_t upload[] = {0x4F, 0x4B, 0x47, 0x43};
    const uint8_t download[] = {0x2F, 0x2B, 0x27, 0x23};
    for (int dim = 1; dim <= 4; ++dim) {
        SCOPED_TRACE(dim);
        const xmlpp::Node* node = entry(async_xml("v", std::to_string(dim)));
        EXPECT_EQ(Async_IO_Descriptor(m_xml, node, Async_IO_Descriptor::INPUT).m_sdo_code, upload[dim - 1]);
        EXPECT_EQ(Async_IO_Descriptor(m_xml, node, Async_IO_Descriptor::OUTPUT).m_sdo_code, download[dim - 1]);
        EXPECT_EQ(Async_IO_Descriptor(m_xml, node, Async_IO_Descriptor::EMCY).m_sdo_code, 0xFF);
    }
}

TEST_F(Entry_Test, AsyncVariableFields)
{
    const Async_IO_Descriptor a(m_xml, entry(async_xml("v", "2", "1A00")), Async_IO_Descriptor::INPUT);
    EXPECT_EQ(a.m_name_physic_id, "p");
    EXPECT_EQ(a.m_slave_addr, 1001);
    EXPECT_EQ(a.m_index_el, 0x1A00);
    EXPECT_EQ(a.m_sub_index_el, 2);
    EXPECT_EQ(a.m_dim_data_el, 2);
    EXPECT_EQ(a.m_type, UINT16_FSM);
    EXPECT_EQ(Async_IO_Descriptor(m_xml, entry(async_xml("v", "2", "0x6041")), Async_IO_Descriptor::INPUT).m_index_el,
              0x6041);
}

TEST_F(Entry_Test, EmergencyNameOverridesKindAndSize)
{
    uint8_t code = 0;
    EXPECT_EQ(error_of([&] {
                  code = Async_IO_Descriptor(m_xml, entry(async_xml("drive__emcy_x", "9")), Async_IO_Descriptor::OUTPUT)
                             .m_sdo_code;
              }),
              "no exception");
    EXPECT_EQ(code, 0xFF);
    EXPECT_EQ(log_texts(m_output, "WAR"),
              std::vector<std::string>{"\t[Async_IO_Descriptor] Input Type CHANGE -> Async_IO_Descriptor::EMCY "});
}

TEST_F(Entry_Test, AsyncSizeOutsideOneToFour)
{
    for (const char* dim : {"0", "5"}) {
        EXPECT_EQ(error_of([&] { Async_IO_Descriptor(m_xml, entry(async_xml("v", dim)), Async_IO_Descriptor::INPUT); }),
                  "data_dimension not valid ");
        EXPECT_TRUE(log_texts(m_output, "ERR").empty());
    }
}

// Without a size there is no command byte to choose: the entry is reported.
TEST_F(Entry_Test, AsyncWithoutSizeIsReported)
{
    EXPECT_EQ(error_of([&] {
                  Async_IO_Descriptor(m_xml,
                                      entry("<async_input name_physic=\"p\" name_virtual=\"v\" slave_address=\"1\""
                                            " index_hex=\"6041\" subindex=\"0\" type=\"uint16\"/>"),
                                      Async_IO_Descriptor::INPUT);
              }),
              "Bad element xml definition");
    EXPECT_EQ(log_texts(m_output, "ERR").size(), 1u);
}

// ---- data groups ---------------------------------------------------------------

TEST_F(Entry_Test, GroupWithMembers)
{
    const Data_Semaphore_Group g(
        m_xml,
        entry("<sem sem_name=\"g1\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
              "<sem_data data_name=\"framework_abs_tick\" type=\"uint32\" byte_dimension=\"9\"/>"
              "<sem_data data_name=\"payload\" type=\"uint8_array[0..n]\" byte_dimension=\"16\"/>"
              "<other data_name=\"ignored\" type=\"uint8\"/></sem>"),
        7);
    EXPECT_EQ(g.sem_name, "g1");
    EXPECT_EQ(g.ring_buffer_dimension, 0);
    EXPECT_EQ(g.flag_only_not_rt, 1);
    EXPECT_EQ(g.sem_id, 7);
    ASSERT_EQ(g.data.size(), 2u);
    EXPECT_EQ(g.data[0].name, "framework_abs_tick");
    EXPECT_EQ(g.data[0].type, UINT32_FSM);
    EXPECT_EQ(g.data[0].byte_dim, 0u);
    EXPECT_EQ(g.data[1].byte_dim, 16u);
    EXPECT_EQ(g.data[1].byte_offs, 0u);
}

TEST_F(Entry_Test, GroupWithoutFlagIsReportedAndItsMembersNotRead)
{
    EXPECT_EQ(error_of([&] {
                  Data_Semaphore_Group(m_xml,
                                       entry("<sem sem_name=\"g\" ring_buffer=\"2\"><sem_data data_name=\"d\"/></sem>"),
                                       0);
              }),
              "Bad element xml definition");
    EXPECT_EQ(log_texts(m_output, "ERR"),
              std::vector<std::string>{"[fab_descriptors][Data_Semaphore_Group] Bad element xml definition :"
                                       "\n\t\t\t sem_name              :: g\n\t\t\t ring_buffer_dimension :: 2"
                                       "\n\t\t\t flag_only_not_rt      :: 0"});
}

}  // namespace
