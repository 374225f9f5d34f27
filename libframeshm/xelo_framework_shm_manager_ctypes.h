#pragma once

// Plain exported functions through which scripts (Python with ctypes) drive
// the framework without the class interface.
//
// Conventions of every function:
// - `memory_manager` is the opaque handle made by py_framework_manager_new;
//   no function frees it.
// - `error_occurred` points to an unsigned 32-bit slot: 0 after a success,
//   otherwise the number (1 to 20) of the error-ring slot holding the
//   message, to be fetched with py_get_error_string. A failed function
//   returns a fixed default (0, -1, 4294967295, null, or a fixed text).
// - Nothing is thrown across this interface.
// - Booleans arrive as a byte (non-zero is true) and return as 0 or 1.
// - Texts given back are cut to the buffer size minus one and always
//   terminated: errors need a buffer of py_get_error_string_max_length()
//   bytes, labels one of 500 bytes, type names one of 32 bytes.

#include <cstdint>

#include "framework_types.h"

class Framework_Shared_Memory_Manager;

// The cyclic value types: name suffix, script type, manager type, and the
// type of the output id taken by the writer.
#define XELO_SHM_CTYPES_CYCLIC_VALUE_TYPES(X)                       \
    X(bit_t, uint8_t, bool, int)                                    \
    X(int8_t, int8_t, signed char, int)                             \
    X(uint8_t, uint8_t, unsigned char, int)                         \
    X(int16_t, int16_t, short, int)                                 \
    X(uint16_t, uint16_t, unsigned short, int)                      \
    X(int32_t, int32_t, int, unsigned int)                          \
    X(uint32_t, uint32_t, unsigned int, int)                        \
    X(int64_t, int64_t, long long, int)                             \
    X(uint64_t, uint64_t, unsigned long long, int)                  \
    X(float_t, float, float, int)                                   \
    X(double_t, double, double, int)

// py_get_input_<suffix>, py_get_output_<suffix>, py_set_output_<suffix>.
#define XELO_SHM_CTYPES_DECLARE_CYCLIC_VALUE(suffix, script_type, manager_type, set_id_type)                        \
    script_type py_get_input_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,    \
                                      int input_id);                                                                \
    script_type py_get_output_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,   \
                                       int output_id);                                                              \
    void py_set_output_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,          \
                                set_id_type output_id, script_type new_value);

extern "C" {

// ---- set-up, error ring and type names -------------------------------------------------

// Gives the error ring's mutex priority inheritance and error checking; 0 or
// the failing call's error number. The ring works before it as well.
int py_init_mutex();
Framework_Shared_Memory_Manager* py_framework_manager_new(uint32_t* error_occurred);
void py_init(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, const char* application_name,
             int version_major, int version_minor);
// Copies the message of slot `index` (1 to 20) into a buffer of
// py_get_error_string_max_length() bytes, zero-filled behind the text.
void py_get_error_string(unsigned int index, char* error_string);
int py_get_error_string_max_length(Framework_Shared_Memory_Manager* memory_manager);
// "PY_BIT", "PY_INT8", ... to the type code; -1 for "PY_UNDEFINED_TYPE"
// (slot 0) and for an unknown name (slot set).
int py_get_value_of_type(uint32_t* error_occurred, const char* input_name);
void py_get_type_name_from_type_id(uint32_t* error_occurred, int type_value, char* type_string);

// ---- cycle, watchdog, save request, semaphore trace ------------------------------------

void py_set_refresh_time_ns(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                            unsigned int refresh_time_ns);
void py_turn_off_watchdog(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
void py_turn_on_watchdog(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
void py_set_watchdog_value(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int num_cycle);
uint32_t py_get_master_cycle_time_ns(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
int py_refresh_data(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                    uint32_t* absolute_tick);
int py_refresh_data_and_get_ec_master_state(Framework_Shared_Memory_Manager* memory_manager,
                                            uint32_t* error_occurred, uint32_t* absolute_tick,
                                            uint8_t* is_ethercat_master_online);
void py_save_cfg_file(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
void py_enable_trace_semaphore(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
void py_disable_trace_sempahore(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);

// ---- cyclic inputs and outputs: directory and metadata ---------------------------------

unsigned int py_get_input_total_number(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
unsigned int py_get_output_total_number(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
int py_get_input_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, const char* input_name);
int py_get_output_ro_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                        const char* output_name);
int py_get_output_rw_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                        const char* output_name, uint8_t take_only_shared_id);
int py_has_input(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, const char* input_name);
int py_has_output(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, const char* output_name);
Type_Definition py_get_input_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                  int input_id);
int py_get_input_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int input_id);
unsigned int py_get_input_dim(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int input_id);
void py_get_input_label(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int input_id,
                        char* return_string);
Type_Definition py_get_output_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                   int output_id, uint8_t taken_check);
int py_get_output_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int output_id,
                        uint8_t taken_check);
unsigned int py_get_output_dim(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                               int output_id, uint8_t taken_check);
void py_get_output_label(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int output_id,
                         char* return_string);

// ---- cyclic outputs: ownership and defaults --------------------------------------------

int py_try_acquire_output_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int group_id);
void py_release_output_group_control(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                     int group_id);
void py_set_current_value_as_default_ex(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                        int output_id);

// ---- cyclic values ---------------------------------------------------------------------

XELO_SHM_CTYPES_CYCLIC_VALUE_TYPES(XELO_SHM_CTYPES_DECLARE_CYCLIC_VALUE)

// Counts and offsets are bytes; a negative offset (0xFFFFFFFF from an
// unsigned caller) is refused.
void py_get_input_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                               int input_id, uint8_t* array, int byte_dim, int byte_offset);
void py_get_output_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int output_id, uint8_t* array, int byte_dim, int byte_offset);
void py_set_output_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int output_id, const uint8_t* new_values, int dim, int byte_offset);

}  // extern "C"
