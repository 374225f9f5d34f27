#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "async_io.h"
#include "bitset_convertor.h"

class Framework_Shared_Memory_Manager;

// What is particular to one CiA 402 mode of one axis: its code, the
// asynchronous drive variables of its parameters (every variable whose label
// begins with the axis prefix + "_" + the mode label), the control word of
// each phase of a procedure and the verdicts on the status word. Modes hold
// no state machine; the axis asks them.
class OpMode_Base {
public:
    OpMode_Base(Framework_Shared_Memory_Manager* framework, const std::string& label, const std::string& axmngr_prefix,
                int32_t cmd_channel_id, const std::string& axis_prefix);
    OpMode_Base(const OpMode_Base&) = delete;
    OpMode_Base& operator=(const OpMode_Base&) = delete;
    virtual ~OpMode_Base() = default;

    virtual bitsetConvertor_cw get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw) = 0;
    virtual bitsetConvertor_cw get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                            bitsetConvertor_sw sw) = 0;
    virtual bitsetConvertor_cw get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw) = 0;
    virtual bitsetConvertor_cw get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw) = 0;
    virtual bool is_procedure_started(bitsetConvertor_sw sw) = 0;
    virtual bool is_procedure_finished(bitsetConvertor_sw sw) = 0;
    virtual bool is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type) = 0;
    virtual bool is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type) = 0;

    int8_t get_code() const { return m_code; }
    std::string get_label() const { return m_label; }
    int32_t get_async_input_id(const std::string& label) const;
    int32_t get_async_output_id(const std::string& label) const;

    void refresh_all_async_input();
    void set_all_async_output();
    void clear_all_async_updated_flags();
    bool is_all_async_vecs_updated() const;
    void update_async_vecs();
    void update_ex();

protected:
    std::vector<Async_Input> m_async_input_vec;
    std::vector<Async_Output> m_async_output_vec;
    int32_t m_axmgr_cmd_channel_id;
    int8_t m_code;
    Framework_Shared_Memory_Manager* m_framework;
    std::string m_label;
    bitsetConvertor_sw m_status_word_prev{};
};

class OpMode_Homing : public OpMode_Base {
public:
    OpMode_Homing(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix, int32_t cmd_channel_id,
                  const std::string& axis_prefix);
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                    bitsetConvertor_sw sw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw) override;
    bool is_procedure_started(bitsetConvertor_sw sw) override;
    bool is_procedure_finished(bitsetConvertor_sw sw) override;
    bool is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type) override;
    bool is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type) override;

private:
    int32_t pre_running_counter = 0;
};

class OpMode_Profile_Pos : public OpMode_Base {
public:
    OpMode_Profile_Pos(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                       int32_t cmd_channel_id, const std::string& axis_prefix);
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                    bitsetConvertor_sw sw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw) override;
    bool is_procedure_started(bitsetConvertor_sw sw) override;
    bool is_procedure_finished(bitsetConvertor_sw sw) override;
    bool is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type) override;
    bool is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type) override;

private:
    int32_t m_is_change_target_immediately_id = -1;
    int32_t m_is_relative_movement_id = -1;
};

class OpMode_Profile_Vel : public OpMode_Base {
public:
    OpMode_Profile_Vel(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                       int32_t cmd_channel_id, const std::string& axis_prefix);
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                    bitsetConvertor_sw sw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw) override;
    bool is_procedure_started(bitsetConvertor_sw sw) override;
    bool is_procedure_finished(bitsetConvertor_sw sw) override;
    bool is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type) override;
    bool is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type) override;
};

class OpMode_Interpolated : public OpMode_Base {
public:
    OpMode_Interpolated(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                        int32_t cmd_channel_id, const std::string& axis_prefix);
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                    bitsetConvertor_sw sw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw) override;
    bitsetConvertor_cw get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw) override;
    bool is_procedure_started(bitsetConvertor_sw sw) override;
    bool is_procedure_finished(bitsetConvertor_sw sw) override;
    bool is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type) override;
    bool is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type) override;
};
