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
//   returns a fixed default (0, -1, 4294967295, 255, null, or a fixed text).
// - Nothing is thrown across this interface.
// - Booleans arrive as a byte (non-zero is true) and return as 0 or 1.
// - Texts given back are cut to the buffer size minus one and always
//   terminated: errors need a buffer of py_get_error_string_max_length()
//   bytes, lists one of py_get_cmd_data_args_max_string_length() bytes,
//   labels and group names one of 500 bytes, type names one of 32 bytes.

#include <cstdint>

#include "framework_types.h"

class Framework_Shared_Memory_Manager;

// The script's lists of value types, rows of FRAMEWORK_VALUE_TYPES
// (framework_types.h): every type for the cyclic variables, the integers of
// at most 32 bits for the asynchronous ones (both named with the cyclic
// suffix), every type but the bit for data-group and command-channel data
// (named with the data suffix).
#define XELO_SHM_CTYPES_CYCLIC_VALUE_TYPES(X) FRAMEWORK_VALUE_TYPES(X)
#define XELO_SHM_CTYPES_ASYNC_VALUE_TYPES(X) FRAMEWORK_SMALL_INTEGER_VALUE_TYPES(X)
#define XELO_SHM_CTYPES_DATA_VALUE_TYPES(X) FRAMEWORK_DATA_VALUE_TYPES(X)

// The type of the output id that py_set_output_<suffix> takes.
template <typename T>
struct Xelo_Shm_Ctypes_Output_Id {
    using type = int;
};
template <>
struct Xelo_Shm_Ctypes_Output_Id<int> {
    using type = unsigned int;
};

// py_get_input_<suffix>, py_get_output_<suffix>, py_set_output_<suffix>.
#define XELO_SHM_CTYPES_DECLARE_CYCLIC_VALUE(manager_type, fixed_type, type_id, script_type, suffix, data_suffix) \
    script_type py_get_input_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,  \
                                      int input_id);                                                              \
    script_type py_get_output_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, \
                                       int output_id);                                                            \
    void py_set_output_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,        \
                                Xelo_Shm_Ctypes_Output_Id<manager_type>::type output_id, script_type new_value);

// py_get_async_input_<suffix>, py_set_async_output_<suffix>.
#define XELO_SHM_CTYPES_DECLARE_ASYNC_VALUE(manager_type, fixed_type, type_id, script_type, suffix, data_suffix)       \
    script_type py_get_async_input_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, \
                                            int async_input_id);                                                       \
    void py_set_async_output_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,       \
                                      int async_output_id, script_type new_value);

// py_get_sem_data_group_data_<suffix>, py_set_sem_data_group_data_<suffix>.
#define XELO_SHM_CTYPES_DECLARE_GROUP_VALUE(manager_type, fixed_type, type_id, script_type, cyclic_suffix, suffix) \
    script_type py_get_sem_data_group_data_##suffix(Framework_Shared_Memory_Manager* memory_manager,               \
                                                    uint32_t* error_occurred, int sem_group_id, int data_id);      \
    void py_set_sem_data_group_data_##suffix(Framework_Shared_Memory_Manager* memory_manager,                      \
                                             uint32_t* error_occurred, int sem_group_id, int data_id,              \
                                             script_type new_value);

// py_set_cmd_data_<suffix> (client), py_get_cmd_data_<suffix> (server),
// py_set_answer_data_<suffix> (server), py_get_answer_data_<suffix> (client).
#define XELO_SHM_CTYPES_DECLARE_CHANNEL_VALUE(manager_type, fixed_type, type_id, script_type, cyclic_suffix, suffix)   \
    void py_set_cmd_data_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,           \
                                  int cmd_id, int data_id, script_type data_value);                                    \
    script_type py_get_cmd_data_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,    \
                                         int cmd_id, int data_id);                                                     \
    void py_set_answer_data_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,        \
                                     int cmd_id, int data_id, script_type data_value);                                 \
    script_type py_get_answer_data_##suffix(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, \
                                            int cmd_id, int data_id);

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
int py_refresh_data(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, uint32_t* absolute_tick);
int py_refresh_data_and_get_ec_master_state(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                            uint32_t* absolute_tick, uint8_t* is_ethercat_master_online);
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
unsigned int py_get_output_dim(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int output_id,
                               uint8_t taken_check);
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
void py_get_input_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int input_id,
                               uint8_t* array, int byte_dim, int byte_offset);
void py_get_output_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int output_id, uint8_t* array, int byte_dim, int byte_offset);
void py_set_output_byte_array_t(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int output_id, const uint8_t* new_values, int dim, int byte_offset);

// ---- asynchronous variables --------------------------------------------------------------

unsigned int py_get_async_input_total_number(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred);
unsigned int py_get_async_output_total_number(Framework_Shared_Memory_Manager* memory_manager,
                                              uint32_t* error_occurred);
int py_get_async_input_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                          const char* async_input_name);
// Claims the output for this application.
int py_get_async_output_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                           const char* async_output_name);
Type_Definition py_get_async_input_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                        int async_input_id);
Type_Definition py_get_async_output_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                         int async_output_id);
void py_refresh_async_input(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                            int async_input_id);
// Polls, once per cycle: 1 done, 0 pending, 255 with the slot set when the
// request failed or expired.
uint8_t py_is_async_input_refresh(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                  int async_input_id);
uint8_t py_is_async_output_set(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                               int async_output_id);

XELO_SHM_CTYPES_ASYNC_VALUE_TYPES(XELO_SHM_CTYPES_DECLARE_ASYNC_VALUE)

// ---- data groups: roles, posting, waiting, ring buffer -----------------------------------
//
// Group and data ids are 0 on error, which is also a valid id: the slot tells.

