#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io_record_factory.h"
#include "virtual_slave.h"

namespace {
struct Variable {
    std::string name;
    Type_Definition type;
    uint32_t byte_offs;  // in the virtual area
    uint32_t byte_dim;
    bool is_ro;
    bool is_alias;
    std::vector<uint8_t> default_value;
};

// The virtual slave over tables and images held in this process, laid out as
// the framework does outside master-offline mode: each image starts with a
// 4-byte slave block, the virtual block follows.
class Virtual_Slave_Fixture : public testing::Test {
protected:
    static constexpr uint32_t BLOCK = 4;

    IO_Descriptor* make(const Variable& v)
    {
        IO_Descriptor* record = &m_factory.make();
        record->m_name_virtual_id = v.name;
        record->m_type = v.type;
        record->m_byte_offs = v.byte_offs;
        record->m_byte_dim = v.byte_dim;
        record->m_is_ro = v.is_ro;
        record->m_is_alias = v.is_alias;
        record->m_has_default_value = !v.default_value.empty();
        record->m_default_value = v.default_value;
        return record;
    }

    static void fill_table(std::vector<Shared_Application_Data_Struct>& table, const std::vector<IO_Descriptor*>& list)
    {
        table.assign(list.size(), Shared_Application_Data_Struct{});
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::memset(&table[i], 0, sizeof(table[i]));
            std::strncpy(table[i].name_id, list[i]->m_name_virtual_id.c_str(), sizeof(table[i].name_id) - 1);
            table[i].byte_offs = BLOCK + list[i]->m_byte_offs;
            table[i].byte_dim = list[i]->m_byte_dim;
        }
    }

    // Adds the variables to the slave, builds the tables and images and maps.
    void map(const std::vector<Variable>& inputs, const std::vector<Variable>& outputs, bool offline = false)
    {
        std::vector<IO_Descriptor*> in;
        std::vector<IO_Descriptor*> out;
        for (const Variable& v : inputs)
            in.push_back(make(v));
        for (const Variable& v : outputs)
            out.push_back(make(v));
        for (IO_Descriptor* d : in)
            slave.add_input(d);
        for (IO_Descriptor* d : out)
            slave.add_output(d);
        fill_table(m_input_table, in);
        fill_table(m_output_table, out);
        input_image.assign(BLOCK + slave.get_input_dim(), 0xEE);
        output_image.assign(BLOCK + slave.get_output_dim(), 0xDD);
        std::memset(&m_info_record, 0, sizeof(m_info_record));
        m_info_record.application_data_inputs_num = static_cast<uint32_t>(in.size());
        m_info_record.application_data_outputs_num = static_cast<uint32_t>(out.size());
        m_info_record.cyclic_input_byte_dim = static_cast<uint32_t>(input_image.size());
        m_info_record.cyclic_output_byte_dim = static_cast<uint32_t>(output_image.size());
        m_info.ptr = &m_info_record;
        m_cyclic.inputs_ptr = input_image.data();
        m_cyclic.outputs_ptr = output_image.data();
        m_inputs.app_data_ptr = m_input_table.data();
        m_outputs.app_data_ptr = m_output_table.data();
        slave.map_and_initialize_cyclic_data(&m_info, &m_cyclic, &m_inputs, &m_outputs, offline);
    }

    std::string map_error(const std::vector<Variable>& inputs, const std::vector<Variable>& outputs)
    {
        try {
            map(inputs, outputs);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no exception";
    }

    Virtual_Slave slave;
    std::vector<uint8_t> input_image;
    std::vector<uint8_t> output_image;

private:
    Io_Record_Factory m_factory;
    Shared_Info_Struct m_info_record;
    Shared_Info_Ptr m_info;
    Shared_Cyclic_Data_Ptrs m_cyclic;
    Shared_Application_Data_Ptrs m_inputs;
    Shared_Application_Data_Ptrs m_outputs;
    std::vector<Shared_Application_Data_Struct> m_input_table;
    std::vector<Shared_Application_Data_Struct> m_output_table;
};

const Variable A{"a", UINT8_FSM, 0, 1, false, false, {0x11}};
const Variable C{"c", DOUBLE_FSM, 1, 8, false, false, {1, 2, 3, 4, 5, 6, 7, 8}};
const Variable B_RO{"b", INT32_FSM, 9, 4, true, false, {0x2A, 0, 0, 0}};
const Variable D{"d", UINT8_FSM, 9, 1, false, false, {}};

TEST_F(Virtual_Slave_Fixture, LoopsExactlyTheWritableBlockBackAndKeepsReadOnlyDefaults)
{
    map({A, C, B_RO}, {A, C});
    EXPECT_EQ(slave.get_input_virtual_start_offset(), 4);
    EXPECT_EQ(slave.get_output_virtual_start_offset(), 4);
    // Read-only b starts with its default; a and c have theirs in the outputs.
    EXPECT_EQ(std::vector<uint8_t>(input_image.begin() + 13, input_image.end()), (std::vector<uint8_t>{0x2A, 0, 0, 0}));
    EXPECT_EQ(output_image[4], 0x11);

    for (std::size_t i = 4; i < output_image.size(); ++i)
        output_image[i] = static_cast<uint8_t>(i);
    slave.update_io();
    for (std::size_t i = 4; i < 13; ++i)
        EXPECT_EQ(input_image[i], i) << "byte " << i;
    EXPECT_EQ(std::vector<uint8_t>(input_image.begin(), input_image.begin() + 4), std::vector<uint8_t>(4, 0xEE))
        << "the slave block before the virtual one is not touched";
    EXPECT_EQ(input_image[13], 0x2A) << "read-only b is never overwritten";
}

TEST_F(Virtual_Slave_Fixture, OfflineModePlacesBothBlocksAtZero)
{
    map({A}, {A}, true);
    EXPECT_EQ(slave.get_input_virtual_start_offset(), 0);
    EXPECT_EQ(slave.get_output_virtual_start_offset(), 0);
}

TEST_F(Virtual_Slave_Fixture, AliasesAreNotCoupled)
{
    Variable alias{"alias_of_a", UINT8_FSM, 1, 0, false, true, {}};
    EXPECT_EQ(map_error({A, alias}, {A, alias}), "no exception");
}

struct Coupling_Case {
    const char* what;
    std::vector<Variable> inputs;
    std::vector<Variable> outputs;
    std::string error;
};

void PrintTo(const Coupling_Case& c, std::ostream* os)
{
    *os << c.what;
}

class Virtual_Slave_Coupling : public Virtual_Slave_Fixture, public testing::WithParamInterface<Coupling_Case> {};

TEST_P(Virtual_Slave_Coupling, RefusesOutputsWithoutTheirInputTwin)
{
    EXPECT_EQ(map_error(GetParam().inputs, GetParam().outputs), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Virtual_Slave_Coupling,
    testing::Values(
        Coupling_Case{"order_differs",
                      {A, C},
                      {C, A},
                      "[Virtual_Slave][map_and_initialize_cyclic_data] Output-Input coupling failed: c"},
        Coupling_Case{"type_differs",
                      {A},
                      {Variable{"a", INT8_FSM, 0, 1, false, false, {}}},
                      "[Virtual_Slave][map_and_initialize_cyclic_data] Output-Input coupling failed: a"},
        Coupling_Case{"more_outputs",
                      {A, C},
                      {A, C, D},
                      "[Virtual_Slave][map_and_initialize_cyclic_data] Output-Input coupling failed: input size (2) "
                      "!= output size (3)"}),
    [](const testing::TestParamInfo<Coupling_Case>& case_info) { return std::string(case_info.param.what); });
}  // namespace
