// Process-image mapping, default outputs and the exchange of every tick.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "output_default.h"
#include "robust_mutex.h"
#include "xelo_framework.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const RT_THREAD = "fm_realtimetask";

// Lays one image out as whole slave blocks in the order in which each slave
// address first occurs; in master-offline mode only the virtual slave.
// A real slave's block is its whole area as the master reports its size.
void map_image_ex(const IO_Descriptor_List& variables, Slave_Ethercat::Slave_Type type, uint32_t virtual_dim,
                  bool master_simulation, const char* missing_text, std::vector<Slave_Ethercat>& slaves,
                  uint32_t& image_dim)
{
    image_dim = 0;
    for (const IO_Descriptor* variable : variables) {
        const uint32_t address = variable->m_slave_addr;
        const bool mapped = std::any_of(slaves.begin(), slaves.end(),
                                        [address](const Slave_Ethercat& s) { return s.m_addr == address; });
        if (mapped)
            continue;
        if (address != 0 && master_simulation)
            continue;
        int dim = static_cast<int>(virtual_dim);
        if (address != 0) {
            dim = type == Slave_Ethercat::INPUT ? get_slave_input_byte_dim(static_cast<int>(address))
                                                : get_slave_output_byte_dim(static_cast<int>(address));
            if (dim < 0)
                throw std::runtime_error(" XELO_Framework_ex:: No Slave with address: " + std::to_string(address));
        }
        if (dim == 0)
            throw std::runtime_error(missing_text + std::to_string(address));
        if (static_cast<uint64_t>(image_dim) + static_cast<uint32_t>(dim) > 0x7fffffffu)
            throw std::runtime_error(" XELO_Framework_ex:: cyclic image too large");
        slaves.emplace_back(type, address, static_cast<uint32_t>(dim), image_dim);
        image_dim += static_cast<uint32_t>(dim);
    }
}
}  // namespace

void XELO_Framework_ex::extract_memory_info_ex()
{
    for (IO_Descriptor* input : m_inputs_vector)
        if (input->m_slave_addr == 0)
            m_virtual_slave.add_input(input);
    map_image_ex(m_inputs_vector, Slave_Ethercat::INPUT, m_virtual_slave.get_input_dim(), m_master_simulation,
                 " XELO_Framework_ex:: No Input on Slave: ", m_input_slaves, m_inputs_byte_dim);
    for (IO_Descriptor* output : m_outputs_vector)
        if (output->m_slave_addr == 0)
            m_virtual_slave.add_output(output);
    map_image_ex(m_outputs_vector, Slave_Ethercat::OUTPUT, m_virtual_slave.get_output_dim(), m_master_simulation,
                 " XELO_Framework_ex:: No Output on Slave: ", m_output_slaves, m_outputs_byte_dim);

    log_inf("XELO_Framework_ex::m_inputs_vector.size() = " + std::to_string(m_inputs_vector.size()) + " inputs_num " +
            std::to_string(appl_desc_mngr.inputs_num));
    log_inf("XELO_Framework_ex::m_inputs_byte_dim = " + std::to_string(m_inputs_byte_dim));
    log_inf("XELO_Framework_ex::m_input_slaves.size() = " + std::to_string(m_input_slaves.size()));
    log_inf("XELO_Framework_ex::m_outputs_vector.size() = " + std::to_string(m_outputs_vector.size()) + " ouputs_num " +
            std::to_string(appl_desc_mngr.outputs_num));
    log_inf("XELO_Framework_ex::m_outputs_byte_dim = " + std::to_string(m_outputs_byte_dim));
    log_inf("XELO_Framework_ex::m_output_slaves.size() = " + std::to_string(m_output_slaves.size()));
    m_input_slaves_size = static_cast<uint32_t>(m_input_slaves.size());
    m_output_slaves_size = static_cast<uint32_t>(m_output_slaves.size());
    log_inf("XELO_Framework_ex::m_input_slaves_size = " + std::to_string(m_input_slaves_size));
    log_inf("XELO_Framework_ex::m_output_slaves_size = " + std::to_string(m_output_slaves_size));
}

void XELO_Framework_ex::find_reserved_variables_ex()
{
    for (Reserved_Variable& reserved : m_reserved)
        reserved.byte_offset = -1;
    const Shared_Application_Data_Struct* table = m_shm_xeno_application_input_data.app_data_ptr;
    std::size_t found = 0;
    for (uint32_t k = 0; k < appl_desc_mngr.inputs_num && found < RESERVED_COUNT; ++k) {
        const Shared_Application_Data_Struct& record = table[k];
        if (record.is_alias)
            continue;
        const std::string name(record.name_id, strnlen(record.name_id, sizeof(record.name_id)));
        for (Reserved_Variable& reserved : m_reserved) {
            if (reserved.byte_offset != -1 || name != reserved.name)
                continue;
            reserved.byte_offset = static_cast<int>(record.byte_offs);
            reserved.width = std::min(record.byte_dim, reserved.natural_width);
            ++found;
            log_inf(std::string("XELO_Framework_ex:: ") + reserved.label + " is " + std::to_string(k) +
                    ", byte_offset :: " + std::to_string(record.byte_offs));
            if (record.byte_dim != reserved.natural_width)
                log_war(std::string("XELO_Framework_ex:: ") + reserved.name + " is declared with " +
                        std::to_string(record.byte_dim) + " bytes: " + std::to_string(reserved.width) +
                        " bytes of it are used");
            break;
        }
    }
    for (const Reserved_Variable& reserved : m_reserved)
        if (reserved.byte_offset == -1)
            throw std::runtime_error(std::string(reserved.name) + " not defined in application descriptor");
}

