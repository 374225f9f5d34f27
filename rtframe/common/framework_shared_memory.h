#pragma once

// Byte layout of every framework shared-memory segment, one contract between
// rtframe and all its clients. The target is 32-bit ARM Linux
// (pthread_mutex_t 24 B, sem_t 16 B); natively the same source gives the
// same layout with the platform's own widths of those two types. Time stamps
// are stored as two signed 32-bit fields whatever the width of time_t.
//
// Packed records must only be read and written by value or through memcpy:
// never bind a reference or pointer to one of their multi-byte fields.

#include <pthread.h>
#include <semaphore.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "framework_types.h"

// A timespec as it lies in shared records and queue messages.
struct __attribute__((packed)) Shared_Timespec {
    int32_t tv_sec;
    int32_t tv_nsec;
};
static_assert(sizeof(Shared_Timespec) == 8, "Shared_Timespec is 8 bytes");

inline Shared_Timespec to_shared_timespec(const timespec& ts)
{
    return Shared_Timespec{static_cast<int32_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec)};
}

inline timespec from_shared_timespec(const Shared_Timespec& ts)
{
    timespec out{};
    out.tv_sec = ts.tv_sec;
    out.tv_nsec = ts.tv_nsec;
    return out;
}

constexpr int FRAMEWORK_APPLICATION_ID_OFFSET = 100;  // application n is named n + 100
constexpr int FRAMEWORK_MAX_APPLICATIONS = 100;       // rows of app_names
constexpr int FRAMEWORK_APP_NAME_SIZE = 50;
constexpr int FRAMEWORK_NAME_ID_SIZE = 500;
constexpr int FRAMEWORK_DEFAULT_VALUE_SIZE = 100;
constexpr int FRAMEWORK_GROUP_NAME_SIZE = 100;
constexpr int FRAMEWORK_ASYNC_VALUE_SIZE = 8;

// ---- segment and queue names ------------------------------------------------
// Every framework segment is "/linux_framework" plus a suffix, created by the
// server with mode 0600; the three segments of a data group append the
// group's name to their prefix. The one place these names are written.
namespace framework_names {
constexpr char INFO[] = "/linux_framework_info";
constexpr char CYCLIC_MUTEX[] = "/linux_framework_cyclic_mutex";
constexpr char CYCLIC_INPUTS[] = "/linux_framework_cyclic_inputs";
constexpr char CYCLIC_OUTPUTS[] = "/linux_framework_cyclic_outputs";
constexpr char CYCLIC_SEMS[] = "/linux_framework_cyclic_sems";
constexpr char APP_INPUT_MUTEX[] = "/linux_framework_app_input_mutex";
constexpr char APP_INPUT_DATA[] = "/linux_framework_app_input_data";
constexpr char APP_OUTPUT_MUTEX[] = "/linux_framework_app_output_mutex";
constexpr char APP_OUTPUT_DATA[] = "/linux_framework_app_output_data";
constexpr char ASYNC_MUTEX[] = "/linux_framework_async_mutex";
constexpr char ASYNC_INPUT_FROM_FRAMEWORK[] = "/linux_framework_async_input_from_framework_data";
constexpr char ASYNC_INPUT_TO_FRAMEWORK[] = "/linux_framework_async_input_to_framework_data";
constexpr char ASYNC_OUTPUT_FROM_FRAMEWORK[] = "/linux_framework_async_output_from_framework_data";
constexpr char ASYNC_OUTPUT_TO_FRAMEWORK[] = "/linux_framework_async_output_to_framework_data";
constexpr char SEM_DATA_GROUP_STRUCT[] = "/linux_framework_sem_data_group_struct";
// Prefixes of the three segments of each data group.
constexpr char SEM_DATA_GROUP_SEM[] = "/linux_framework_sem_data_group_sem";
constexpr char SEM_DATA_GROUP_DATA_INFO[] = "/linux_framework_sem_data_group_data_info";
constexpr char SEM_DATA_GROUP_DATA[] = "/linux_framework_sem_data_group_data";
// The logging queue.
constexpr char QUEUE[] = "/linux_framework_queue";

// The segments of fixed name, in the order the server creates them.
constexpr const char* FIXED_SEGMENTS[] = {INFO,
                                          CYCLIC_MUTEX,
                                          CYCLIC_INPUTS,
                                          CYCLIC_OUTPUTS,
                                          CYCLIC_SEMS,
                                          APP_INPUT_MUTEX,
                                          APP_INPUT_DATA,
                                          APP_OUTPUT_MUTEX,
                                          APP_OUTPUT_DATA,
                                          ASYNC_MUTEX,
                                          ASYNC_INPUT_FROM_FRAMEWORK,
                                          ASYNC_INPUT_TO_FRAMEWORK,
                                          ASYNC_OUTPUT_FROM_FRAMEWORK,
                                          ASYNC_OUTPUT_TO_FRAMEWORK,
                                          SEM_DATA_GROUP_STRUCT};
}  // namespace framework_names

