// Creation and release of the framework segments.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "robust_mutex.h"
#include "shared_name_fields.h"
#include "xelo_framework.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const RT_THREAD = "fm_realtimetask";

std::string placeholder(const char* kind, std::size_t index)
{
    return std::string("__empty_string") + kind + std::to_string(index) + "__";
}

const Slave_Ethercat& block_of_ex(const std::vector<Slave_Ethercat>& slaves, const IO_Descriptor& variable)
{
    for (const Slave_Ethercat& slave : slaves)
        if (slave.m_addr == variable.m_slave_addr)
            return slave;
    throw std::runtime_error("[XELO_Framework_ex][open_application_data_memory_ex] variable '" +
                             variable.m_name_virtual_id + "' of slave " + std::to_string(variable.m_slave_addr) +
                             " has no block in the cyclic image");
}

// An alias takes no room of its own; every other variable must lie inside
// its slave's block.
void check_inside_block_ex(const Slave_Ethercat& block, const IO_Descriptor& variable)
{
    if (variable.m_is_alias)
        return;
    if (static_cast<uint64_t>(variable.m_byte_offs) + variable.m_byte_dim <= block.m_byte_dim)
        return;
    throw std::runtime_error("[XELO_Framework_ex][open_application_data_memory_ex] variable '" +
                             variable.m_name_virtual_id + "' (bytes " + std::to_string(variable.m_byte_offs) + " to " +
                             std::to_string(static_cast<uint64_t>(variable.m_byte_offs) + variable.m_byte_dim) +
                             ") does not lie inside the " + std::to_string(block.m_byte_dim) + " bytes of slave " +
                             std::to_string(block.m_addr));
}
}  // namespace

template <typename T>
void XELO_Framework_ex::open_connect_and_shared_rt_memory_ex(Shared_Memory_Info* shm_info, T** shm_ptr,
                                                             std::string name, int count, bool unlink_on_release)
{
    log_inf("\t " + name);
    if (count < 0)
        throw std::runtime_error("Failed to shmem_ftruncate --> " + name + " :: negative record count " +
                                 std::to_string(count));
    // An empty table still maps one record; its count in the info record says 0.
    const std::size_t records = std::max(count, 1);
    // A segment that a stop removes but a crashed run left is made anew, so
    // that processes still attached to that run keep their own (stopped) one.
    if (unlink_on_release)
        shm_unlink(name.c_str());
    auto segment = std::make_unique<Shm_Segment>(name, records * sizeof(T));
    shm_info->fd = segment->fd();
    shm_info->status = segment->status();
    *shm_ptr = static_cast<T*>(segment->data());
    m_segments.push_back(Owned_Segment{std::move(segment), unlink_on_release});
}

void XELO_Framework_ex::open_shared_memories_ex()
{
    log_inf("XELO_Framework_ex::open_shared_memory ( ... )");
    open_info_memory_ex();
    open_cyclic_memory_ex();
    open_application_data_memory_ex();
    open_async_data_memory_ex();
    m_virtual_slave.map_and_initialize_cyclic_data(&m_shm_xeno_info, &m_shm_xeno_cyclic_data,
                                                   &m_shm_xeno_application_input_data,
                                                   &m_shm_xeno_application_output_data, m_master_simulation);
    open_data_sem_group_ex();
    m_shared_memories_is_opened = true;
    log_inf("all memories are opened");
}

