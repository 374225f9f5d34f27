// Script interface for the data groups: reader and writer roles, posting and
// waiting, the ring buffer, the data directory, typed data and byte arrays.
// A script's post is never exclusive and wakes every reader; its wait never
// asks who posted; its release is never a server release.

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_ctypes.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using Manager = Framework_Shared_Memory_Manager;
using namespace xelo_shm_ctypes;

namespace {
constexpr unsigned int INVALID_GROUP_ID = 0;
constexpr int INVALID_DATA_ID = 0;
}  // namespace

// ---- roles, posting and waiting ----------------------------------------------------------

unsigned int py_get_sem_data_group_read_id(Manager* memory_manager, uint32_t* error_occurred,
                                           const char* sem_group_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_GROUP_ID, [&](Manager& m) {
        return static_cast<unsigned int>(m.get_sem_data_group_read_id_ex(text_of_ex(sem_group_name, "sem_group_name")));
    });
}

unsigned int py_get_sem_data_group_write_id(Manager* memory_manager, uint32_t* error_occurred,
                                            const char* sem_group_name, uint8_t take_only_shared_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_GROUP_ID, [&](Manager& m) {
        return static_cast<unsigned int>(
            m.get_sem_data_group_write_id_ex(text_of_ex(sem_group_name, "sem_group_name"), take_only_shared_id != 0));
    });
}

void py_get_sem_data_group_name_from_id(Manager* memory_manager, uint32_t* error_occurred, int group_id,
                                        char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LABEL_STRING_MAX_LENGTH, "id_not_valid",
                      [&](Manager& m) { return m.get_sem_data_group_name_from_id_ex(group_id); });
}

uint8_t py_try_acquire_sem_data_group(Manager* memory_manager, uint32_t* error_occurred, int sem_id)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.try_acquire_sem_data_group_ex(sem_id)); });
}

void py_release_sem_data_group(Manager* memory_manager, uint32_t* error_occurred, int sem_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.release_sem_data_group_ex(sem_id, false); });
}

void py_post_sem_data_group(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.post_sem_data_group_ex(sem_group_id, false, -1); });
}

uint8_t py_wait_sem_data_group(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, double timeout_ms,
                               int ack_on_poster_release)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0}, [&](Manager& m) {
        return static_cast<uint8_t>(m.wait_sem_data_group_ex(sem_group_id, timeout_ms, ack_on_poster_release, nullptr));
    });
}

// ---- ring buffer -------------------------------------------------------------------------

int py_get_sem_data_group_ring_buffer_slot_number(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id)
{
    return guarded_call(memory_manager, error_occurred, 0,
                        [&](Manager& m) { return m.get_sem_data_group_ring_buffer_slot_number_ex(sem_group_id); });
}

void py_insert_ring_buffer_slot(Manager* memory_manager, uint32_t* error_occurred, int sem_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.insert_ring_buffer_slot_ex(sem_id); });
}

uint8_t py_get_ring_buffer_next_slot(Manager* memory_manager, uint32_t* error_occurred, int sem_id, int8_t* overlap)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0}, [&](Manager& m) {
        return static_cast<uint8_t>(m.get_ring_buffer_next_slot_ex(sem_id, overlap));
    });
}

void py_clear_ring_buffer(Manager* memory_manager, uint32_t* error_occurred, int sem_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.clear_ring_buffer_ex(sem_id); });
}

// ---- data directory ----------------------------------------------------------------------

int py_get_sem_data_group_data_id(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                  const char* data_label)
{
    return guarded_call(memory_manager, error_occurred, INVALID_DATA_ID, [&](Manager& m) {
        return m.get_sem_data_group_data_id_ex(sem_group_id, text_of_ex(data_label, "data_label"));
    });
}

void py_get_label_sem_data_group_data_from_id(Manager* memory_manager, uint32_t* error_occurred,
                                              const char* sem_data_group_name, int data_id, char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LABEL_STRING_MAX_LENGTH, "id_not_valid",
                      [&](Manager& m) {
                          return m.get_label_sem_data_group_data_from_id_ex(text_of_ex(sem_data_group_name,
                                                                                       "sem_data_group_name"),
                                                                            data_id);
                      });
}

Type_Definition py_get_sem_data_group_data_type(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                                int data_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return m.get_sem_data_group_data_type_ex(sem_group_id, data_id); });
}

unsigned int py_get_sem_data_group_data_dim(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                            int data_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_UNSIGNED,
                        [&](Manager& m) { return m.get_sem_data_group_data_dim_ex(sem_group_id, data_id); });
}

int py_get_sem_data_group_data_byte_array_dim(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                              int data_id)
{
    return guarded_call(memory_manager, error_occurred, 0, [&](Manager& m) {
        return static_cast<int>(m.get_sem_data_group_data_byte_array_dim_ex(sem_group_id, data_id));
    });
}

// ---- byte arrays -------------------------------------------------------------------------

void py_get_sem_data_group_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                           int data_id, uint8_t* byte_array, int byte_dim, unsigned int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.get_sem_data_group_data_byte_array_ex(sem_group_id, data_id, byte_array, byte_dim,
                                                byte_offset_of_ex(byte_offset));
    });
}

void py_set_sem_data_group_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                           int data_id, const uint8_t* new_value, int byte_dim,
                                           unsigned int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.set_sem_data_group_data_byte_array_ex(sem_group_id, data_id, new_value, byte_dim,
                                                byte_offset_of_ex(byte_offset));
    });
}

// ---- typed data --------------------------------------------------------------------------

namespace {
template <typename Script, typename Value>
Script read_group_datum(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id)
{
    return guarded_call(memory_manager, error_occurred, Script{}, [&](Manager& m) {
        return static_cast<Script>(m.get_sem_data_group_data_ex<Value>(sem_group_id, data_id));
    });
}

template <typename Value, typename Script>
void write_group_datum(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id,
                       Script new_value)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.set_sem_data_group_data_ex<Value>(sem_group_id, data_id, static_cast<Value>(new_value));
    });
}
}  // namespace

#define XELO_SHM_CTYPES_DEFINE_GROUP_VALUE(manager_type, fixed_type, type_id, script_type, cyclic_suffix, suffix)  \
    script_type py_get_sem_data_group_data_##suffix(Manager* memory_manager, uint32_t* error_occurred,             \
                                                    int sem_group_id, int data_id)                                 \
    {                                                                                                              \
        return read_group_datum<script_type, manager_type>(memory_manager, error_occurred, sem_group_id, data_id); \
    }                                                                                                              \
    void py_set_sem_data_group_data_##suffix(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,  \
                                             int data_id, script_type new_value)                                   \
    {                                                                                                              \
        write_group_datum<manager_type>(memory_manager, error_occurred, sem_group_id, data_id, new_value);         \
    }

XELO_SHM_CTYPES_DATA_VALUE_TYPES(XELO_SHM_CTYPES_DEFINE_GROUP_VALUE)
#undef XELO_SHM_CTYPES_DEFINE_GROUP_VALUE
