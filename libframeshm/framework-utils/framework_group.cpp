#include "framework_group.h"

#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
bool begins_with(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}
}  // namespace

// ---- Framework_Input_Group -----------------------------------------------------------------

Framework_Input_Group::Framework_Input_Group(std::string prefix_text)
    : m_prefix(std::move(prefix_text)), group_size(m_group_size), prefix(m_prefix)
{
}

Framework_Input_Group::~Framework_Input_Group() = default;

void Framework_Input_Group::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    const std::string method = "[Framework_Input_Group][setup_ex] ";
    m_frmk_ptr = frmk_ptr;
    m_initialized = false;
    m_input_list.clear();
    m_group_size = 0;
    log_inf(method + "Framework_Input_Group info -->");
    log_inf(method + "\tGroup prefix :: " + m_prefix);

    const int count = static_cast<int>(m_frmk_ptr->get_input_total_number());
    for (int input_id = 0; input_id < count; ++input_id) {
        const std::string input_label = m_frmk_ptr->get_input_label_ex(input_id, false);
        if (!begins_with(input_label, m_prefix))
            continue;
        m_input_list.push_back(std::make_unique<Framework_Input>(input_label));
        Framework_Input& member = *m_input_list.back();
        member.m_from_group = true;
        member.setup_ex(m_frmk_ptr);
    }
    if (m_input_list.empty())
        throw std::runtime_error(method + "no input found with prefix '" + m_prefix + "'");

    m_group_size = static_cast<int>(m_input_list.size());
    log_inf(method + "\tGroup Size :: " + num2str(m_group_size));
    m_initialized = true;
}

void Framework_Input_Group::check_initialized_ex(const char* method) const
{
    if (!m_initialized)
        throw std::runtime_error(std::string("[Framework_Input_Group][") + method +
                                 "] Input_Group not initalized! group prefix :: " + m_prefix);
}

void Framework_Input_Group::refresh_ex()
{
    check_initialized_ex("refresh_ex");
    for (const auto& member : m_input_list)
        member->refresh_ex();
}

std::vector<Framework_Input*> Framework_Input_Group::get_group_inputs_ptr_list() const
{
    check_initialized_ex("get_group_inputs_ptr_list");
    std::vector<Framework_Input*> members;
    members.reserve(m_input_list.size());
    for (const auto& member : m_input_list)
        members.push_back(member.get());
    return members;
}

Framework_Input* Framework_Input_Group::get_group_input_ptr(const std::string& short_name) const
{
    check_initialized_ex("get_group_input_ptr");
    const std::string full_label = m_prefix + short_name;
    for (const auto& member : m_input_list)
        if (member->label == full_label)
            return member.get();
    throw std::runtime_error("[Framework_Input_Group][get_group_input_ptr] " + full_label +
                             " does not belong to group with prefix :: " + m_prefix);
}

// ---- Framework_Output_Group ----------------------------------------------------------------

Framework_Output_Group::Framework_Output_Group(std::string prefix_text)
    : m_prefix(std::move(prefix_text)), group_id(m_group_id), group_size(m_group_size), is_acquired(m_is_acquired),
      prefix(m_prefix)
{
}

Framework_Output_Group::Framework_Output_Group(int output_group_id)
    : m_group_id(output_group_id), group_id(m_group_id), group_size(m_group_size), is_acquired(m_is_acquired),
      prefix(m_prefix)
{
}

Framework_Output_Group::~Framework_Output_Group()
{
    try {
        give_back_control_ex();
    } catch (...) {
        // a group never set up, or a manager that no longer answers
    }
}