void XELO_Framework_ex::open_info_memory_ex()
{
    open_connect_and_shared_rt_memory_ex(&m_shm_xeno_info.shm_info, &m_shm_xeno_info.ptr, framework_names::INFO, 1);
    Shared_Info_Struct* info = m_shm_xeno_info.ptr;
    info->ready_to_start = 0;
    Robust_Mutex::init_shared(&info->mutex);
    Robust_Mutex guard_mutex(&info->mutex, "m_shm_xeno_info.ptr->mutex", RT_THREAD);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    info->project_version_major = FRAMEWORK_VERSION_MAJOR;
    info->project_version_minor = FRAMEWORK_VERSION_MINOR;
    info->master_cycle_time = appl_desc_mngr.master_cycle_time_ns;
    info->async_data_timeout_ns = appl_desc_mngr.async_data_timeout_ns;
    info->application_data_inputs_num = appl_desc_mngr.inputs_num;
    info->application_data_outputs_num = appl_desc_mngr.outputs_num;
    info->cyclic_input_byte_dim = m_inputs_byte_dim;
    info->cyclic_output_byte_dim = m_outputs_byte_dim;
    info->cyclic_xeno_sem_dim = appl_desc_mngr.rt_appl_num;
    info->cyclic_linux_sem_dim = appl_desc_mngr.linux_appl_num;
    info->async_inputs_num = appl_desc_mngr.async_inputs_num;
    info->async_outputs_num = appl_desc_mngr.async_outputs_num;
    info->has_to_save = 0;
    info->num_data_sem_group = static_cast<uint32_t>(m_sem_group_data_vector.size());
    std::memset(info->app_names, 0, sizeof(info->app_names));
}

void XELO_Framework_ex::open_cyclic_memory_ex()
{
    Shared_Cyclic_Data_Ptrs& cyclic = m_shm_xeno_cyclic_data;
    open_connect_and_shared_rt_memory_ex(&cyclic.mutex_shm_info, &cyclic.mutex_ptr, framework_names::CYCLIC_MUTEX, 1);
    Robust_Mutex::init_shared(cyclic.mutex_ptr);
    if (m_inputs_byte_dim != 0)
        open_connect_and_shared_rt_memory_ex(&cyclic.inputs_shm_info, &cyclic.inputs_ptr,
                                             framework_names::CYCLIC_INPUTS, static_cast<int>(m_inputs_byte_dim));
    if (m_outputs_byte_dim != 0)
        open_connect_and_shared_rt_memory_ex(&cyclic.outputs_shm_info, &cyclic.outputs_ptr,
                                             framework_names::CYCLIC_OUTPUTS, static_cast<int>(m_outputs_byte_dim));
    const int slots = appl_desc_mngr.rt_appl_num;
    if (slots <= 0)
        return;
    open_connect_and_shared_rt_memory_ex(&cyclic.sems_shm_info, &cyclic.sems_ptr, framework_names::CYCLIC_SEMS, slots);
    Robust_Mutex guard_mutex(cyclic.mutex_ptr, "m_shm_xeno_cyclic_data.mutex_ptr", RT_THREAD);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    for (int i = 0; i < slots; ++i) {
        Shared_Sem_Struct& slot = cyclic.sems_ptr[i];
        init_sem_ex(&slot.sem, 1, 0, "m_shm_xeno_cyclic_data.sems_ptr[i].sem");
        slot.is_assigned = 0;
        slot.actual_value = 1;
        slot.start_value = 1;
        slot.overflow = 0;
        slot.watchdog_max_value = 1000;
        slot.watchdog_is_active = 0;
    }
}

void XELO_Framework_ex::fill_application_data_table_ex(Shared_Application_Data_Struct* table,
                                                       const IO_Descriptor_List& variables,
                                                       const std::vector<Slave_Ethercat>& slaves, uint32_t image_size)
{
    for (std::size_t i = 0; i < variables.size(); ++i) {
        const IO_Descriptor& d = *variables[i];
        Shared_Application_Data_Struct& r = table[i];
        const std::string& name = d.m_name_virtual_id.empty() ? placeholder("_", i) : d.m_name_virtual_id;
        copy_name_ex(r.name_id, sizeof(r.name_id), name, "variable name");
        r.is_alias = d.m_is_alias;
        if (d.m_is_alias)
            copy_name_ex(r.alias_of, sizeof(r.alias_of), d.m_pointed_io_descriptor, "alias target");
        else
            copy_name_ex(r.alias_of, sizeof(r.alias_of), placeholder("_alias_", i), "alias target");
        const Slave_Ethercat& block = block_of_ex(slaves, d);
        check_inside_block_ex(block, d);
        r.byte_offs = block.m_data_offset + d.m_byte_offs;
        if (!d.m_is_alias && r.byte_offs + static_cast<uint64_t>(d.m_byte_dim) > image_size)
            throw std::runtime_error("[XELO_Framework_ex][open_application_data_memory_ex] variable '" + name +
                                     "' does not lie inside its cyclic image");
        r.byte_dim = d.m_byte_dim;
        r.bit_offs = d.m_bit_offs;
        r.is_negated = d.m_is_negated;
        if (d.m_has_default_value)
            std::memcpy(r.default_value, d.m_default_value.data(),
                        std::min<std::size_t>({d.m_byte_dim, sizeof(r.default_value), d.m_default_value.size()}));
        r.is_already_rw = 0;
        r.is_modified = 0;
        r.has_to_save = 0;
        r.application_number_take_rw = -1;
        r.type = d.m_type;
        r.group_id = d.m_group_id;
    }
}

