#include "axes_client.h"

#include <stdexcept>
#include <thread>

Axes_Client::Axes_Client(uint32_t manager) : m_prefix(AXES_MANAGER_PREFIX + std::to_string(manager))
{
    m_framework.init_with_h_compatibility_check_ex("axes_client", 4, 1);
    m_client = std::make_unique<Framework_Cmd_Client>(m_prefix);
    m_client->setup_ex(&m_framework);
    if (!m_client->try_acquire_ex())
        throw std::runtime_error("[Axes_Client] channel " + m_prefix + " has another client");
    m_status_id = input_id(m_prefix + "_status");
    m_completed_id = input_id(m_prefix + "_is_last_command_completed");
    m_in_error_id = input_id(m_prefix + "_is_in_error");
    m_first_in_error_id = input_id(m_prefix + "_first_axis_in_error");
}

Axes_Client::~Axes_Client() = default;

int Axes_Client::input_id(const std::string& label)
{
    return m_framework.get_input_id_ex(label);
}

void Axes_Client::send(int8_t code, int32_t send_timeout_ms)
{
    m_client->send_command_ex(code, send_timeout_ms);
}

int Axes_Client::answer(double timeout_ms)
{
    if (!m_client->wait_answer_ex(timeout_ms))
        return 0;
    return m_client->get_last_received_answer_ex();
}

int Axes_Client::command(int8_t code, int32_t send_timeout_ms, double answer_timeout_ms)
{
    send(code, send_timeout_ms);
    return answer(answer_timeout_ms);
}

void Axes_Client::set_op_mode(int axis, int8_t mode)
{
    m_client->set_cmd_data_ex<signed char>("ax_" + std::to_string(axis) + "_op_mode", mode);
}

void Axes_Client::set_profile_position(int axis, int32_t target, uint32_t velocity, uint32_t acceleration,
                                       bool relative, bool change_immediately)
{
    const std::string a = "ax_" + std::to_string(axis) + "_profile_pos_";
    set_op_mode(axis, static_cast<int8_t>(op_mode_map.at("profile_pos")));
    m_client->set_cmd_data_ex<int>(a + "target_pos", target);
    m_client->set_cmd_data_ex<signed char>(a + "is_relative_move", relative ? 1 : 0);
    m_client->set_cmd_data_ex<signed char>(a + "change_set_immediately", change_immediately ? 1 : 0);
    m_client->set_cmd_data_ex<unsigned int>(a + "vel", velocity);
    m_client->set_cmd_data_ex<unsigned int>(a + "acc", acceleration);
    m_client->set_cmd_data_ex<unsigned int>(a + "dec", acceleration);
}

void Axes_Client::set_profile_velocity(int axis, int32_t velocity, uint32_t acceleration)
{
    const std::string a = "ax_" + std::to_string(axis) + "_profile_vel_";
    set_op_mode(axis, static_cast<int8_t>(op_mode_map.at("profile_vel")));
    m_client->set_cmd_data_ex<int>(a + "target_vel", velocity);
    m_client->set_cmd_data_ex<unsigned int>(a + "target_acc", acceleration);
    m_client->set_cmd_data_ex<unsigned int>(a + "target_dec", acceleration);
}

void Axes_Client::set_homing(int axis, int8_t method, uint32_t switch_velocity, uint32_t zero_velocity,
                             uint32_t acceleration)
{
    const std::string a = "ax_" + std::to_string(axis) + "_homing_";
    set_op_mode(axis, static_cast<int8_t>(op_mode_map.at("homing")));
    m_client->set_cmd_data_ex<signed char>(a + "method", method);
    m_client->set_cmd_data_ex<unsigned int>(a + "switch_vel", switch_velocity);
    m_client->set_cmd_data_ex<unsigned int>(a + "zero_vel", zero_velocity);
    m_client->set_cmd_data_ex<unsigned int>(a + "acc", acceleration);
    m_client->set_cmd_data_ex<unsigned int>(a + "dec", acceleration);
}

void Axes_Client::refresh()
{
    // A refresh that timed out leaves the values of the last one; every
    // caller polls until what it waits for shows, so it needs no code.
    static_cast<void>(m_framework.refresh_data_ex(&m_tick));
}

Axes_Client::Snapshot Axes_Client::snapshot() const
{
    Snapshot s;
    s.manager_state = m_framework.get_input_ex<signed char>(m_status_id, false);
    s.completed = m_framework.get_input_ex<bool>(m_completed_id, false);
    s.in_error = m_framework.get_input_ex<bool>(m_in_error_id, false);
    s.first_axis_in_error = m_framework.get_input_ex<signed char>(m_first_in_error_id, false);
    return s;
}

template <typename T>
T Axes_Client::axis_input(int axis, const std::string& suffix)
{
    return m_framework.get_input_ex<T>(input_id(m_prefix + "_ax_" + std::to_string(axis) + "_" + suffix), false);
}

int8_t Axes_Client::axis_state(int axis)
{
    return axis_input<signed char>(axis, "status");
}
uint16_t Axes_Client::status_word(int axis)
{
    return axis_input<unsigned short>(axis, "status_word");
}
uint16_t Axes_Client::control_word(int axis)
{
    return axis_input<unsigned short>(axis, "control_word");
}
int32_t Axes_Client::position(int axis)
{
    return axis_input<int>(axis, "actual_pos");
}

bool Axes_Client::refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        refresh();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
}