void Framework_Output_Group::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    const std::string method = "[Framework_Output_Group][setup_ex] ";
    m_frmk_ptr = frmk_ptr;
    m_initialized = false;
    m_output_list.clear();
    m_group_size = 0;
    log_inf(method + "Framework_Output_Group info -->");
    log_inf(method + "\tGroup id \t:: " + num2str(m_group_id));
    log_inf(method + "\tGroup prefix :: " + m_prefix);

    const int count = static_cast<int>(m_frmk_ptr->get_output_total_number());
    for (int index = 0; index < count; ++index) {
        const int output_id = Framework_Shared_Memory_Manager::OUTPUT_ID_OFFSET + index;
        const std::string output_label = m_frmk_ptr->get_output_label_ex(output_id, false);
        if (!begins_with(output_label, m_prefix))
            continue;
        if (joins_ex(output_label, m_frmk_ptr->get_output_group_ex(output_id, false)))
            add_member_ex(output_label);
    }
    if (m_output_list.empty())
        throw std::runtime_error(method + "no output found with prefix '" + m_prefix + "'");

    m_group_size = static_cast<int>(m_output_list.size());
    log_inf(method + "\tComputed group id :: " + num2str(m_group_id));
    log_inf(method + "\tGroup Size        :: " + num2str(m_group_size));
    m_initialized = true;
    refresh_ex();
}

bool Framework_Output_Group::joins_ex(const std::string& output_label, int output_group)
{
    if (m_prefix.empty())
        return output_group == m_group_id;
    if (output_group == -1 || (m_group_id != -1 && output_group != m_group_id))
        throw std::runtime_error("[Framework_Output_Group][setup_ex] " + output_label +
                                 " invalid group :: " + num2str(output_group) +
                                 "! Current Framework_Output_Group id :: " + num2str(m_group_id));
    m_group_id = output_group;
    return true;
}

void Framework_Output_Group::add_member_ex(const std::string& output_label)
{
    // A member's id gives no access of its own (the group's ownership does);
    // this read access lets the manager serve its byte-array reads.
    m_frmk_ptr->get_output_ro_id_ex(output_label);
    m_output_list.push_back(std::unique_ptr<Framework_Output>(new Framework_Output(output_label, true)));
    m_output_list.back()->setup_ex(m_frmk_ptr);
}

void Framework_Output_Group::check_initialized_ex(const char* method) const
{
    if (!m_initialized)
        throw std::runtime_error(std::string("[Framework_Output_Group][") + method +
                                 "] Output_Group not initalized! group id :: " + num2str(m_group_id) +
                                 ",  prefix :: '" + m_prefix + "'");
}

void Framework_Output_Group::refresh_ex()
{
    check_initialized_ex("refresh_ex");
    for (const auto& member : m_output_list)
        member->refresh_ex();
}

bool Framework_Output_Group::try_acquire_control_ex()
{
    check_initialized_ex("try_acquire_control_ex");
    m_is_acquired = m_frmk_ptr->try_acquire_output_group_ex(m_group_id) == 1;
    update_acquired();
    return m_is_acquired;
}

void Framework_Output_Group::release_control_ex()
{
    give_back_control_ex();
    restore_read_access_ex();
}

void Framework_Output_Group::give_back_control_ex()
{
    check_initialized_ex("release_control_ex");
    m_frmk_ptr->release_output_group_control_ex(m_group_id);
    m_is_acquired = false;
    update_acquired();
}

// Giving the outputs back also withdraws this application's read access to
// them in the manager; the members keep reading them (byte arrays included)
// as they did before control was first taken.
void Framework_Output_Group::restore_read_access_ex()
{
    for (const auto& member : m_output_list)
        m_frmk_ptr->get_output_ro_id_ex(member->label);
}

void Framework_Output_Group::update_acquired()
{
    check_initialized_ex("update_acquired");
    for (const auto& member : m_output_list)
        member->set_acquired(m_is_acquired);
}

std::vector<Framework_Output*> Framework_Output_Group::get_group_outputs_ptr_list() const
{
    check_initialized_ex("get_group_outputs_ptr_list");
    std::vector<Framework_Output*> members;
    members.reserve(m_output_list.size());
    for (const auto& member : m_output_list)
        members.push_back(member.get());
    return members;
}

Framework_Output* Framework_Output_Group::get_group_output_ptr(const std::string& short_name) const
{
    check_initialized_ex("get_group_output_ptr");
    const std::string full_label = m_prefix + short_name;
    for (const auto& member : m_output_list)
        if (member->label == full_label)
            return member.get();
    throw std::runtime_error("[Framework_Output_Group][get_group_output_ptr] " + full_label +
                             " does not belong to group id :: " + num2str(m_group_id) + ",  prefix :: '" + m_prefix +
                             "'");
}