void XELO_Framework_ex::open_application_data_memory_ex()
{
    Shared_Application_Data_Ptrs& in = m_shm_xeno_application_input_data;
    log_inf("\t shared application input data ... ");
    log_inf("\t\t mutex ... ");
    open_connect_and_shared_rt_memory_ex(&in.mutex_shm_info, &in.mutex_ptr, framework_names::APP_INPUT_MUTEX, 1);
    Robust_Mutex::init_shared(in.mutex_ptr);
    log_inf("\t\t mutex shared ok... ");
    log_inf("\t\t app_data ... ");
    open_connect_and_shared_rt_memory_ex(&in.app_data_shm_info, &in.app_data_ptr, framework_names::APP_INPUT_DATA,
                                         static_cast<int>(appl_desc_mngr.inputs_num));
    fill_application_data_table_ex(in.app_data_ptr, m_inputs_vector, m_input_slaves, m_inputs_byte_dim);
    log_inf("\t shared application input data mapped and initialized");

    Shared_Application_Data_Ptrs& out = m_shm_xeno_application_output_data;
    log_inf("\t shared application output data ... ");
    log_inf("\t\t mutex ... ");
    open_connect_and_shared_rt_memory_ex(&out.mutex_shm_info, &out.mutex_ptr, framework_names::APP_OUTPUT_MUTEX, 1);
    Robust_Mutex::init_shared(out.mutex_ptr);
    log_inf("\t\t mutex shared ok... ");
    log_inf("\t\t app_data ... ");
    open_connect_and_shared_rt_memory_ex(&out.app_data_shm_info, &out.app_data_ptr, framework_names::APP_OUTPUT_DATA,
                                         static_cast<int>(appl_desc_mngr.outputs_num));
    log_inf("\t\t app_data shared ok... ");
    log_inf("\t\t\t create name id map ... ");
    fill_application_data_table_ex(out.app_data_ptr, m_outputs_vector, m_output_slaves, m_outputs_byte_dim);
    log_inf("\t shared application output data mapped and initialized");
}

namespace {
// The fields an asynchronous input and output record share: as described,
// no reply yet.
template <typename Record>
void describe_async_variable_ex(Record& record, const Async_IO_Descriptor& d)
{
    record.type = d.m_type;
    record.ts = Shared_Timespec{0, 0};
    record.error_flag = 0;
    record.error_code = 0;
    record.byte_dimension = static_cast<uint32_t>(d.m_dim_data_el);
    copy_name_ex(record.name_id, sizeof(record.name_id), d.m_name_virtual_id, "asynchronous variable name");
}
}  // namespace

