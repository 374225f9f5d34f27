#pragma once

#include <deque>
#include <stdexcept>

#include "hardware_interface.h"

// The machine's inputs as plain fields, its outputs counted.
class Fake_Hardware : public Hardware_Interface {
public:
    Fake_Hardware() : Hardware_Interface(nullptr, nullptr) {}

    Robot_Program_Status status = ROBOT_STOPPED;
    bool safeguard = false;
    bool completed = false;
    bool acknowledged = false;
    bool error = false;
    bool warning = false;
    bool limit = false;
    bool safety = false;
    bool fail_reset = false;
    // Answers of the next calls of is_last_command_completed, before
    // `completed` answers again: a completion reported once, at one call.
    std::deque<bool> next_completions;

    int resets = 0;
    int quickstops = 0;
    int detorques = 0;
    int position_moves = 0;
    int velocity_moves = 0;
    int homings = 0;
    int moved_axis = -1;
    double moved_position = 0.0;
    int homing_method = 0;

    Robot_Program_Status get_robot_program_status() override { return status; }
    bool is_safeguard_active() override { return safeguard; }
    bool is_program_running() override { return status == ROBOT_PLAYING; }
    bool is_last_command_completed() override
    {
        if (next_completions.empty())
            return completed;
        const bool answer = next_completions.front();
        next_completions.pop_front();
        return answer;
    }
    bool is_last_command_acknowledged() override { return acknowledged; }
    bool is_in_error() override { return error; }
    bool is_in_warning() override { return warning; }
    bool is_limit_switch_active() override { return limit; }
    bool is_safety_active() override { return safety; }
    void reset_axes() override
    {
        if (fail_reset)
            throw std::runtime_error("reset refused");
        ++resets;
    }
    void send_quickstop_signal() override { ++quickstops; }
    void detorque_axes() override { ++detorques; }
    void move_to_target_position() override
    {
        ++position_moves;
        moved_axis = m_cmd_axis_id;
        moved_position = m_cmd_position;
    }
    void move_to_target_velocity() override { ++velocity_moves; }
    void do_homing() override
    {
        ++homings;
        homing_method = m_cmd_homing_method;
    }
};
