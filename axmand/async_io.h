#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "framework_types.h"

class Framework_Shared_Memory_Manager;

// A drive parameter carried by a framework asynchronous variable, paired with
// the command datum of the manager's channel whose label is the variable's
// label without the manager prefix and its separator. Each update_ex does one
// step of a request; the owner asks with set_update_todo and tests
// is_update_completed once per cycle.

union Value {
    int8_t i8;
    uint8_t ui8;
    int16_t i16;
    uint16_t ui16;
    int32_t i32;
    uint32_t ui32;
    float flt32;
    uint8_t bytes[4];
};

class Async_Base {
public:
    void set_update_todo();
    void clear_update_flags();
    bool is_update_completed() const;
    std::string get_async_label() const { return m_async_label; }
    int32_t get_async_id() const { return m_async_id; }

    friend std::ostream& operator<<(std::ostream& stream, const Async_Base& object);

protected:
    Async_Base(Framework_Shared_Memory_Manager* framework, const std::string& label, const std::string& axmngr_prefix,
               uint32_t cmd_channel_id);

    bool m_async_being_updated = false;
    int32_t m_async_id = -1;
    std::string m_async_label;
    bool m_async_must_be_updated = false;
    int32_t m_axmgr_cmd_channel_id;
    Framework_Shared_Memory_Manager* m_framework;
    Value m_value{};
    Type_Definition m_value_type = UNDEFINED_TYPE_FSM;
    int32_t m_value_from_cmd_id = -1;
    std::string m_value_from_cmd_label;
};

// Read from the drive, copied into the answer datum.
class Async_Input : public Async_Base {
public:
    Async_Input(Framework_Shared_Memory_Manager* framework, const std::string& label, const std::string& axmngr_prefix,
                uint32_t cmd_channel_id, const std::string& axis_prefix);
    void update_ex();
    Value* get_async_input_base_value();
};

// Taken from the command datum, written to the drive.
class Async_Output : public Async_Base {
public:
    Async_Output(Framework_Shared_Memory_Manager* framework, const std::string& label, const std::string& axmngr_prefix,
                 uint32_t cmd_channel_id, const std::string& axis_prefix);
    void update_ex();
    void set_async_output_base();
    void clear_update_flags();

private:
    Value m_previous_value{};
    bool m_is_previous_value_updated = false;
};
