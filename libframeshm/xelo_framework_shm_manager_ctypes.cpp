// Script interface: the error ring and its mutex, the handle, the type names,
// and the functions for the cycle, the watchdog, saving and the semaphore
// trace.

#include "xelo_framework_shm_manager_ctypes.h"

#include <cxxabi.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>

#include "error_text_ring.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using Manager = Framework_Shared_Memory_Manager;
using namespace xelo_shm_ctypes;

// ---- error ring ------------------------------------------------------------------------

namespace {
constexpr const char* UNKNOWN_EXCEPTION_TEXT =
    "[xelo_shm_manager_ctypes] exception of a type not derived from std::exception";
constexpr const char* INVALID_INDEX_TEXT = "invalid index given to py_get_error_string";

pthread_mutex_t mtx = PTHREAD_MUTEX_INITIALIZER;
Error_Text_Ring<ERROR_RING_SIZE, ERROR_STRING_MAX_LENGTH> error_ring(mtx);
}  // namespace

uint32_t xelo_shm_ctypes::push_string_into_buffer(const char* text) noexcept
{
    return error_ring.push(text);
}

uint32_t xelo_shm_ctypes::store_current_exception()
{
    return error_ring.push_current_exception(UNKNOWN_EXCEPTION_TEXT);
}

void py_get_error_string(unsigned int index, char* error_string)
{
    if (error_string == nullptr)
        return;
    error_ring.copy_out(index, error_string, INVALID_INDEX_TEXT);
}

int py_get_error_string_max_length(Manager* /*memory_manager*/)
{
    return static_cast<int>(ERROR_STRING_MAX_LENGTH);
}

// ---- the ring's mutex ------------------------------------------------------------------

namespace {
// Attributes of a process-private mutex with priority inheritance and error
// checking; false when no attribute object could be made.
bool set_mutex_attributes(pthread_mutexattr_t* attributes)
{
    int result = pthread_mutexattr_init(attributes);
    if (result != 0) {
        std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_init error = %d\n", result);
        return false;
    }
    result = pthread_mutexattr_setprotocol(attributes, PTHREAD_PRIO_INHERIT);
    if (result != 0) {
        std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_setprotocol error = %d\n",
                    result);
        return true;
    }
    result = pthread_mutexattr_settype(attributes, PTHREAD_MUTEX_ERRORCHECK);
    if (result != 0)
        std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_settype error = %d\n",
                    result);
    return true;
}

// Without an attribute object the mutex gets the default attributes.
int mtx_initialization(pthread_mutex_t* mutex)
{
    pthread_mutexattr_t attributes;
    const bool have_attributes = set_mutex_attributes(&attributes);
    const pthread_mutexattr_t* used = have_attributes ? &attributes : nullptr;
    int result = pthread_mutex_init(mutex, used);
    if (result != 0) {
        result = pthread_mutex_destroy(mutex);
        if (result != 0) {
            std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutex_destroy error = %d\n",
                        result);
        } else {
            result = pthread_mutex_init(mutex, used);
            if (result != 0)
                std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutex_init error = %d\n",
                            result);
        }
    }
    if (have_attributes)
        pthread_mutexattr_destroy(&attributes);
    return result;
}
}  // namespace

int py_init_mutex()
{
    return mtx_initialization(&mtx);
}

// ---- helpers shared by every family ----------------------------------------------------

Manager& xelo_shm_ctypes::manager_of_ex(Manager* memory_manager)
{
    if (memory_manager == nullptr)
        throw std::runtime_error("[xelo_shm_manager_ctypes] memory_manager handle is null");
    return *memory_manager;
}

std::string xelo_shm_ctypes::text_of_ex(const char* text, const char* argument_name)
{
    if (text == nullptr)
        throw std::runtime_error(std::string("[xelo_shm_manager_ctypes] ") + argument_name + " is null");
    return std::string(text);
}

void xelo_shm_ctypes::require_buffer_ex(const void* buffer, const char* argument_name)
{
    if (buffer == nullptr)
        throw std::runtime_error(std::string("[xelo_shm_manager_ctypes] ") + argument_name + " is null");
}

int xelo_shm_ctypes::byte_offset_of_ex(unsigned int byte_offset)
{
    if (byte_offset > static_cast<unsigned int>(std::numeric_limits<int>::max()))
        throw std::runtime_error("[xelo_shm_manager_ctypes] byte_offset out of range: " + std::to_string(byte_offset));
    return static_cast<int>(byte_offset);
}

std::size_t xelo_shm_ctypes::copy_text(char* buffer, std::size_t size, const char* text, std::size_t length) noexcept
{
    if (buffer == nullptr || size == 0)
        return 0;
    const std::size_t copied = std::min(length, size - 1);
    std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    return copied;
}

