#pragma once

// Groups of cyclic variables bound at once: the inputs whose labels begin
// with a prefix, and the outputs of one output group of the framework (found
// by a label prefix or by the group id), whose write control is taken and
// given back as a whole. Members are looked up by the name after the prefix.

#include <memory>
#include <string>
#include <vector>

#include "framework_input.h"
#include "framework_output.h"

class Framework_Shared_Memory_Manager;

class Framework_Input_Group {
public:
    explicit Framework_Input_Group(std::string prefix);
    ~Framework_Input_Group();
    Framework_Input_Group(const Framework_Input_Group&) = delete;
    Framework_Input_Group& operator=(const Framework_Input_Group&) = delete;

    // Binds every input whose label begins with the prefix, in table order.
    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    void refresh_ex();
    // The members in table order; the group keeps them.
    std::vector<Framework_Input*> get_group_inputs_ptr_list() const;
    // The member labelled prefix + short_name.
    Framework_Input* get_group_input_ptr(const std::string& short_name) const;

private:
    void check_initialized_ex(const char* method) const;

    Framework_Shared_Memory_Manager* m_frmk_ptr = nullptr;
    std::vector<std::unique_ptr<Framework_Input>> m_input_list;
    bool m_initialized = false;
    int m_group_size = 0;
    std::string m_prefix;

public:
    const int& group_size;
    const std::string prefix;
};

class Framework_Output_Group {
public:
    // The outputs whose labels begin with the prefix; they must all belong
    // to one output group.
    explicit Framework_Output_Group(std::string prefix);
    // The outputs of the output group with this id.
    explicit Framework_Output_Group(int group_id);
    // Gives control back; never throws.
    ~Framework_Output_Group();
    Framework_Output_Group(const Framework_Output_Group&) = delete;
    Framework_Output_Group& operator=(const Framework_Output_Group&) = delete;

    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    void refresh_ex();
    // Takes write control of every output of the group, or of none: false
    // when another application holds one of them.
    [[nodiscard]] bool try_acquire_control_ex();
    void release_control_ex();
    std::vector<Framework_Output*> get_group_outputs_ptr_list() const;
    Framework_Output* get_group_output_ptr(const std::string& short_name) const;

private:
    void check_initialized_ex(const char* method) const;
    // Whether an output of the given group belongs to this group; adopts the
    // group id of the first output that matches the prefix.
    bool joins_ex(const std::string& output_label, int output_group);
    void add_member_ex(const std::string& output_label);
    void give_back_control_ex();
    void restore_read_access_ex();
    void update_acquired();

    Framework_Shared_Memory_Manager* m_frmk_ptr = nullptr;
    std::vector<std::unique_ptr<Framework_Output>> m_output_list;
    int m_group_id = -1;
    bool m_initialized = false;
    int m_group_size = 0;
    bool m_is_acquired = false;
    std::string m_prefix;

public:
    const int& group_id;
    const int& group_size;
    const bool& is_acquired;
    const std::string prefix;
};
