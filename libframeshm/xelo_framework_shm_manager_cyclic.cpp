// The cyclic exchange with the server and the typed access to the private
// images between two exchanges. Nothing here allocates unless it throws or
// logs.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_clock.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
using shm_manager_clock::deadline_after;
constexpr float QUEUE_TIMEOUT_MS = 0.05f;

void require_buffer_ex(const void* buffer, const char* operation)
{
    if (buffer == nullptr)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + operation +
                                 "] the byte buffer is null");
}

uint8_t bit_mask(uint32_t bit_offs)
{
    return bit_offs <= 7 ? static_cast<uint8_t>(1u << bit_offs) : 0;
}

template <typename T>
T read_value(const uint8_t* image, const Shared_Application_Data_Struct& record)
{
    if constexpr (std::is_same_v<T, bool>) {
        const bool value = (image[record.byte_offs] & bit_mask(record.bit_offs)) != 0;
        return record.is_negated != 0 ? !value : value;
    } else {
        return Container_Traits<T>::build(image + record.byte_offs);
    }
}

template <typename T>
void write_value(uint8_t* image, const Shared_Application_Data_Struct& record, T value)
{
    if constexpr (std::is_same_v<T, bool>) {
        const bool bit = record.is_negated != 0 ? !value : value;
        const uint8_t mask = bit_mask(record.bit_offs);
        uint8_t& byte = image[record.byte_offs];
        byte = static_cast<uint8_t>(bit ? (byte | mask) : (byte & ~mask));
    } else {
        std::memcpy(image + record.byte_offs, &value, sizeof(T));
    }
}
}  // namespace

// ---- refresh -------------------------------------------------------------------------

Shared_Sem_Struct& Framework_Shared_Memory_Manager::my_cyclic_sem_ex(const char* operation)
{
    const int32_t n = m_my_application_number;
    if (n < 0 || n >= m_sems_size || m_shm_cyclic_data.sems_ptr == nullptr)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + operation +
                                 "] no application slot, attach first");
    return m_shm_cyclic_data.sems_ptr[n];
}

// The application number of a slot that the framework watchdog freed may
// already name the next application.
void Framework_Shared_Memory_Manager::check_not_released_ex(const char* operation) const
{
    if (m_cyclic_sem_released)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + operation +
                                 "] application slot was released by the framework watchdog");
}

int Framework_Shared_Memory_Manager::refresh_data_ex(uint32_t* tick)
{
    Shared_Sem_Struct& slot = my_cyclic_sem_ex("refresh_data_ex");
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        throw std::runtime_error("clock_gettime error");
    const timespec deadline = deadline_after(now, m_refresh_timeout_ns);
    if (m_cyclic_sem_released)
        return refresh_after_slot_release(deadline);

    if (sem_timedwait(&slot.sem, &deadline) != 0) {
        const int err = errno;
        if (err != ETIMEDOUT)
            throw std::runtime_error("refresh_data_ex(): Failed to wait refresh sem ... errno :: " + num2str(err));
        log_err("[Framework_Shared_Memory_Manager][refresh_data_ex] application refresh sem post timeout");
        return -2;
    }
    update_logging_switches();
    if (m_refresh_logging_enabled &&
        !m_logging_queue_writer.send_queue_cyclic_wait_ex(m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET,
                                                          QUEUE_TIMEOUT_MS))
        log_war("[Framework_Shared_Memory_Manager][refresh_data_ex] send_queue_timeout!");
    exchange_images(slot, tick);
    return m_overflow;
}

// After the watchdog freed the slot its semaphore belongs to whoever attaches
// next: the refresh only lets its time-out pass.
int Framework_Shared_Memory_Manager::refresh_after_slot_release(const timespec& deadline)
{
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
    log_err("[Framework_Shared_Memory_Manager][refresh_data_ex] application refresh sem post timeout");
    return -2;
}

void Framework_Shared_Memory_Manager::update_logging_switches()
{
    const bool refresh_logging = m_input[m_refresh_logging_offset] != 0;
    const bool sem_data_logging = m_input[m_sem_data_logging_offset] != 0;
    if (refresh_logging != m_refresh_logging_enabled) {
        log_war(std::string("[Framework_Shared_Memory_Manager][refresh_data_ex] refresh logging enable --> ") +
                (refresh_logging ? "1" : "0"));
        m_refresh_logging_enabled = refresh_logging;
    }
    if (sem_data_logging != m_sem_data_logging_enabled) {
        log_war(std::string("[Framework_Shared_Memory_Manager][refresh_data_ex] sem data logging enable --> ") +
                (sem_data_logging ? "1" : "0"));
        m_sem_data_logging_enabled = sem_data_logging;
    }
}

