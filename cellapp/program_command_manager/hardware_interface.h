#pragma once

// The command fields and hand-over flags shared by the XML-RPC thread and the
// RTDE thread, and the calls of the program state machine to the axes and
// the robot. The forwarding calls are virtual so that the machine can run on
// scripted inputs.

#include <pthread.h>
#include <semaphore.h>

#include <cstdint>

#include "rtde_interface.h"

class Axes_Manager_Interface;

enum Program_Commands_Id : int32_t {
    NULL_PROGRAM_CMD = 0,
    MOVE_TO_POSITION = 1,
    MOVE_TO_VELOCITY = 2,
    PRG_DO_HOMING = 3,
};

struct Program_Commands_Params {
    int32_t axis_id = 0;
    double position = 0.0;
    double velocity = 0.0;
    double acceleration = 0.0;
    int32_t cmd_id = NULL_PROGRAM_CMD;
    int32_t homing_method = 0;
    double homing_zero_search_velocity = 0.0;
    double homing_acceleration = 0.0;
    double homing_switch_search_velocity = 0.0;
};

class Hardware_Interface {
public:
    Hardware_Interface(Axes_Manager_Interface* am_iface, RtdeInterface* rtde_iface);
    virtual ~Hardware_Interface();
    Hardware_Interface(const Hardware_Interface&) = delete;
    Hardware_Interface& operator=(const Hardware_Interface&) = delete;

    void init_mutex();
    void init_semaphore();

    void set_parameters(const Program_Commands_Params& params);
    Program_Commands_Params get_parameters() const;
    Program_Commands_Id get_current_command_id() const { return m_current_cmd_id; }
    Program_Commands_Id get_previous_command_id() const { return m_previous_cmd_id; }
    void update_current_cmd_id(Program_Commands_Id id) { m_current_cmd_id = id; }
    void update_previous_cmd_id(Program_Commands_Id id) { m_previous_cmd_id = id; }
    void set_program_state_request(bool request) { m_program_state_request = request; }
    bool is_program_state_request_acknowledged() const { return m_program_state_request; }

    virtual Robot_Program_Status get_robot_program_status();
    virtual bool is_safeguard_active();
    virtual bool is_program_running();
    virtual bool is_last_command_completed();
    virtual bool is_last_command_acknowledged();
    virtual bool is_in_error();
    virtual bool is_in_warning();
    virtual bool is_limit_switch_active();
    virtual bool is_safety_active();
    virtual void reset_axes();
    virtual void send_quickstop_signal();
    virtual void detorque_axes();
    virtual void move_to_target_position();
    virtual void move_to_target_velocity();
    virtual void do_homing();

    pthread_mutex_t mutex{};
    sem_t sem{};
    bool sem_post_required = false;

protected:
    Axes_Manager_Interface* am_iface;
    RtdeInterface* rtde_iface;
    Program_Commands_Id m_current_cmd_id = NULL_PROGRAM_CMD;
    Program_Commands_Id m_previous_cmd_id = NULL_PROGRAM_CMD;
    double m_cmd_position = 0.0;
    double m_cmd_velocity = 0.0;
    double m_cmd_acceleration = 0.0;
    int32_t m_cmd_axis_id = 0;
    int32_t m_cmd_homing_method = 0;
    double m_cmd_homing_zero_search_velocity = 0.0;
    double m_cmd_homing_acceleration = 0.0;
    double m_cmd_homing_switch_search_velocity = 0.0;
    bool m_program_state_request = false;

private:
    bool m_mutex_initialised = false;
    bool m_sem_initialised = false;
};