// ---- handle and attach -----------------------------------------------------------------

Manager* py_framework_manager_new(uint32_t* error_occurred)
{
    return guarded(error_occurred, static_cast<Manager*>(nullptr), [] { return new Manager(); });
}

void py_init(Manager* memory_manager, uint32_t* error_occurred, const char* application_name, int version_major,
             int version_minor)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.init_with_h_compatibility_check_ex(text_of_ex(application_name, "application_name"), version_major,
                                             version_minor);
    });
}

// ---- type names ------------------------------------------------------------------------

namespace {
struct Type_Name {
    const char* name;
    Type_Definition code;
};

// Compared in this order.
constexpr Type_Name TYPE_NAMES[] = {
    {"PY_UNDEFINED_TYPE", UNDEFINED_TYPE_FSM},
    {"PY_BIT", BIT_FSM},
    {"PY_INT8", INT8_FSM},
    {"PY_UINT8", UINT8_FSM},
    {"PY_INT16", INT16_FSM},
    {"PY_UINT16", UINT16_FSM},
    {"PY_INT32", INT32_FSM},
    {"PY_INT64", INT64_FSM},
    {"PY_UINT64", UINT64_FSM},
    {"PY_FLOAT", FLOAT_FSM},
    {"PY_UINT32", UINT32_FSM},
    {"PY_DOUBLE", DOUBLE_FSM},
    {"PY_BYTE_ARRAY", BYTE_ARRAY_FSM},
};

Type_Definition type_code_of_ex(const char* name)
{
    if (name != nullptr)
        for (const Type_Name& entry : TYPE_NAMES)
            if (std::strcmp(entry.name, name) == 0)
                return entry.code;
    throw std::runtime_error("required type name not recognized");
}
}  // namespace

int py_get_value_of_type(uint32_t* error_occurred, const char* input_name)
{
    return guarded(error_occurred, static_cast<int>(UNDEFINED_TYPE_FSM),
                   [&] { return static_cast<int>(type_code_of_ex(input_name)); });
}

void py_get_type_name_from_type_id(uint32_t* error_occurred, int type_value, char* type_string)
{
    guarded(error_occurred, [&] {
        require_buffer_ex(type_string, "type_string");
        copy_text(type_string, TYPE_NAME_MAX_LENGTH, get_type_name_from_type_id_ex(type_value));
    });
}

// ---- cycle, watchdog, save request, semaphore trace ------------------------------------

void py_set_refresh_time_ns(Manager* memory_manager, uint32_t* error_occurred, unsigned int refresh_time_ns)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.set_refresh_time_ns_ex(refresh_time_ns); });
}

void py_turn_off_watchdog(Manager* memory_manager, uint32_t* error_occurred)
{
    guarded_call(memory_manager, error_occurred, [](Manager& m) { m.turn_off_watchdog_ex(); });
}

void py_turn_on_watchdog(Manager* memory_manager, uint32_t* error_occurred)
{
    guarded_call(memory_manager, error_occurred, [](Manager& m) { m.turn_on_watchdog_ex(); });
}

void py_set_watchdog_value(Manager* memory_manager, uint32_t* error_occurred, int num_cycle)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.set_watchdog_value_ex(num_cycle); });
}

uint32_t py_get_master_cycle_time_ns(Manager* memory_manager, uint32_t* error_occurred)
{
    return guarded_call(memory_manager, error_occurred, uint32_t{0},
                        [](Manager& m) { return m.get_master_cycle_time_ns_ex(); });
}

int py_refresh_data(Manager* memory_manager, uint32_t* error_occurred, uint32_t* absolute_tick)
{
    return guarded_call(memory_manager, error_occurred, 0,
                        [&](Manager& m) { return m.refresh_data_ex(absolute_tick); });
}

int py_refresh_data_and_get_ec_master_state(Manager* memory_manager, uint32_t* error_occurred, uint32_t* absolute_tick,
                                            uint8_t* is_ethercat_master_online)
{
    return guarded_call(memory_manager, error_occurred, 0, [&](Manager& m) {
        return m.refresh_data_and_get_ec_master_state_ex(is_ethercat_master_online, absolute_tick);
    });
}

void py_save_cfg_file(Manager* memory_manager, uint32_t* error_occurred)
{
    guarded_call(memory_manager, error_occurred, [](Manager& m) { m.save_cfg_file_ex(); });
}

void py_enable_trace_semaphore(Manager* memory_manager, uint32_t* error_occurred)
{
    guarded_call(memory_manager, error_occurred, [](Manager& m) { m.enable_semaphore_trace(); });
}

void py_disable_trace_sempahore(Manager* memory_manager, uint32_t* error_occurred)
{
    guarded_call(memory_manager, error_occurred, [](Manager& m) { m.disable_semaphore_trace(); });
}