void XELO_Framework_ex::open_async_data_memory_ex()
{
    Shared_Async_Data_Ptrs& async = m_shm_xeno_async_data;
    open_connect_and_shared_rt_memory_ex(&async.mutex_shm_info, &async.mutex_ptr, framework_names::ASYNC_MUTEX, 1);
    Robust_Mutex::init_shared(async.mutex_ptr);

    const int inputs = static_cast<int>(appl_desc_mngr.async_inputs_num);
    if (inputs != 0) {
        open_connect_and_shared_rt_memory_ex(&async.input_data_from_framework_shm_info,
                                             &async.input_data_from_framework_ptr,
                                             framework_names::ASYNC_INPUT_FROM_FRAMEWORK, inputs);
        open_connect_and_shared_rt_memory_ex(&async.input_data_to_framework_shm_info,
                                             &async.input_data_to_framework_ptr,
                                             framework_names::ASYNC_INPUT_TO_FRAMEWORK, inputs);
        for (int i = 0; i < inputs; ++i) {
            Shared_Async_Input_Data_From_Framework& from = async.input_data_from_framework_ptr[i];
            describe_async_variable_ex(from, *m_async_inputs_vector[static_cast<std::size_t>(i)]);
            std::memset(from.value, 0, sizeof(from.value));
            async.input_data_to_framework_ptr[i].to_update = 0;
        }
    }
    const int outputs = static_cast<int>(appl_desc_mngr.async_outputs_num);
    if (outputs != 0) {
        open_connect_and_shared_rt_memory_ex(&async.output_data_from_framework_shm_info,
                                             &async.output_data_from_framework_ptr,
                                             framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK, outputs);
        open_connect_and_shared_rt_memory_ex(&async.output_data_to_framework_shm_info,
                                             &async.output_data_to_framework_ptr,
                                             framework_names::ASYNC_OUTPUT_TO_FRAMEWORK, outputs);
        for (int i = 0; i < outputs; ++i) {
            describe_async_variable_ex(async.output_data_from_framework_ptr[i],
                                       *m_async_outputs_vector[static_cast<std::size_t>(i)]);
            Shared_Async_Output_Data_To_Framework& to = async.output_data_to_framework_ptr[i];
            to.to_update = 0;
            std::memset(to.new_value, 0, sizeof(to.new_value));
            to.application_number_take_rw = -1;
        }
    }
}

void XELO_Framework_ex::open_data_sem_group_ex()
{
    const int groups = static_cast<int>(appl_desc_mngr.sem_data_groups_num);
    log_inf("XELO_Framework_ex::appl_desc_mngr.sem_data_groups_num " + std::to_string(groups));
    if (groups == 0)
        return;
    // Data-group segments stay in the system from one run to the next.
    constexpr bool KEEP = false;
    Shared_Sem_Data_Group& shm = m_shm_sem_group_data;
    open_connect_and_shared_rt_memory_ex(&shm.sem_data_group_struct_shm_info, &shm.share_sem_group_struct,
                                         framework_names::SEM_DATA_GROUP_STRUCT, groups, KEEP);
    log_inf("groups shm opened...");
    const auto count = static_cast<std::size_t>(groups);
    shm.semaphores.assign(count, nullptr);
    shm.sem_data_group_struct_sem_shm_info.assign(count, Shared_Memory_Info{});
    shm.data_info.assign(count, nullptr);
    shm.sem_data_group_struct_data_info_shm_info.assign(count, Shared_Memory_Info{});
    shm.data.assign(count, nullptr);
    shm.sem_data_group_struct_data_shm_info.assign(count, Shared_Memory_Info{});

    const int slots = appl_desc_mngr.rt_appl_num;
    for (int g = 0; g < groups; ++g) {
        const Data_Semaphore_Group& d = *m_sem_group_data_vector[static_cast<std::size_t>(g)];
        if (d.sem_id != g || d.ring_buffer_dimension < 0)
            throw std::runtime_error("[XELO_Framework_ex][open_data_sem_group_ex] data group '" + d.sem_name +
                                     "' has id " + std::to_string(d.sem_id) + " at position " + std::to_string(g) +
                                     " and ring size " + std::to_string(d.ring_buffer_dimension));
        Shared_Sem_Data_Group_Struct& r = shm.share_sem_group_struct[g];
        Robust_Mutex::init_shared(&r.mutex);
        log_inf("\t\t data sem group mutex " + std::to_string(g) + " shared ok... ");
        copy_name_ex(r.group_name, sizeof(r.group_name), d.sem_name, "data group name");
        r.data_num = 0;
        r.data_byte = 0;
        r.rw_app_id = -1;
        r.sem_posted = 0;
        r.is_posted_from_watchdog = 0;
        r.last_post_cmd_app_id = -1;
        r.last_post_app_id_to_answ = -1;
        r.is_server_waiting_cmd_setter = -1;
        r.ring_buffer_slot_number = d.ring_buffer_dimension;
        r.is_buffered = d.ring_buffer_dimension > 0 ? 1 : 0;
        r.flag_only_not_rt = static_cast<int8_t>(d.flag_only_not_rt);
        if (!d.data.empty()) {
            open_connect_and_shared_rt_memory_ex(
                &shm.sem_data_group_struct_data_info_shm_info[static_cast<std::size_t>(g)],
                &shm.data_info[static_cast<std::size_t>(g)], framework_names::SEM_DATA_GROUP_DATA_INFO + d.sem_name,
                static_cast<int>(d.data.size()), KEEP);
            for (const Data_Semaphore& datum : d.data) {
                Shared_Sem_Data_Group_Data_Info& info = shm.data_info[static_cast<std::size_t>(g)][r.data_num];
                copy_name_ex(info.name_id, sizeof(info.name_id), datum.name, "data group member name");
                info.byte_dim = datum.byte_dim;
                info.byte_offs = static_cast<int32_t>(datum.byte_offs);
                info.type = datum.type;
                info.bit_offs = 0;
                r.data_byte += datum.byte_dim;
                r.data_num += 1;
            }
        }
        const uint64_t data_bytes =
            static_cast<uint64_t>(r.data_byte) * (r.ring_buffer_slot_number == 0 ? 1u : r.ring_buffer_slot_number);
        if (data_bytes > 0x7fffffffu)
            throw std::runtime_error("[XELO_Framework_ex][open_data_sem_group_ex] data group '" + d.sem_name +
                                     "' needs " + std::to_string(data_bytes) + " bytes");
        open_connect_and_shared_rt_memory_ex(&shm.sem_data_group_struct_data_shm_info[static_cast<std::size_t>(g)],
                                             &shm.data[static_cast<std::size_t>(g)],
                                             framework_names::SEM_DATA_GROUP_DATA + d.sem_name,
                                             static_cast<int>(data_bytes), KEEP);
        if (slots > 0) {
            open_connect_and_shared_rt_memory_ex(&shm.sem_data_group_struct_sem_shm_info[static_cast<std::size_t>(g)],
                                                 &shm.semaphores[static_cast<std::size_t>(g)],
                                                 framework_names::SEM_DATA_GROUP_SEM + d.sem_name, slots, KEEP);
            for (int k = 0; k < slots; ++k) {
                Shared_Sem_Data_Group_Sem_Struct& row = shm.semaphores[static_cast<std::size_t>(g)][k];
                row.application_id = -1;
                row.application_has_been_released = 0;
                init_sem_ex(&row.sem, 1, 0, "m_shm_sem_group_data.semaphores[g][k].sem");
            }
        } else {
            log_war("no rt process in application descriptor");
        }
    }
    log_inf("\t shared semaphores group data mapped initialized");
}