// One per system, framework_names::INFO. Padding-free on the target.
struct Shared_Info_Struct {
    pthread_mutex_t mutex;
    uint32_t master_cycle_time;
    uint32_t async_data_timeout_ns;
    uint32_t application_data_inputs_num;
    uint32_t application_data_outputs_num;
    uint32_t cyclic_input_byte_dim;
    uint32_t cyclic_output_byte_dim;
    int32_t cyclic_xeno_sem_dim;
    int32_t cyclic_linux_sem_dim;
    uint32_t async_inputs_num;
    uint32_t async_outputs_num;
    uint32_t has_to_save;
    uint32_t ready_to_start;
    uint32_t num_data_sem_group;
    uint32_t project_version_major;
    uint32_t project_version_minor;
    char app_names[FRAMEWORK_MAX_APPLICATIONS][FRAMEWORK_APP_NAME_SIZE];
};

// One slot per application number, framework_names::CYCLIC_SEMS.
struct Shared_Sem_Struct {
    sem_t sem;
    uint32_t start_value;
    uint32_t actual_value;
    int32_t overflow;
    int32_t watchdog_max_value;
    uint8_t is_assigned;
    uint8_t watchdog_is_active;
    uint8_t padding[2];
    uint32_t framework_absolute_tick_number;
};

// One per cyclic input or output.
struct __attribute__((packed)) Shared_Application_Data_Struct {
    uint32_t byte_offs;
    uint32_t byte_dim;
    uint32_t bit_offs;
    uint8_t is_already_rw;
    uint8_t is_modified;
    uint8_t is_negated;
    char name_id[FRAMEWORK_NAME_ID_SIZE];
    Type_Definition type;
    int32_t application_number_take_rw;
    int32_t group_id;
    uint8_t default_value[FRAMEWORK_DEFAULT_VALUE_SIZE];
    uint8_t has_to_save;
    uint8_t is_alias;
    char alias_of[FRAMEWORK_NAME_ID_SIZE];
};

struct __attribute__((packed)) Shared_Async_Input_Data_From_Framework {
    uint8_t value[FRAMEWORK_ASYNC_VALUE_SIZE];
    Shared_Timespec ts;
    uint8_t error_flag;
    uint32_t error_code;
    char name_id[FRAMEWORK_NAME_ID_SIZE];
    Type_Definition type;
    uint32_t byte_dimension;
};

struct __attribute__((packed)) Shared_Async_Input_Data_To_Framework {
    uint8_t to_update;
};

struct __attribute__((packed)) Shared_Async_Output_Data_From_Framework {
    Shared_Timespec ts;
    uint8_t error_flag;
    uint32_t error_code;
    char name_id[FRAMEWORK_NAME_ID_SIZE];
    Type_Definition type;
    uint32_t byte_dimension;
    uint8_t framework_read_update_cmd;
};

struct __attribute__((packed)) Shared_Async_Output_Data_To_Framework {
    uint8_t to_update;
    uint8_t new_value[FRAMEWORK_ASYNC_VALUE_SIZE];
    int32_t application_number_take_rw;
};

