#include <cstring>

#include "rtframe_test.h"
#include "test_helpers.h"

namespace {
bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The exception text without its closing "( exception @ file:line )" piece,
// which names a line of the library's source.
std::string without_location(const std::string& text)
{
    const std::string location = "\n\t ( exception @ xelo_framework_shm_manager:";
    const std::size_t at = text.rfind(location);
    if (at == std::string::npos || text.substr(text.size() - 2) != " )")
        return "<no location in> " + text;
    return text.substr(0, at);
}
}  // namespace

class Directory : public Rtframe_Test {
protected:
    void SetUp() override
    {
        Rtframe_Test::SetUp();
        manager = attach("directory");
    }
    void TearDown() override
    {
        manager.reset();
        Rtframe_Test::TearDown();
    }
    std::unique_ptr<Framework_Shared_Memory_Manager> manager;
};

TEST_F(Directory, LabelsFindTheirRecordsExactly)
{
    EXPECT_EQ(manager->get_input_total_number(), view->info().application_data_inputs_num);
    EXPECT_EQ(manager->get_output_total_number(), view->info().application_data_outputs_num);
    EXPECT_TRUE(manager->has_input_ex("ro_u16"));
    EXPECT_FALSE(manager->has_output_ex("ro_u16"));  // read-only: no output record
    EXPECT_TRUE(manager->has_output_ex("v_i32"));
    for (const char* label : {"nope", "V_I32", "v_i3", "v_i32 "}) {
        EXPECT_FALSE(manager->has_input_ex(label)) << label;
        EXPECT_EQ(thrown_text([&] { manager->get_input_id_ex(label); }),
                  std::string("[Framework_Shared_Memory_Manager][get_input_id_ex] input name is not valid :: ") +
                      label);
        EXPECT_EQ(thrown_text([&] { manager->get_output_ro_id_ex(label); }),
                  std::string("[Framework_Shared_Memory_Manager][get_output_ro_id_ex] output name is not valid: ") +
                      label);
    }

    const int input = manager->get_input_id_ex("v_u16");
    EXPECT_EQ(manager->get_input_label_ex(input, true), "v_u16");
    EXPECT_EQ(manager->get_input_dim_ex(input), 2u);
    EXPECT_EQ(manager->get_input_type_ex(input), UINT16_FSM);
    EXPECT_EQ(manager->get_input_group_ex(input), -1);
    const int output = manager->get_output_ro_id_ex("g7_b");
    EXPECT_GE(output, 10000);
    EXPECT_EQ(manager->get_output_label_ex(output, true), "g7_b");
    EXPECT_EQ(manager->get_output_dim_ex(output, true), 1u);
    EXPECT_EQ(manager->get_output_type_ex(output, true), UINT8_FSM);
    EXPECT_EQ(manager->get_output_group_ex(output, true), 7);
    EXPECT_EQ(manager->get_output_dim_ex(manager->get_output_ro_id_ex("v_bytes"), true), 10u);
}

TEST_F(Directory, AnAliasAnswersForItselfAndActsOnWhatItStandsFor)
{
    // alias_alias -> alias_i32 -> v_i32: looking the alias up marks v_i32 taken
    const int alias = manager->get_input_id_ex("alias_alias");
    EXPECT_EQ(manager->get_input_label_ex(alias, true), "alias_alias");
    EXPECT_EQ(manager->get_input_type_ex(alias), INT32_FSM);
    EXPECT_EQ(manager->get_input_ex<int>(alias, true), -32);
    EXPECT_NE(alias, manager->get_input_id_ex("v_i32"));

    const int output_alias = manager->get_output_rw_id_ex("alias_i32", false);
    EXPECT_EQ(manager->get_output_label_ex(output_alias, true), "alias_i32");
    EXPECT_EQ(view->output_record("v_i32")->is_already_rw, 1);
    EXPECT_EQ(view->output_record("v_i32")->application_number_take_rw, 100);
    EXPECT_EQ(view->output_record("alias_i32")->is_already_rw, 0);
    manager->set_output_ex<int>(output_alias, 1234);
    ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(manager->get_output_ex<int>(manager->get_output_ro_id_ex("v_i32"), true), 1234);

    // the slave input di_word and its alias read the same bytes
    const int di_alias = manager->get_input_id_ex("di_alias");
    EXPECT_EQ(manager->get_input_dim_ex(di_alias), 2u);
    EXPECT_EQ(manager->get_input_ex<unsigned short>(di_alias, true),
              manager->get_input_ex<unsigned short>(manager->get_input_id_ex("di_word"), true));
}