// The slot's overflow and tick are taken under the cyclic mutex together
// with the images. A slot that the framework watchdog freed (no longer
// assigned, the -1 overflow of a released slot, or the watchdog this
// application turned on found off) is given up for good: it may already
// belong to the next application, and nothing is written any more.
void Framework_Shared_Memory_Manager::exchange_images(Shared_Sem_Struct& slot, uint32_t* tick)
{
    std::sort(m_output_modified_list.begin(), m_output_modified_list.end());
    Robust_Mutex held(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const bool freed =
        slot.is_assigned == 0 || slot.overflow < 0 || (m_watchdog_turned_on && slot.watchdog_is_active == 0);
    if (freed) {
        m_cyclic_sem_released = true;
        m_overflow = -1;
        lock.unlock();
        log_err("[Framework_Shared_Memory_Manager][refresh_data_ex] application slot " +
                num2str(m_my_application_number) +
                " was released by the framework watchdog: outputs are no longer written");
        return;
    }
    m_overflow = slot.overflow;
    slot.overflow = 0;
    note_exchange();
    if (tick != nullptr)
        *tick = slot.framework_absolute_tick_number;
    if (m_input_cycle_size != 0)
        std::memcpy(m_input.data(), m_shm_cyclic_data.inputs_ptr, m_input_cycle_size);
    write_modified_outputs();
    if (m_output_cycle_size != 0)
        std::memcpy(m_output.data(), m_shm_cyclic_data.outputs_ptr, m_output_cycle_size);
    lock.unlock();
}

void Framework_Shared_Memory_Manager::write_modified_outputs()
{
    uint8_t* shared = m_shm_cyclic_data.outputs_ptr;
    for (const uint32_t index : m_output_modified_list) {
        Shared_Application_Data_Struct& record = output_record(static_cast<int>(index));
        record.is_modified = 1;
        m_output_is_modify[index] = 0;
        const uint32_t offs = record.byte_offs;
        if (record.type == BIT_FSM) {
            const uint8_t mask = bit_mask(record.bit_offs);
            shared[offs] = static_cast<uint8_t>((shared[offs] & ~mask) | (m_output[offs] & mask));
        } else {
            std::memcpy(shared + offs, m_output.data() + offs, record.byte_dim);
        }
    }
    m_output_modified_list.clear();
}

void Framework_Shared_Memory_Manager::mark_output_modified(int actual_index)
{
    if (m_output_is_modify[actual_index] != 0)
        return;
    m_output_is_modify[actual_index] = 1;
    m_output_modified_list.push_back(static_cast<uint32_t>(actual_index));
}

int Framework_Shared_Memory_Manager::refresh_data_and_get_ec_master_state_ex(uint8_t* is_ethercat_master_online,
                                                                             uint32_t* tick)
{
    const uint8_t online = get_input_ex<unsigned char>(static_cast<int>(m_is_ethercat_master_online_id), false);
    if (is_ethercat_master_online != nullptr)
        *is_ethercat_master_online = online;
    return refresh_data_ex(tick);
}

// ---- typed access ------------------------------------------------------------------

template <typename T>
T Framework_Shared_Memory_Manager::get_input_ex(int input_id, bool check_taken) const
{
    const int actual = check_input_input_param_and_get_actual_id_ex("get_input_ex", SOURCE_FILE, __LINE__, input_id,
                                                                    check_taken, Container_Traits<T>::dim, -1);
    return read_value<T>(m_input.data(), input_record(actual));
}

template <typename T>
T Framework_Shared_Memory_Manager::get_output_ex(int output_id, bool check_taken) const
{
    const int actual = check_output_input_param_and_get_actual_id_ex("get_output_ex", SOURCE_FILE, __LINE__,
                                                                     output_index_of(output_id), check_taken,
                                                                     Container_Traits<T>::dim, -1);
    return read_value<T>(m_output.data(), output_record(actual));
}

template <typename T>
T Framework_Shared_Memory_Manager::get_output_default_value_ex(int output_id) const
{
    const int actual =
        check_output_input_param_and_get_actual_id_ex("get_output_default_value_ex", SOURCE_FILE, __LINE__,
                                                      output_index_of(output_id), false, Container_Traits<T>::dim, -1);
    return Container_Traits<T>::build(output_record(actual).default_value);
}

template <typename T>
void Framework_Shared_Memory_Manager::set_output_ex(int output_id, T value)
{
    const int actual =
        check_output_input_param_and_get_actual_id_ex("set_output_ex", SOURCE_FILE, __LINE__,
                                                      output_index_of(output_id), true, Container_Traits<T>::dim, -1);
    write_value<T>(m_output.data(), output_record(actual), value);
    mark_output_modified(actual);
}

#define FRAMEWORK_SHM_TYPED_ACCESS(T)                                                      \
    template T Framework_Shared_Memory_Manager::get_input_ex<T>(int, bool) const;          \
    template T Framework_Shared_Memory_Manager::get_output_ex<T>(int, bool) const;         \
    template T Framework_Shared_Memory_Manager::get_output_default_value_ex<T>(int) const; \
    template void Framework_Shared_Memory_Manager::set_output_ex<T>(int, T);

#define FRAMEWORK_SHM_TYPED_ACCESS_ROW(manager_type, ...) FRAMEWORK_SHM_TYPED_ACCESS(manager_type)
FRAMEWORK_VALUE_TYPES(FRAMEWORK_SHM_TYPED_ACCESS_ROW)
#undef FRAMEWORK_SHM_TYPED_ACCESS_ROW
#undef FRAMEWORK_SHM_TYPED_ACCESS

// ---- byte arrays ---------------------------------------------------------------------

void Framework_Shared_Memory_Manager::get_input_byte_array_ex(int input_id, uint8_t* destination, int size,
                                                              int offset) const
{
    const int actual = check_input_input_param_and_get_actual_id_ex("get_input_byte_array_ex", SOURCE_FILE, __LINE__,
                                                                    input_id, true, size, offset);
    if (offset == -1)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][get_input_byte_array_ex] given byte_offset :: " +
                                 num2str(offset));
    require_buffer_ex(destination, "get_input_byte_array_ex");
    std::memcpy(destination, m_input.data() + input_record(actual).byte_offs + offset, static_cast<size_t>(size));
}