// One per data group, framework_names::SEM_DATA_GROUP_STRUCT.
struct Shared_Sem_Data_Group_Struct {
    char group_name[FRAMEWORK_GROUP_NAME_SIZE];
    uint32_t data_num;
    uint32_t data_byte;
    int32_t rw_app_id;
    int32_t last_post_cmd_app_id;
    int32_t last_post_app_id_to_answ;
    int32_t sem_posted;
    int8_t is_buffered;
    uint8_t padding_1[3];
    int32_t ring_buffer_slot_number;
    uint32_t ring_buffer_post_id;
    int8_t flag_only_not_rt;
    uint8_t padding_2[3];
    int32_t is_posted_from_watchdog;
    int32_t is_server_waiting_cmd_setter;
    pthread_mutex_t mutex;
};

// One row per application number in each group's semaphore segment.
struct Shared_Sem_Data_Group_Sem_Struct {
    sem_t sem;
    int32_t application_id;
    uint32_t application_has_been_released;
};

// One per data item of a group.
struct Shared_Sem_Data_Group_Data_Info {
    int32_t byte_offs;
    uint32_t byte_dim;
    uint32_t bit_offs;
    char name_id[FRAMEWORK_NAME_ID_SIZE];
    Type_Definition type;
    uint8_t default_value[FRAMEWORK_DEFAULT_VALUE_SIZE];
};

// Handle of one attached segment; both -1 when not attached.
struct Shared_Memory_Info {
    int32_t fd = -1;
    int32_t status = -1;
};

// ---- layout checks --------------------------------------------------------
namespace framework_layout {
constexpr std::size_t round_up(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}
constexpr std::size_t MUTEX = sizeof(pthread_mutex_t);
constexpr std::size_t SEM = sizeof(sem_t);
constexpr std::size_t GROUP_MUTEX_OFFSET = round_up(148, alignof(pthread_mutex_t));
}  // namespace framework_layout

static_assert(offsetof(Shared_Info_Struct, master_cycle_time) == framework_layout::MUTEX, "info layout");
static_assert(offsetof(Shared_Info_Struct, ready_to_start) == framework_layout::MUTEX + 44, "info layout");
static_assert(offsetof(Shared_Info_Struct, project_version_minor) == framework_layout::MUTEX + 56, "info layout");
static_assert(offsetof(Shared_Info_Struct, app_names) == framework_layout::MUTEX + 60, "info layout");
static_assert(sizeof(Shared_Info_Struct) ==
                  framework_layout::round_up(framework_layout::MUTEX + 5060, alignof(pthread_mutex_t)),
              "info size");

static_assert(offsetof(Shared_Sem_Struct, start_value) == framework_layout::SEM, "sem slot layout");
static_assert(offsetof(Shared_Sem_Struct, overflow) == framework_layout::SEM + 8, "sem slot layout");
static_assert(offsetof(Shared_Sem_Struct, is_assigned) == framework_layout::SEM + 16, "sem slot layout");
static_assert(offsetof(Shared_Sem_Struct, watchdog_is_active) == framework_layout::SEM + 17, "sem slot layout");
static_assert(offsetof(Shared_Sem_Struct, framework_absolute_tick_number) == framework_layout::SEM + 20,
              "sem slot layout");
static_assert(sizeof(Shared_Sem_Struct) == framework_layout::round_up(framework_layout::SEM + 24, alignof(sem_t)),
              "sem slot size");

static_assert(offsetof(Shared_Application_Data_Struct, is_negated) == 14, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, name_id) == 15, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, type) == 515, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, application_number_take_rw) == 519, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, group_id) == 523, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, default_value) == 527, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, has_to_save) == 627, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, is_alias) == 628, "app data layout");
static_assert(offsetof(Shared_Application_Data_Struct, alias_of) == 629, "app data layout");
static_assert(sizeof(Shared_Application_Data_Struct) == 1129, "app data size");

static_assert(offsetof(Shared_Async_Input_Data_From_Framework, ts) == 8, "async input layout");
static_assert(offsetof(Shared_Async_Input_Data_From_Framework, error_flag) == 16, "async input layout");
static_assert(offsetof(Shared_Async_Input_Data_From_Framework, error_code) == 17, "async input layout");
static_assert(offsetof(Shared_Async_Input_Data_From_Framework, name_id) == 21, "async input layout");
static_assert(offsetof(Shared_Async_Input_Data_From_Framework, type) == 521, "async input layout");
static_assert(offsetof(Shared_Async_Input_Data_From_Framework, byte_dimension) == 525, "async input layout");
static_assert(sizeof(Shared_Async_Input_Data_From_Framework) == 529, "async input size");
static_assert(sizeof(Shared_Async_Input_Data_To_Framework) == 1, "async input request size");