unsigned int py_get_sem_data_group_read_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                           const char* sem_group_name);
unsigned int py_get_sem_data_group_write_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                            const char* sem_group_name, uint8_t take_only_shared_id);
// Fills a buffer of 500 bytes; "id_not_valid" on error.
void py_get_sem_data_group_name_from_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                        int group_id, char* return_string);
uint8_t py_try_acquire_sem_data_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                      int sem_id);
void py_release_sem_data_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int sem_id);
// Publishes the local image and wakes every reader.
void py_post_sem_data_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                            int sem_group_id);
// timeout_ms above 0 bounds the wait, 0 or less waits without limit; 1 data
// taken, 0 time-out (slot 0) or failure (slot set).
uint8_t py_wait_sem_data_group(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                               int sem_group_id, double timeout_ms, int ack_on_poster_release);
int py_get_sem_data_group_ring_buffer_slot_number(Framework_Shared_Memory_Manager* memory_manager,
                                                  uint32_t* error_occurred, int sem_group_id);
void py_insert_ring_buffer_slot(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int sem_id);
uint8_t py_get_ring_buffer_next_slot(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                     int sem_id, int8_t* overlap);
void py_clear_ring_buffer(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int sem_id);

// ---- data groups: data -------------------------------------------------------------------

int py_get_sem_data_group_data_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                  int sem_group_id, const char* data_label);
// Fills a buffer of 500 bytes; "id_not_valid" on error.
void py_get_label_sem_data_group_data_from_id(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                              const char* sem_data_group_name, int data_id, char* return_string);
Type_Definition py_get_sem_data_group_data_type(Framework_Shared_Memory_Manager* memory_manager,
                                                uint32_t* error_occurred, int sem_group_id, int data_id);
unsigned int py_get_sem_data_group_data_dim(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                            int sem_group_id, int data_id);
// 0 on error, as the byte-array dimensions of the channels.
int py_get_sem_data_group_data_byte_array_dim(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                              int sem_group_id, int data_id);
// Offsets above the int range (an unsigned caller's negative value) are refused.
void py_get_sem_data_group_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                           int sem_group_id, int data_id, uint8_t* byte_array, int byte_dim,
                                           unsigned int byte_offset);
void py_set_sem_data_group_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                           int sem_group_id, int data_id, const uint8_t* new_value, int byte_dim,
                                           unsigned int byte_offset);

XELO_SHM_CTYPES_DATA_VALUE_TYPES(XELO_SHM_CTYPES_DECLARE_GROUP_VALUE)

// ---- command channels --------------------------------------------------------------------
//
// Channel and data ids are 0 on error, which is also a valid id: the slot tells.

unsigned int py_get_cmd_channel_id_as_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                             const char* cmd_channel_name);
unsigned int py_get_cmd_channel_id_as_server(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                             const char* cmd_channel_name);
uint8_t py_try_acquire_cmd_as_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                     int cmd_id);
uint8_t py_try_acquire_cmd_as_server(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                     int cmd_id);
void py_release_cmd_as_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);
void py_release_cmd_as_server(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);
uint8_t py_is_server_waiting_for_command(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                         int cmd_id);
void py_send_cmd(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);
// Waits without limit for the answer.
void py_send_cmd_and_wait_answer(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);
// timeout_ms above 0 bounds the wait, 0 or less waits without limit; 1
// arrived, 0 time-out (slot 0) or failure (slot set).
uint8_t py_wait_answer(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id,
                       double timeout_ms);
uint8_t py_wait_cmd(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id,
                    double timeout_ms);
void py_send_answer(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);
void py_clear_cmd_from_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, int cmd_id);

// ---- command channels: data --------------------------------------------------------------
//
// The byte-array functions take the channel id first. Offsets declared
// unsigned are refused above the int range (an unsigned caller's negative value).

unsigned int py_get_cmd_data_id_to_send(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                        int cmd_id, const char* data_label);
unsigned int py_get_cmd_data_id_to_recv(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                        int cmd_id, const char* data_label);
Type_Definition py_get_send_data_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                      int cmd_id, int data_id);
Type_Definition py_get_recv_data_type(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                      int cmd_id, int data_id);
void py_set_cmd_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int sem_group_id, int data_id, const uint8_t* byte_array, int byte_dim,
                                unsigned int byte_offset);
void py_set_answ_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                 int sem_group_id, int data_id, const uint8_t* byte_array, int byte_dim,
                                 unsigned int byte_offset);
void py_get_cmd_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                int sem_group_id, int data_id, uint8_t* byte_array, int byte_dim, int byte_offset);
void py_get_answ_data_byte_array(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                 int sem_group_id, int data_id, uint8_t* byte_array, int byte_dim,
                                 unsigned int byte_offset);
int py_get_cmd_data_byte_array_dim_as_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                             int sem_group_id, int data_id);
int py_get_cmd_data_byte_array_dim_as_server(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                             int sem_group_id, int data_id);
int py_get_answ_data_byte_array_dim_as_client(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                              int sem_group_id, int data_id);
int py_get_answ_data_byte_array_dim_as_server(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                              int sem_group_id, int data_id);
// The names of the channel's send (receive) data, one per line, in a buffer of
// py_get_cmd_data_args_max_string_length() bytes, zero-filled behind the text;
// "id_not_valid" on error, also when the group has no data.
void py_get_list_cmd_send_data_args(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                    int cmd_id, char* return_string);
void py_get_list_cmd_recv_data_args(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred,
                                    int cmd_id, char* return_string);
int py_get_cmd_data_args_max_string_length();

XELO_SHM_CTYPES_DATA_VALUE_TYPES(XELO_SHM_CTYPES_DECLARE_CHANNEL_VALUE)

}  // extern "C"