void XELO_Framework_ex::set_outputs_default_value()
{
    Robust_Mutex guard_mutex(m_shm_xeno_cyclic_data.mutex_ptr, "m_shm_xeno_cyclic_data.mutex_ptr", RT_THREAD);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    const Shared_Application_Data_Struct* table = m_shm_xeno_application_output_data.app_data_ptr;
    for (uint32_t i = 0; i < appl_desc_mngr.outputs_num; ++i)
        write_output_default(table[i], m_shm_xeno_cyclic_data.outputs_ptr, m_outputs_byte_dim);
}

void XELO_Framework_ex::update_slave_ex()
{
    Robust_Mutex guard_mutex(m_shm_xeno_cyclic_data.mutex_ptr, "m_shm_xeno_cyclic_data.mutex_ptr", RT_THREAD,
                             &m_rt_log);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    if (!m_master_simulation && m_master_connect_is_open.load(std::memory_order_relaxed))
        exchange_with_master_ex();
    m_virtual_slave.update_io();
    write_status_variables();
    read_logging_switches();
}

// Every real slave's block in and out under the master's two mutexes, held
// once around all blocks; a block whose copy fails keeps its bytes.
void XELO_Framework_ex::exchange_with_master_ex()
{
    if (lock_ecm_master_mutex_warning_use() != 0) {
        static const char TEXT[] = "[framework] [update_slave_ex] lock_ecm_master_mutex_warning_use() != 0 ";
        m_rt_log.post(Log_Level::ERR, "%s", TEXT);
        throw std::runtime_error(TEXT);
    }
    for (uint32_t k = 0; k < m_input_slaves_size; ++k) {
        const Slave_Ethercat& block = m_input_slaves[k];
        if (block.m_addr != 0)
            (void)get_slave_inputs_values_warning_use(static_cast<int>(block.m_addr),
                                                      static_cast<int>(block.m_byte_dim),
                                                      m_shm_xeno_cyclic_data.inputs_ptr + block.m_data_offset);
    }
    for (uint32_t k = 0; k < m_output_slaves_size; ++k) {
        const Slave_Ethercat& block = m_output_slaves[k];
        if (block.m_addr != 0)
            (void)set_slave_outputs_value_warning_use(static_cast<int>(block.m_addr),
                                                      static_cast<int>(block.m_byte_dim),
                                                      m_shm_xeno_cyclic_data.outputs_ptr + block.m_data_offset);
    }
    (void)unlock_ecm_master_mutex_warning_use();
}

void XELO_Framework_ex::write_status_variables()
{
    uint8_t* image = m_shm_xeno_cyclic_data.inputs_ptr;
    const uint8_t online = m_master_connect_is_open.load(std::memory_order_relaxed) ? 1 : 0;
    const Reserved_Variable& online_var = m_reserved[ONLINE];
    std::memcpy(image + online_var.byte_offset, &online, online_var.width);
    std::unique_lock<std::mutex> last_error(m_last_error_mutex, std::try_to_lock);
    if (!last_error.owns_lock())
        return;  // the master-manager thread is writing it: next tick
    const Reserved_Variable& type_var = m_reserved[ERROR_TYPE];
    std::memcpy(image + type_var.byte_offset, &m_last_ethercat_master_error_type, type_var.width);
    const Reserved_Variable& code_var = m_reserved[ERROR_CODE];
    std::memcpy(image + code_var.byte_offset, &m_last_ethercat_master_error_code, code_var.width);
    const Reserved_Variable& msg_var = m_reserved[ERROR_MSG];
    std::memcpy(image + msg_var.byte_offset, m_last_ethercat_master_error_msg, msg_var.width);
}

void XELO_Framework_ex::read_logging_switches()
{
    const uint8_t* image = m_shm_xeno_cyclic_data.inputs_ptr;
    const Reserved_Variable& refresh = m_reserved[REFRESH_LOGGING];
    const Reserved_Variable& sem_data = m_reserved[SEM_DATA_LOGGING];
    m_enable_refresh_logging = refresh.width != 0 && image[refresh.byte_offset] != 0;
    m_enable_sem_data_logging = sem_data.width != 0 && image[sem_data.byte_offset] != 0;
}