TEST_F(Directory, RefusedAccessesExplainThemselves)
{
    const int alias = manager->get_input_id_ex("alias_i32");
    const int v_i32 = manager->get_input_id_ex("v_i32");
    const Shared_Application_Data_Struct* record = view->input_record("v_i32");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(without_location(thrown_text([&] { manager->get_input_ex<short>(alias, true); })),
              "[Framework_Shared_Memory_Manager][get_input_ex] Sorry, size is not correct!!"
              "\n\t\t\t given input_id :: " +
                  std::to_string(alias) +
                  "\n\t\t\t given input is an alias :: alias_i32 --> v_i32"
                  "\n\t\t\t actual input_id :: " +
                  std::to_string(v_i32) +
                  "\n\t\t\t given input_size :: 2"
                  "\n\t\t\t Additional input info.."
                  "\n\t\t\t input_label :: v_i32"
                  "\n\t\t\t input_size :: 4"
                  "\n\t\t\t input_byte_offset :: " +
                  std::to_string(record->byte_offs) +
                  "\n\t\t\t input_bit_offset :: 0"
                  "\n\t\t\t input_is_taken :: 1");
    const float as_float = manager->get_input_ex<float>(alias, true);  // only the sizes are compared
    int bits = 0;
    std::memcpy(&bits, &as_float, sizeof(bits));
    EXPECT_EQ(bits, -32);

    // an input id used as output id is an index below 0
    EXPECT_EQ(without_location(thrown_text([&] { manager->get_output_ex<int>(v_i32, false); })),
              "[Framework_Shared_Memory_Manager][get_output_ex] Sorry, output_id not valid!"
              "\n\t\t\t given output_id :: " +
                  std::to_string(v_i32 - 10000));

    const int solo = manager->get_output_rw_id_ex("solo", false);
    Framework_Shared_Memory_Manager other;
    other.init_with_h_compatibility_check_ex("other", 4, 1);
    const std::string not_taken = thrown_text([&] { other.set_output_ex<unsigned char>(solo, 1); });
    EXPECT_TRUE(starts_with(not_taken, "[Framework_Shared_Memory_Manager][set_output_ex] Sorry, output_id not taken!"))
        << not_taken;
    EXPECT_NE(not_taken.find("\n\t\t\t output_is_already_rw :: 1\n\t\t\t output_taken_by_app_id :: 100"),
              std::string::npos)
        << not_taken;
}

TEST_F(Directory, ByteArrayAccessesAreChecked)
{
    const int bytes = manager->get_output_ro_id_ex("v_bytes");  // 10 bytes
    const int v_i32 = manager->get_output_ro_id_ex("v_i32");
    uint8_t buffer[16] = {};
    struct Case {
        int id;
        int size;
        int offset;
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {bytes, 10, 0, ""},
        {bytes, 1, 9, ""},
        {bytes, 4, 7, "Sorry, combination size + offset is not correct!!"},
        {bytes, 1, 10, "Sorry, offset is not correct!!"},
        {bytes, 0, 0, "Sorry, size is not correct!!"},
        {bytes, 11, 0, "Sorry, size is not correct!!"},
        {bytes, -1, 0, "Sorry, size is not correct!!\n\t\t\t given output_size :: -1"},
        {bytes, 4, -2, "Sorry, offset is not correct!!"},
        {bytes, 10, -1, "Sorry, offset is not correct!!"},  // 0xFFFFFFFF
        {v_i32, 4, 0, "Sorry, output_id type is not BYTE_ARRAY!"},
        {v_i32, 4, -1, "Sorry, offset is not correct!!"},
    };
    for (const Case& c : cases) {
        const std::string text =
            thrown_text([&] { manager->get_output_byte_array_ex(c.id, buffer, c.size, c.offset); });
        const std::string prefix = "[Framework_Shared_Memory_Manager][get_output_byte_array_ex] ";
        if (c.message.empty())
            EXPECT_EQ(text, "<nothing thrown>") << c.size << " " << c.offset;
        else
            EXPECT_TRUE(starts_with(text, prefix + c.message + "\n\t\t\t given output_id :: "))
                << c.size << " " << c.offset << "\n"
                << text;
    }
    // The offset that means -1 is shown after the size, as every offset is.
    const std::string text = thrown_text([&] { manager->get_output_byte_array_ex(bytes, buffer, 10, -1); });
    const std::size_t id_line = text.find("Sorry, offset is not correct!!\n\t\t\t given output_id :: ");
    const std::size_t size_and_offset =
        text.find("\n\t\t\t given output_size :: 10\n\t\t\t given output_offset :: -1\n\t\t\t Additional info..");
    EXPECT_NE(id_line, std::string::npos) << text;
    EXPECT_NE(size_and_offset, std::string::npos) << text;
    EXPECT_LT(id_line, size_and_offset) << text;
}