static_assert(offsetof(Shared_Async_Output_Data_From_Framework, error_flag) == 8, "async output layout");
static_assert(offsetof(Shared_Async_Output_Data_From_Framework, error_code) == 9, "async output layout");
static_assert(offsetof(Shared_Async_Output_Data_From_Framework, name_id) == 13, "async output layout");
static_assert(offsetof(Shared_Async_Output_Data_From_Framework, type) == 513, "async output layout");
static_assert(offsetof(Shared_Async_Output_Data_From_Framework, byte_dimension) == 517, "async output layout");
static_assert(offsetof(Shared_Async_Output_Data_From_Framework, framework_read_update_cmd) == 521,
              "async output layout");
static_assert(sizeof(Shared_Async_Output_Data_From_Framework) == 522, "async output size");
static_assert(offsetof(Shared_Async_Output_Data_To_Framework, new_value) == 1, "async output request layout");
static_assert(offsetof(Shared_Async_Output_Data_To_Framework, application_number_take_rw) == 9,
              "async output request layout");
static_assert(sizeof(Shared_Async_Output_Data_To_Framework) == 13, "async output request size");

static_assert(offsetof(Shared_Sem_Data_Group_Struct, data_num) == 100, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, sem_posted) == 120, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, is_buffered) == 124, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, ring_buffer_slot_number) == 128, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, ring_buffer_post_id) == 132, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, flag_only_not_rt) == 136, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, is_posted_from_watchdog) == 140, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, is_server_waiting_cmd_setter) == 144, "group layout");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, mutex) == framework_layout::GROUP_MUTEX_OFFSET, "group layout");
static_assert(sizeof(Shared_Sem_Data_Group_Struct) ==
                  framework_layout::round_up(framework_layout::GROUP_MUTEX_OFFSET + framework_layout::MUTEX,
                                             alignof(pthread_mutex_t)),
              "group size");

static_assert(offsetof(Shared_Sem_Data_Group_Sem_Struct, application_id) == framework_layout::SEM, "group sem layout");
static_assert(offsetof(Shared_Sem_Data_Group_Sem_Struct, application_has_been_released) == framework_layout::SEM + 4,
              "group sem layout");
static_assert(sizeof(Shared_Sem_Data_Group_Sem_Struct) ==
                  framework_layout::round_up(framework_layout::SEM + 8, alignof(sem_t)),
              "group sem size");

static_assert(offsetof(Shared_Sem_Data_Group_Data_Info, name_id) == 12, "data info layout");
static_assert(offsetof(Shared_Sem_Data_Group_Data_Info, type) == 512, "data info layout");
static_assert(offsetof(Shared_Sem_Data_Group_Data_Info, default_value) == 516, "data info layout");
static_assert(sizeof(Shared_Sem_Data_Group_Data_Info) == 616, "data info size");

// On the 32-bit target every record has exactly its contract size.
#if __SIZEOF_POINTER__ == 4
static_assert(sizeof(pthread_mutex_t) == 24 && sizeof(sem_t) == 16, "32-bit Linux widths");
static_assert(sizeof(Shared_Info_Struct) == 5084, "info size on the target");
static_assert(offsetof(Shared_Info_Struct, app_names) == 84, "info layout on the target");
static_assert(sizeof(Shared_Sem_Struct) == 40, "sem slot size on the target");
static_assert(offsetof(Shared_Sem_Struct, framework_absolute_tick_number) == 36, "sem slot layout on the target");
static_assert(sizeof(Shared_Sem_Data_Group_Struct) == 172, "group size on the target");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, mutex) == 148, "group layout on the target");
static_assert(sizeof(Shared_Sem_Data_Group_Sem_Struct) == 24, "group sem size on the target");
static_assert(offsetof(Shared_Sem_Data_Group_Sem_Struct, application_has_been_released) == 20,
              "group sem layout on the target");
#endif
