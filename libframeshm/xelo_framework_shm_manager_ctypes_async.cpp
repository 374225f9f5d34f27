// Script interface for the asynchronous variables: lookup by label, posting
// a read or a write, polling it, and the typed values. The polls pass no
// master-state pointer: a script has the state from its refresh.

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_ctypes.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using Manager = Framework_Shared_Memory_Manager;
using namespace xelo_shm_ctypes;

namespace {
// The result of a poll whose request failed or expired.
constexpr uint8_t POLL_FAILED = 255;
}  // namespace

// ---- directory ---------------------------------------------------------------------------

unsigned int py_get_async_input_total_number(Manager* memory_manager, uint32_t* error_occurred)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [](Manager& m) { return m.get_async_input_total_number(); });
}

unsigned int py_get_async_output_total_number(Manager* memory_manager, uint32_t* error_occurred)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [](Manager& m) { return m.get_async_output_total_number(); });
}

int py_get_async_input_id(Manager* memory_manager, uint32_t* error_occurred, const char* async_input_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID, [&](Manager& m) {
        return m.get_async_input_id_ex(text_of_ex(async_input_name, "async_input_name"));
    });
}

int py_get_async_output_id(Manager* memory_manager, uint32_t* error_occurred, const char* async_output_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID, [&](Manager& m) {
        return m.get_async_output_id_ex(text_of_ex(async_output_name, "async_output_name"));
    });
}

Type_Definition py_get_async_input_type(Manager* memory_manager, uint32_t* error_occurred, int async_input_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return m.get_async_input_type_ex(async_input_id); });
}

Type_Definition py_get_async_output_type(Manager* memory_manager, uint32_t* error_occurred, int async_output_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return m.get_async_output_type_ex(async_output_id); });
}

// ---- requests and polls ------------------------------------------------------------------

void py_refresh_async_input(Manager* memory_manager, uint32_t* error_occurred, int async_input_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.refresh_async_input_ex(async_input_id); });
}

uint8_t py_is_async_input_refresh(Manager* memory_manager, uint32_t* error_occurred, int async_input_id)
{
    return guarded_call(memory_manager, error_occurred, POLL_FAILED,
                        [&](Manager& m) { return m.is_async_input_refresh_ex(async_input_id, nullptr); });
}

uint8_t py_is_async_output_set(Manager* memory_manager, uint32_t* error_occurred, int async_output_id)
{
    return guarded_call(memory_manager, error_occurred, POLL_FAILED,
                        [&](Manager& m) { return m.is_async_output_set_ex(async_output_id, nullptr); });
}

// ---- typed values ------------------------------------------------------------------------

namespace {
template <typename Script, typename Value>
Script read_async_input(Manager* memory_manager, uint32_t* error_occurred, int async_input_id)
{
    return guarded_call(memory_manager, error_occurred, Script{},
                        [&](Manager& m) { return static_cast<Script>(m.get_async_input_ex<Value>(async_input_id)); });
}

template <typename Value, typename Script>
void write_async_output(Manager* memory_manager, uint32_t* error_occurred, int async_output_id, Script new_value)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.set_async_output_ex<Value>(async_output_id, static_cast<Value>(new_value)); });
}
}  // namespace

#define XELO_SHM_CTYPES_DEFINE_ASYNC_VALUE(manager_type, fixed_type, type_id, script_type, suffix, data_suffix)    \
    script_type py_get_async_input_##suffix(Manager* memory_manager, uint32_t* error_occurred, int async_input_id) \
    {                                                                                                              \
        return read_async_input<script_type, manager_type>(memory_manager, error_occurred, async_input_id);        \
    }                                                                                                              \
    void py_set_async_output_##suffix(Manager* memory_manager, uint32_t* error_occurred, int async_output_id,      \
                                      script_type new_value)                                                       \
    {                                                                                                              \
        write_async_output<manager_type>(memory_manager, error_occurred, async_output_id, new_value);              \
    }

XELO_SHM_CTYPES_ASYNC_VALUE_TYPES(XELO_SHM_CTYPES_DEFINE_ASYNC_VALUE)
#undef XELO_SHM_CTYPES_DEFINE_ASYNC_VALUE
