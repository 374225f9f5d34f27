// Script interface for the cyclic inputs and outputs: lookup by label,
// metadata, output ownership and defaults, typed values and byte arrays.
// Readers pass no taken check, so a script reads any variable.

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_ctypes.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using Manager = Framework_Shared_Memory_Manager;
using namespace xelo_shm_ctypes;

// ---- directory and metadata ------------------------------------------------------------

unsigned int py_get_input_total_number(Manager* memory_manager, uint32_t* error_occurred)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [](Manager& m) { return m.get_input_total_number(); });
}

unsigned int py_get_output_total_number(Manager* memory_manager, uint32_t* error_occurred)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [](Manager& m) { return m.get_output_total_number(); });
}

int py_get_input_id(Manager* memory_manager, uint32_t* error_occurred, const char* input_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.get_input_id_ex(text_of_ex(input_name, "input_name")); });
}

int py_get_output_ro_id(Manager* memory_manager, uint32_t* error_occurred, const char* output_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.get_output_ro_id_ex(text_of_ex(output_name, "output_name")); });
}

int py_get_output_rw_id(Manager* memory_manager, uint32_t* error_occurred, const char* output_name,
                        uint8_t take_only_shared_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID, [&](Manager& m) {
        return m.get_output_rw_id_ex(text_of_ex(output_name, "output_name"), take_only_shared_id != 0);
    });
}

int py_has_input(Manager* memory_manager, uint32_t* error_occurred, const char* input_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.has_input_ex(text_of_ex(input_name, "input_name")) ? 1 : 0; });
}

int py_has_output(Manager* memory_manager, uint32_t* error_occurred, const char* output_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.has_output_ex(text_of_ex(output_name, "output_name")) ? 1 : 0; });
}

Type_Definition py_get_input_type(Manager* memory_manager, uint32_t* error_occurred, int input_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return static_cast<Type_Definition>(m.get_input_type_ex(input_id)); });
}

int py_get_input_group(Manager* memory_manager, uint32_t* error_occurred, int input_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.get_input_group_ex(input_id); });
}

unsigned int py_get_input_dim(Manager* memory_manager, uint32_t* error_occurred, int input_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [&](Manager& m) { return m.get_input_dim_ex(input_id); });
}

void py_get_input_label(Manager* memory_manager, uint32_t* error_occurred, int input_id, char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LABEL_STRING_MAX_LENGTH, "id_not_valid",
                      [&](Manager& m) { return m.get_input_label_ex(input_id, false); });
}

Type_Definition py_get_output_type(Manager* memory_manager, uint32_t* error_occurred, int output_id,
                                   uint8_t taken_check)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM, [&](Manager& m) {
        return static_cast<Type_Definition>(m.get_output_type_ex(output_id, taken_check != 0));
    });
}

int py_get_output_group(Manager* memory_manager, uint32_t* error_occurred, int output_id, uint8_t taken_check)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.get_output_group_ex(output_id, taken_check != 0); });
}

unsigned int py_get_output_dim(Manager* memory_manager, uint32_t* error_occurred, int output_id, uint8_t taken_check)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [&](Manager& m) { return m.get_output_dim_ex(output_id, taken_check != 0); });
}

void py_get_output_label(Manager* memory_manager, uint32_t* error_occurred, int output_id, char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LABEL_STRING_MAX_LENGTH, "id not valid",
                      [&](Manager& m) { return m.get_output_label_ex(output_id, false); });
}

// ---- ownership and defaults ------------------------------------------------------------

int py_try_acquire_output_group(Manager* memory_manager, uint32_t* error_occurred, int group_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_ID,
                        [&](Manager& m) { return m.try_acquire_output_group_ex(group_id); });
}

void py_release_output_group_control(Manager* memory_manager, uint32_t* error_occurred, int group_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.release_output_group_control_ex(group_id); });
}

void py_set_current_value_as_default_ex(Manager* memory_manager, uint32_t* error_occurred, int output_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.set_current_value_as_default_ex(output_id); });
}

// ---- typed values ----------------------------------------------------------------------

namespace {
template <typename Script, typename Value>
Script read_input(Manager* memory_manager, uint32_t* error_occurred, int input_id)
{
    return guarded_call(memory_manager, error_occurred, Script{},
                        [&](Manager& m) { return static_cast<Script>(m.get_input_ex<Value>(input_id, false)); });
}

template <typename Script, typename Value>
Script read_output(Manager* memory_manager, uint32_t* error_occurred, int output_id)
{
    return guarded_call(memory_manager, error_occurred, Script{},
                        [&](Manager& m) { return static_cast<Script>(m.get_output_ex<Value>(output_id, false)); });
}

// An unsigned id above the int range turns negative, which the manager
// refuses as an invalid id.
template <typename Value, typename Id, typename Script>
void write_output(Manager* memory_manager, uint32_t* error_occurred, Id output_id, Script new_value)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.set_output_ex<Value>(static_cast<int>(output_id), static_cast<Value>(new_value));
    });
}
}  // namespace

#define XELO_SHM_CTYPES_DEFINE_CYCLIC_VALUE(manager_type, fixed_type, type_id, script_type, suffix, data_suffix) \
    script_type py_get_input_##suffix(Manager* memory_manager, uint32_t* error_occurred, int input_id)           \
    {                                                                                                            \
        return read_input<script_type, manager_type>(memory_manager, error_occurred, input_id);                  \
    }                                                                                                            \
    script_type py_get_output_##suffix(Manager* memory_manager, uint32_t* error_occurred, int output_id)         \
    {                                                                                                            \
        return read_output<script_type, manager_type>(memory_manager, error_occurred, output_id);                \
    }                                                                                                            \
    void py_set_output_##suffix(Manager* memory_manager, uint32_t* error_occurred,                               \
                                Xelo_Shm_Ctypes_Output_Id<manager_type>::type output_id, script_type new_value)  \
    {                                                                                                            \
        write_output<manager_type>(memory_manager, error_occurred, output_id, new_value);                        \
    }

XELO_SHM_CTYPES_CYCLIC_VALUE_TYPES(XELO_SHM_CTYPES_DEFINE_CYCLIC_VALUE)
#undef XELO_SHM_CTYPES_DEFINE_CYCLIC_VALUE

// ---- byte arrays -----------------------------------------------------------------------

void py_get_input_byte_array_t(Manager* memory_manager, uint32_t* error_occurred, int input_id, uint8_t* array,
                               int byte_dim, int byte_offset)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.get_input_byte_array_ex(input_id, array, byte_dim, byte_offset); });
}

void py_get_output_byte_array_t(Manager* memory_manager, uint32_t* error_occurred, int output_id, uint8_t* array,
                                int byte_dim, int byte_offset)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.get_output_byte_array_ex(output_id, array, byte_dim, byte_offset); });
}

void py_set_output_byte_array_t(Manager* memory_manager, uint32_t* error_occurred, int output_id,
                                const uint8_t* new_values, int dim, int byte_offset)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.set_output_byte_array_ex(output_id, new_values, dim, byte_offset); });
}
