// Asynchronous SDO variables, on the real-time thread once per tick: raised
// request flags become SDO transfers queued with the master, and one reply
// per tick is collected and written back where the client waits for it.
#include <time.h>

#include <cstring>
#include <mutex>

#include "robust_mutex.h"
#include "xelo_framework.h"

namespace {
const char* const RT_THREAD = "fm_realtimetask";
constexpr uint8_t SDO_DOWNLOAD_CONFIRMED = 0x60;
constexpr uint8_t SDO_UPLOAD_BIT = 0x40;
constexpr uint8_t SDO_ABORT = 0x80;

timespec monotonic_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

bool same_object(const Async_IO_Descriptor& descriptor, uint16_t address, int index, int subindex)
{
    return descriptor.m_slave_addr == address && descriptor.m_index_el == index &&
           descriptor.m_sub_index_el == subindex;
}

// The result of a request for one variable: its time, error flag and code.
template <typename Record>
void settle(Record& record, uint8_t error_flag, uint32_t error_code)
{
    record.ts = to_shared_timespec(monotonic_now());
    record.error_flag = error_flag;
    record.error_code = error_code;
}
}  // namespace

void XELO_Framework_ex::manage_async_data_ex()
{
    if (m_master_simulation)
        return;
    if (!m_master_connect_is_open.load(std::memory_order_relaxed)) {
        m_async_connection_seen_open = false;
        return;
    }
    // Requests queued before the connection was lost have no reply coming.
    if (!m_async_connection_seen_open) {
        m_async_connection_seen_open = true;
        m_sdo_counter = 0;
    }
    if (appl_desc_mngr.async_inputs_num == 0 && appl_desc_mngr.async_outputs_num == 0)
        return;
    Robust_Mutex guard_mutex(m_shm_xeno_async_data.mutex_ptr, "m_shm_xeno_async_data.mutex_ptr", RT_THREAD, &m_rt_log);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    push_async_requests(true);
    push_async_requests(false);
    if (m_sdo_counter >= 1)
        collect_async_reply();
}

// Every raised flag becomes one queued transfer. A request the master
// refuses fails at once (a newer ts with the error flag) and the others go
// on, so that one bad variable holds no other back.
void XELO_Framework_ex::push_async_requests(bool inputs)
{
    const uint32_t count = inputs ? appl_desc_mngr.async_inputs_num : appl_desc_mngr.async_outputs_num;
    for (uint32_t k = 0; k < count; ++k) {
        const Async_IO_Descriptor& descriptor = inputs ? *m_async_inputs_vector[k] : *m_async_outputs_vector[k];
        uint8_t* flag = inputs ? &m_shm_xeno_async_data.input_data_to_framework_ptr[k].to_update
                               : &m_shm_xeno_async_data.output_data_to_framework_ptr[k].to_update;
        if (*flag == 0)
            continue;
        uint8_t* data = inputs ? m_shm_xeno_async_data.input_data_from_framework_ptr[k].value
                               : m_shm_xeno_async_data.output_data_to_framework_ptr[k].new_value;
        const int pushed =
            push_sdo_into_queue(descriptor.m_slave_addr, descriptor.m_index_el, descriptor.m_sub_index_el,
                                descriptor.m_sdo_code, descriptor.m_dim_data_el, data);
        *flag = 0;
        if (pushed == 0) {
            ++m_sdo_counter;
            continue;
        }
        m_rt_log.post(Log_Level::ERR, "Failed to push sdo %s", descriptor.m_name_virtual_id.c_str());
        if (inputs)
            settle(m_shm_xeno_async_data.input_data_from_framework_ptr[k], 1, 0);
        else
            settle(m_shm_xeno_async_data.output_data_from_framework_ptr[k], 1, 0);
    }
}

void XELO_Framework_ex::collect_async_reply()
{
    uint16_t address = 0;
    int index = 0;
    int subindex = 0;
    uint8_t code = 0;
    int dim = 0;
    uint8_t data[ECM_SDO_REPLY_MAX_BYTES] = {};
    const int waiting = pop_sdo_from_queue(&address, &index, &subindex, &code, &dim, data);
    if (waiting == -1) {
        m_rt_log.post(Log_Level::ERR, "Failed to pop sdo ");
        return;
    }
    if (waiting < 1)
        return;
    --m_sdo_counter;
    if (code == SDO_DOWNLOAD_CONFIRMED) {
        for (uint32_t k = 0; k < appl_desc_mngr.async_outputs_num; ++k)
            if (same_object(*m_async_outputs_vector[k], address, index, subindex))
                settle(m_shm_xeno_async_data.output_data_from_framework_ptr[k], 0, 0);
    } else if (code == SDO_ABORT) {
        // An abort fails every variable of that object with the abort code.
        uint32_t abort_code = 0;
        std::memcpy(&abort_code, data, dim >= 4 ? 4 : 0);
        m_rt_log.post(Log_Level::ERR, "error_code: %u", abort_code);
        for (uint32_t k = 0; k < appl_desc_mngr.async_inputs_num; ++k)
            if (same_object(*m_async_inputs_vector[k], address, index, subindex))
                settle(m_shm_xeno_async_data.input_data_from_framework_ptr[k], 1, abort_code);
        for (uint32_t k = 0; k < appl_desc_mngr.async_outputs_num; ++k)
            if (same_object(*m_async_outputs_vector[k], address, index, subindex))
                settle(m_shm_xeno_async_data.output_data_from_framework_ptr[k], 1, abort_code);
    } else if ((code & SDO_UPLOAD_BIT) != 0) {
        for (uint32_t k = 0; k < appl_desc_mngr.async_inputs_num; ++k) {
            const Async_IO_Descriptor& descriptor = *m_async_inputs_vector[k];
            if (!same_object(descriptor, address, index, subindex))
                continue;
            Shared_Async_Input_Data_From_Framework& record = m_shm_xeno_async_data.input_data_from_framework_ptr[k];
            std::size_t bytes = static_cast<std::size_t>(descriptor.m_dim_data_el);
            if (bytes > sizeof(record.value))
                bytes = sizeof(record.value);
            if (bytes > static_cast<std::size_t>(dim))
                bytes = static_cast<std::size_t>(dim);
            std::memcpy(record.value, data, bytes);
            settle(record, 0, 0);
        }
    } else {
        m_rt_log.post(Log_Level::INF, "sdo_code not recognized");
    }
}
