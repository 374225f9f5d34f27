// The classes that other libraries link against are exported by
// libframeshm.so, template instances included.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {
// Demangled names of the symbols that the library defines.
std::set<std::string> defined_symbols()
{
    std::set<std::string> symbols;
    FILE* nm = popen("nm -DC --defined-only '" FRAMESHM_LIBRARY "'", "r");
    if (nm == nullptr)
        return symbols;
    char line[4096];
    while (fgets(line, sizeof line, nm) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        const std::size_t type_at = text.find(' ');               // after the address
        const std::size_t name_at = text.find(' ', type_at + 1);  // after the type letter
        if (name_at != std::string::npos)
            symbols.insert(text.substr(name_at + 1));
    }
    EXPECT_EQ(pclose(nm), 0);
    return symbols;
}

bool has_symbol_starting_with(const std::set<std::string>& symbols, const std::string& head)
{
    const auto at = symbols.lower_bound(head);
    return at != symbols.end() && at->compare(0, head.size(), head) == 0;
}
}  // namespace

TEST(Exported_Symbols, ClassesLinkedByOtherLibraries)
{
    const std::set<std::string> symbols = defined_symbols();
    ASSERT_FALSE(symbols.empty());
    const char* expected[] = {
        "Framework_Input::Framework_Input(std::",
        "Framework_Input::setup_ex(Framework_Shared_Memory_Manager*)",
        "vtable for Framework_Input",
        "Framework_Cyclic_Variable::~Framework_Cyclic_Variable()",
        "bool Framework_Cyclic_Variable::get_value_ex<bool>() const",
        "unsigned char Framework_Cyclic_Variable::get_value_ex<unsigned char>() const",
        "unsigned short Framework_Cyclic_Variable::get_value_ex<unsigned short>() const",
        "unsigned int Framework_Cyclic_Variable::get_value_ex<unsigned int>() const",
        "signed char Framework_Cyclic_Variable::get_value_ex<signed char>() const",
        "short Framework_Cyclic_Variable::get_value_ex<short>() const",
        "int Framework_Cyclic_Variable::get_value_ex<int>() const",
        "double Framework_Cyclic_Variable::get_value_ex<double>() const",
        "void Framework_Output::set_value_ex<unsigned int>(unsigned int)",
        "void Framework_Output::set_value_ex<int>(int)",
        "vtable for Framework_Output",
        "vtable for Framework_Output_Read_Only",
        "Framework_Input_Group::setup_ex(Framework_Shared_Memory_Manager*)",
        "Framework_Output_Group::try_acquire_control_ex()",
        // the command client, as libaxesif uses it
        "Framework_Cmd_Client::Framework_Cmd_Client(std::",
        "Framework_Cmd_Client::~Framework_Cmd_Client()",
        "Framework_Cmd_Channel::setup_ex(Framework_Shared_Memory_Manager*)",
        "Framework_Cmd_Client::try_acquire_ex()",
        "Framework_Cmd_Client::release_ex()",
        "Framework_Cmd_Client::clear_command_channel_ex()",
        "Framework_Cmd_Client::send_command_ex(signed char, int)",
        "Framework_Cmd_Client::wait_answer_ex(double)",
        "Framework_Cmd_Client::get_last_received_answer_ex()",
        "void Framework_Cmd_Client::set_cmd_data_ex<signed char>(std::",
        "void Framework_Cmd_Client::set_cmd_data_ex<int>(std::",
        "void Framework_Cmd_Client::set_cmd_data_ex<unsigned int>(std::",
        "void Framework_Cmd_Client::set_cmd_data_ex<float>(std::",
        "signed char Framework_Cmd_Client::get_answ_data_ex<signed char>(std::",
        "short Framework_Cmd_Client::get_answ_data_ex<short>(std::",
        "unsigned int Framework_Cmd_Client::get_answ_data_ex<unsigned int>(std::",
        "float Framework_Cmd_Client::get_answ_data_ex<float>(std::",
        "vtable for Framework_Cmd_Client",
        "vtable for Framework_Cmd_Server",
        "vtable for Framework_Cmd_Data_To_Send",
        "vtable for Framework_Cmd_Data_To_Recv",
    };
    for (const char* head : expected)
        EXPECT_TRUE(has_symbol_starting_with(symbols, head)) << head;
}