// An array access needs an offset of 0 or more: the -1 that passes the
// parameter check (a script's 0xFFFFFFFF) would address before the datum.
void Framework_Shared_Memory_Manager::get_output_byte_array_ex(int output_id, uint8_t* destination, int size,
                                                               int offset) const
{
    const int index = output_index_of(output_id);
    const int actual = check_output_input_param_and_get_actual_id_ex("get_output_byte_array_ex", SOURCE_FILE, __LINE__,
                                                                     index, true, size, offset);
    if (offset < 0)
        throw std::runtime_error(
            output_offset_refusal("get_output_byte_array_ex", SOURCE_FILE, __LINE__, index, actual, size, offset));
    require_buffer_ex(destination, "get_output_byte_array_ex");
    std::memcpy(destination, m_output.data() + output_record(actual).byte_offs + offset, static_cast<size_t>(size));
}

void Framework_Shared_Memory_Manager::set_output_byte_array_ex(int output_id, const uint8_t* source, int size,
                                                               int offset)
{
    const int index = output_index_of(output_id);
    const int actual = check_output_input_param_and_get_actual_id_ex("set_output_byte_array_ex", SOURCE_FILE, __LINE__,
                                                                     index, true, size, offset);
    if (offset < 0)
        throw std::runtime_error(
            output_offset_refusal("set_output_byte_array_ex", SOURCE_FILE, __LINE__, index, actual, size, offset));
    require_buffer_ex(source, "set_output_byte_array_ex");
    std::memcpy(m_output.data() + output_record(actual).byte_offs + offset, source, static_cast<size_t>(size));
    mark_output_modified(actual);
}

void Framework_Shared_Memory_Manager::set_current_value_as_default_ex(int output_id)
{
    const int actual =
        check_output_input_param_and_get_actual_id_ex("set_current_value_as_default_ex", SOURCE_FILE, __LINE__,
                                                      output_index_of(output_id), true, -1, -1);
    with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX), [&] {
        Shared_Application_Data_Struct& record = output_record(actual);
        if (record.type == BIT_FSM) {
            const bool addressable = record.bit_offs <= 7;
            record.default_value[0] = addressable && read_value<bool>(m_output.data(), record) ? 1 : 0;
        } else {
            const uint32_t bytes = std::min<uint32_t>(record.byte_dim, FRAMEWORK_DEFAULT_VALUE_SIZE);
            std::memcpy(record.default_value, m_output.data() + record.byte_offs, bytes);
        }
    });
    m_output_has_to_save[actual] = 1;
}
