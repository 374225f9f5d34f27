// The data objects before setup_ex, and the type texts: no server needed.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "framework_group.h"
#include "framework_input.h"
#include "framework_output.h"
#include "test_helpers.h"

TEST(Unbound_Objects, TypeTexts)
{
    const struct {
        int type;
        const char* text;
    } cases[] = {
        {BIT_FSM, "bool"},
        {INT8_FSM, "int8"},
        {UINT8_FSM, "uint8"},
        {INT16_FSM, "int16"},
        {UINT16_FSM, "uint16"},
        {INT32_FSM, "int32"},
        {UINT32_FSM, "uint32"},
        {DOUBLE_FSM, "double"},
        {BYTE_ARRAY_FSM, "byte_array (std::vector<uint8_t> / std::string)"},
        {INT64_FSM, "int64"},
        {UINT64_FSM, "uint64"},
        {FLOAT_FSM, "float"},
        {UNDEFINED_TYPE_FSM, "type_not_recognized"},
        {12, "type_not_recognized"},
        {-7, "type_not_recognized"},
    };
    for (const auto& c : cases) {
        std::ostringstream text;
        text << static_cast<Type_Definition>(c.type);
        EXPECT_EQ(text.str(), c.text) << c.type;
    }
}

TEST(Unbound_Objects, VariablesRefuseEveryAccessBeforeSetup)
{
    Framework_Input input("in_x");
    Framework_Output output("out_x");
    Framework_Output_Read_Only watched("ro_x");
    const std::string type_check = "[Framework_Variable][check_type_internal_ex] not initalized (label :: ";

    const struct {
        const char* what;
        std::function<void()> access;
        std::string text;
    } cases[] = {
        {"scalar read", [&] { input.get_value_ex<int32_t>(); }, type_check + "in_x, id :: -1)"},
        {"previous read", [&] { input.get_previous_value_ex<bool>(); }, type_check + "in_x, id :: -1)"},
        {"slice read", [&] { input.get_value_ex<std::string>(1, 0); }, type_check + "in_x, id :: -1)"},
        {"output read", [&] { watched.get_value_ex<double>(); }, type_check + "ro_x, id :: -1)"},
        {"is_changed", [&] { input.is_changed(); },
         "[Framework_Variable][is_changed] not initalized (label :: in_x, id :: -1)"},
        {"scalar write", [&] { output.set_value_ex<uint32_t>(1); }, type_check + "out_x, id :: -1)"},
        {"slice write", [&] { output.set_value_ex(std::vector<uint8_t>{1}, true, 0); },
         type_check + "out_x, id :: -1)"},
        {"value to set", [&] { output.get_value_to_set_ex<int16_t>(); }, type_check + "out_x, id :: -1)"},
        {"input refresh", [&] { input.refresh_ex(); },
         "[Framework_Output][Framework_Input] not initalized (label :: in_x, id :: -1)"},
        {"output refresh", [&] { output.refresh_ex(); },
         "[Framework_Output][refresh_ex] not initalized (label :: out_x, id :: -1)"},
        {"read-only refresh", [&] { watched.refresh_ex(); },
         "[Framework_Output_Read_Only][refresh_ex] not initalized (label :: ro_x, id :: -1)"},
        {"default", [&] { output.set_current_value_as_default_ex(); },
         "[Framework_Output][set_current_value_as_default_ex] not initalized (label :: out_x, id :: -1)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(thrown_text(c.access), c.text) << c.what;
}

TEST(Unbound_Objects, GroupsRefuseEveryOperationBeforeSetup)
{
    Framework_Input_Group inputs("ax1_");
    Framework_Output_Group by_prefix("grp3_");
    Framework_Output_Group by_id(5);
    const std::string input_tail = " Input_Group not initalized! group prefix :: ax1_";
    const std::string prefix_tail = " Output_Group not initalized! group id :: -1,  prefix :: 'grp3_'";
    const std::string id_tail = " Output_Group not initalized! group id :: 5,  prefix :: ''";

    const struct {
        std::function<void()> operation;
        std::string text;
    } cases[] = {
        {[&] { inputs.refresh_ex(); }, "[Framework_Input_Group][refresh_ex]" + input_tail},
        {[&] { inputs.get_group_inputs_ptr_list(); },
         "[Framework_Input_Group][get_group_inputs_ptr_list]" + input_tail},
        {[&] { inputs.get_group_input_ptr("status"); }, "[Framework_Input_Group][get_group_input_ptr]" + input_tail},
        {[&] { by_prefix.refresh_ex(); }, "[Framework_Output_Group][refresh_ex]" + prefix_tail},
        {[&] { by_prefix.try_acquire_control_ex(); }, "[Framework_Output_Group][try_acquire_control_ex]" + prefix_tail},
        {[&] { by_prefix.release_control_ex(); }, "[Framework_Output_Group][release_control_ex]" + prefix_tail},
        {[&] { by_prefix.get_group_outputs_ptr_list(); },
         "[Framework_Output_Group][get_group_outputs_ptr_list]" + prefix_tail},
        {[&] { by_prefix.get_group_output_ptr("ctrl"); },
         "[Framework_Output_Group][get_group_output_ptr]" + prefix_tail},
        {[&] { by_id.try_acquire_control_ex(); }, "[Framework_Output_Group][try_acquire_control_ex]" + id_tail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(thrown_text(c.operation), c.text);
    EXPECT_EQ(by_id.group_id, 5);
    EXPECT_EQ(by_prefix.group_size, 0);
    EXPECT_FALSE(by_prefix.is_acquired);
    // leaving the scope destroys groups never set up: their destructors must not throw
}