void XELO_Framework_ex::release_all_sems()
{
    log_war("\t release_all_sems() ");
    Shared_Sem_Struct* slots = m_shm_xeno_cyclic_data.sems_ptr;
    if (slots == nullptr)
        return;
    for (int i = 0; i < appl_desc_mngr.rt_appl_num; ++i) {
        slots[i].overflow = -1;
        sem_post(&slots[i].sem);
    }
    // Waiters on data groups and channels: they find the run stopped (ready
    // lowered) and fail, so that none of them waits on into the next run,
    // whose rows lie in the same segments.
    for (Shared_Sem_Data_Group_Sem_Struct* rows : m_shm_sem_group_data.semaphores) {
        if (rows == nullptr)
            continue;
        for (int i = 0; i < appl_desc_mngr.rt_appl_num; ++i)
            sem_post(&rows[i].sem);
    }
}

void XELO_Framework_ex::release_all_shms()
{
    log_war("\t release_all_shms() ");
    for (Owned_Segment& owned : m_segments)
        if (owned.unlink_on_release)
            owned.segment->unlink();
    m_shared_memories_is_opened = false;
    m_shm_xeno_info = Shared_Info_Ptr{};
    m_shm_xeno_cyclic_data = Shared_Cyclic_Data_Ptrs{};
    m_shm_xeno_application_input_data = Shared_Application_Data_Ptrs{};
    m_shm_xeno_application_output_data = Shared_Application_Data_Ptrs{};
    m_shm_xeno_async_data = Shared_Async_Data_Ptrs{};
    m_shm_sem_group_data = Shared_Sem_Data_Group{};
    m_segments.clear();  // unmaps and closes every segment, data groups included
}
