// Attaching: connect every segment, check versions, wait for the server,
// take an application slot, publish the name, take the first images.

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr uint32_t LIBRARY_VERSION_MAJOR = XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR;
constexpr uint32_t LIBRARY_VERSION_MINOR = XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR;
constexpr uint32_t FRAMEWORK_VERSION_MAJOR = 4;

// "Mon Jul 26 15:55:45 2021" for the moment this file was compiled.
std::string library_build_time()
{
    tm build{};
    const std::string stamp = std::string(__DATE__) + " " + __TIME__;
    if (strptime(stamp.c_str(), "%b %d %Y %H:%M:%S", &build) == nullptr)
        return stamp;
    const time_t seconds = timegm(&build);
    gmtime_r(&seconds, &build);
    char text[32] = {};
    strftime(text, sizeof(text), "%a %b %d %H:%M:%S %Y", &build);
    return text;
}

int segment_count_ex(int64_t count, const std::string& name)
{
    if (count < 0 || count > INT_MAX)
        throw std::runtime_error("Failed to shmem_size " + name + " :: " + num2str(count) +
                                 " bytes do not fit a segment");
    return static_cast<int>(count);
}
}  // namespace

void Framework_Shared_Memory_Manager::init_with_h_compatibility_check_ex(std::string application_name, int32_t h_major,
                                                                         int32_t h_minor)
{
    log_inf("Framework_Shared_Memory_Manager::Framework_Shared_Memory_Manager ( \"" + application_name + "\" )");
    if (m_shm_info.shm_info.fd != -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][init_with_h_compatibility_check_ex] already attached, detach first");
    try {
        attach_steps_ex(application_name, h_major, h_minor);
    } catch (const std::exception& e) {
        const std::string text = e.what();
        log_err(text);
        give_back_cyclic_sem();
        unlink();
        m_init_done = false;
        throw std::runtime_error(text);
    }
}

void Framework_Shared_Memory_Manager::attach_steps_ex(const std::string& application_name, int32_t h_major,
                                                      int32_t h_minor)
{
    memories_connect_and_check_compatibility_ex(h_major, h_minor);
    build_alias_map_ex();
    check_application_data_layout_ex();
    if (!m_bypass_ready_to_start)
        wait_ready_to_start();
    m_attached_run_was_ready = __atomic_load_n(&m_shm_info.ptr->ready_to_start, __ATOMIC_ACQUIRE) == 1;
    note_exchange();
    acquire_cyclic_sem_ex();
    set_application_name_ex(application_name);
    take_first_images_ex();
    m_is_ethercat_master_online_id = static_cast<uint32_t>(get_input_id_ex("is_ethercat_master_online"));
    m_init_done = true;
    m_logging_queue_writer.open_ex(true);
    init_logging_switches_ex();
}

void Framework_Shared_Memory_Manager::memories_connect_and_check_compatibility_ex(int32_t h_major, int32_t h_minor)
{
    log_inf("Framework_Shared_Memory_Manager::memories_connect ( ... )");
    connect_info_memory_ex();
    check_framework_version_ex();
    check_h_compatibility_version_ex(h_major, h_minor);
    connect_cyclic_memory_ex();
    connect_application_data_memory_ex();
    connect_async_data_memory_ex();
    connect_sem_data_group_memory();
}

void Framework_Shared_Memory_Manager::connect_info_memory_ex()
{
    log_inf("\t connect_info_memory_ex ... ");
    open_and_connect_memory_ex(&m_shm_info.shm_info, &m_shm_info.ptr, framework_names::INFO, 1);
    Shared_Info_Struct& info = *m_shm_info.ptr;
    with_lock(Robust_Mutex(&info.mutex, INFO_MUTEX), [&] {
        m_input_app_size = info.application_data_inputs_num;
        m_output_app_size = info.application_data_outputs_num;
        m_input_cycle_size = info.cyclic_input_byte_dim;
        m_output_cycle_size = info.cyclic_output_byte_dim;
        m_master_cycle_time_ns = info.master_cycle_time;
        m_async_data_timeout_ns = info.async_data_timeout_ns;
        m_async_input_size = info.async_inputs_num;
        m_async_output_size = info.async_outputs_num;
        m_sem_data_group_number = info.num_data_sem_group;
        log_inf("tmp_rt_app_number :: " + num2str(info.cyclic_xeno_sem_dim));
        log_inf("tmp_linux_app_number :: " + num2str(info.cyclic_linux_sem_dim));
        m_sems_size = info.cyclic_linux_sem_dim != -1 ? info.cyclic_linux_sem_dim : info.cyclic_xeno_sem_dim;
        m_rt_app_number = m_sems_size;
    });
    size_process_vectors();
    log_inf("\t m_input_app_size: " + num2str(m_input_app_size));
    log_inf("\t m_output_app_size: " + num2str(m_output_app_size));
    log_inf("\t m_input_cycle_size: " + num2str(m_input_cycle_size));
    log_inf("\t m_output_cycle_size: " + num2str(m_output_cycle_size));
    log_inf("\t m_sems_size: " + num2str(m_sems_size));
    log_inf("\t m_async_input_size: " + num2str(m_async_input_size));
    log_inf("\t m_async_output_size: " + num2str(m_async_output_size));
    log_inf("\t master_cycle_time: " + num2str(m_master_cycle_time_ns));
}

void Framework_Shared_Memory_Manager::size_process_vectors()
{
    m_input_is_taken.assign(m_input_app_size, 0);
    m_output_is_rw.assign(m_output_app_size, 0);
    m_output_is_taken.assign(m_output_app_size, 0);
    m_output_is_modify.assign(m_output_app_size, 0);
    m_output_has_to_save.assign(m_output_app_size, 0);
    m_output_modified_list.clear();
    m_output_modified_list.reserve(m_output_app_size);
    m_async_input_clock_value.assign(m_async_input_size, timespec{});
    m_async_input_max_clock_value.assign(m_async_input_size, timespec{});
    m_async_output_clock_value.assign(m_async_output_size, timespec{});
    m_async_output_max_clock_value.assign(m_async_output_size, timespec{});
    m_async_input_is_taken.assign(m_async_input_size, 0);
    m_async_output_is_taken.assign(m_async_output_size, 0);
    m_cyclic_sem_released = false;
    m_watchdog_turned_on = false;
}

void Framework_Shared_Memory_Manager::check_framework_version_ex()
{
    const uint32_t major = m_shm_info.ptr->project_version_major;
    log_inf("Framework_Shared_Memory_Manager::check_framework_version_ex ( ... )");
    log_inf("Framework PROJECT_VERSION_MAJOR is " + num2str(major));
    log_inf("Framework shm manager PROJECT_VERSION_MAJOR is " + num2str(FRAMEWORK_VERSION_MAJOR));
    if (major != FRAMEWORK_VERSION_MAJOR)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][check_framework_version_ex] Framework shm manager "
            "NOT COMPATIBLE with running framework!!!!!!");
}

void Framework_Shared_Memory_Manager::check_h_compatibility_version_ex(int32_t h_major, int32_t h_minor)
{
    log_inf("Framework_Shared_Memory_Manager::check_h_compatibility_version_ex ( ... )");
    log_inf("xelo_framework_shm_manager PROJECT_VERSION_MAJOR is " + num2str(h_major));
    log_inf("xelo_framework_shm_manager PROJECT_VERSION_MINOR is " + num2str(h_minor));
    log_inf("Framework shm manager PROJECT_VERSION_MAJOR is " + num2str(LIBRARY_VERSION_MAJOR));
    log_inf("Framework shm manager PROJECT_VERSION_MINOR is " + num2str(LIBRARY_VERSION_MINOR));
    const bool compatible = h_major == static_cast<int32_t>(LIBRARY_VERSION_MAJOR) &&
                            h_minor <= static_cast<int32_t>(LIBRARY_VERSION_MINOR);
    if (!compatible)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][check_h_compatibility_version_ex] "
            "xelo_framework_shm_manager not compatible with this library version!");
    log_inf("Framework shm manager library build time :: " + library_build_time());
}

void Framework_Shared_Memory_Manager::connect_cyclic_memory_ex()
{
    log_inf("\t connect_cyclic_memory_ex ... ");
    auto& cyclic = m_shm_cyclic_data;
    open_and_connect_memory_ex(&cyclic.mutex_shm_info, &cyclic.mutex_ptr, framework_names::CYCLIC_MUTEX, 1);
    if (m_input_cycle_size != 0)
        open_and_connect_memory_ex(&cyclic.inputs_shm_info, &cyclic.inputs_ptr, framework_names::CYCLIC_INPUTS,
                                   segment_count_ex(m_input_cycle_size, framework_names::CYCLIC_INPUTS));
    if (m_output_cycle_size != 0)
        open_and_connect_memory_ex(&cyclic.outputs_shm_info, &cyclic.outputs_ptr, framework_names::CYCLIC_OUTPUTS,
                                   segment_count_ex(m_output_cycle_size, framework_names::CYCLIC_OUTPUTS));
    if (m_sems_size != 0)
        open_and_connect_memory_ex(&cyclic.sems_shm_info, &cyclic.sems_ptr, framework_names::CYCLIC_SEMS, m_sems_size);
    m_input.resize(m_input_cycle_size);
    m_output.resize(m_output_cycle_size);
}

void Framework_Shared_Memory_Manager::connect_application_data_memory_ex()
{
    log_inf("\t connect_application_data_memory_ex ... ");
    auto& in = m_shm_application_input_data;
    auto& out = m_shm_application_output_data;
    open_and_connect_memory_ex(&in.mutex_shm_info, &in.mutex_ptr, framework_names::APP_INPUT_MUTEX, 1);
    if (m_input_app_size != 0)
        open_and_connect_memory_ex(&in.app_data_shm_info, &in.app_data_ptr, framework_names::APP_INPUT_DATA,
                                   segment_count_ex(m_input_app_size, framework_names::APP_INPUT_DATA));
    open_and_connect_memory_ex(&out.mutex_shm_info, &out.mutex_ptr, framework_names::APP_OUTPUT_MUTEX, 1);
    if (m_output_app_size != 0)
        open_and_connect_memory_ex(&out.app_data_shm_info, &out.app_data_ptr, framework_names::APP_OUTPUT_DATA,
                                   segment_count_ex(m_output_app_size, framework_names::APP_OUTPUT_DATA));
}

void Framework_Shared_Memory_Manager::connect_async_data_memory_ex()
{
    log_inf("\t connect_async_data_memory_ex ... ");
    if (m_async_input_size == 0 && m_async_output_size == 0)
        return;
    auto& async = m_shm_async_data;
    open_and_connect_memory_ex(&async.mutex_shm_info, &async.mutex_ptr, framework_names::ASYNC_MUTEX, 1);
    if (m_async_input_size != 0) {
        const int count = segment_count_ex(m_async_input_size, framework_names::ASYNC_INPUT_FROM_FRAMEWORK);
        open_and_connect_memory_ex(&async.input_data_from_framework_shm_info, &async.input_data_from_framework_ptr,
                                   framework_names::ASYNC_INPUT_FROM_FRAMEWORK, count);
        open_and_connect_memory_ex(&async.input_data_to_framework_shm_info, &async.input_data_to_framework_ptr,
                                   framework_names::ASYNC_INPUT_TO_FRAMEWORK, count);
    }
    if (m_async_output_size != 0) {
        const int count = segment_count_ex(m_async_output_size, framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK);
        open_and_connect_memory_ex(&async.output_data_from_framework_shm_info, &async.output_data_from_framework_ptr,
                                   framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK, count);
        open_and_connect_memory_ex(&async.output_data_to_framework_shm_info, &async.output_data_to_framework_ptr,
                                   framework_names::ASYNC_OUTPUT_TO_FRAMEWORK, count);
    }
}

void Framework_Shared_Memory_Manager::connect_sem_data_group_memory()
{
    log_inf("connect sem data group memory ... ");
    if (m_sem_data_group_number == 0)
        return;
    auto& groups = m_shm_sem_group_data;
    open_and_connect_memory_ex(&groups.sem_data_group_struct_shm_info, &groups.share_sem_group_struct,
                               framework_names::SEM_DATA_GROUP_STRUCT,
                               segment_count_ex(m_sem_data_group_number, framework_names::SEM_DATA_GROUP_STRUCT));
    const std::size_t count = m_sem_data_group_number;
    groups.semaphores.assign(count, nullptr);
    groups.sem_data_group_struct_sem_shm_info.assign(count, Shared_Memory_Info());
    groups.data_info.assign(count, nullptr);
    groups.sem_data_group_struct_data_info_shm_info.assign(count, Shared_Memory_Info());
    groups.data.assign(count, nullptr);
    groups.sem_data_group_struct_data_shm_info.assign(count, Shared_Memory_Info());
    m_sem_data_group_data_vectors.assign(count, std::vector<uint8_t>());
    m_sem_data_group_ring_buffer_data.assign(count, std::vector<uint8_t>());
    m_sem_data_group_ring_buffer_reading_id.assign(count, 0);
    m_sem_data_group_ring_buffer_writing_id.assign(count, 0);
    m_sem_data_group_ring_buffer_fisrt_post.assign(count, false);
    m_sem_data_group_ring_buffer_last_tick.assign(count, 0);
    m_sem_data_group_mutex_names.assign(count, std::string());
    m_sem_data_group_post_mutex_names.assign(count, std::string());

    for (std::size_t g = 0; g < count; ++g) {
        const Shared_Sem_Data_Group_Struct& group = groups.share_sem_group_struct[g];
        const std::string name = sem_data_group_name(static_cast<int>(g));
        const std::string sem_name = framework_names::SEM_DATA_GROUP_SEM + name;
        const std::string info_name = framework_names::SEM_DATA_GROUP_DATA_INFO + name;
        const std::string data_name = framework_names::SEM_DATA_GROUP_DATA + name;
        log_inf("mem is going to open :: " + sem_name);
        if (m_rt_app_number != 0)
            open_and_connect_memory_ex(&groups.sem_data_group_struct_sem_shm_info[g], &groups.semaphores[g], sem_name,
                                       m_rt_app_number);
        if (group.data_num != 0)
            open_and_connect_memory_ex(&groups.sem_data_group_struct_data_info_shm_info[g], &groups.data_info[g],
                                       info_name, segment_count_ex(group.data_num, info_name));
        const int data_bytes = segment_count_ex(sem_data_group_data_bytes(group), data_name);
        if (data_bytes != 0)
            open_and_connect_memory_ex(&groups.sem_data_group_struct_data_shm_info[g], &groups.data[g], data_name,
                                       data_bytes);
        check_sem_data_group_layout_ex(static_cast<int>(g));
        prepare_sem_data_group(static_cast<int>(g));
    }
}

void Framework_Shared_Memory_Manager::build_alias_map_ex()
{
    m_actual_input_id.resize(m_input_app_size);
    m_actual_output_id.resize(m_output_app_size);
    for (uint32_t i = 0; i < m_input_app_size; ++i)
        m_actual_input_id[i] = get_pointed_input_id_ex(static_cast<int>(i), 0);
    for (uint32_t i = 0; i < m_output_app_size; ++i)
        m_actual_output_id[i] = get_pointed_output_id_ex(static_cast<int>(i), 0);
}

// Every variable that accesses go to must lie inside its image; aliases are
// only ever used through the variable they stand for.
void Framework_Shared_Memory_Manager::check_application_data_layout_ex() const
{
    auto check = [](const Shared_Application_Data_Struct& record, uint32_t image_size, const char* what) {
        if (record.is_alias != 0)
            return;
        const uint64_t end = uint64_t{record.byte_offs} + (record.type == BIT_FSM ? 1u : record.byte_dim);
        if (end <= image_size && uint64_t{record.byte_offs} + record.byte_dim <= image_size)
            return;
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][check_application_data_layout_ex] ") +
                                 what + " '" + label_of(record.name_id) + "' lies outside the cyclic " + what +
                                 " image ( byte_offs :: " + num2str(record.byte_offs) + ", byte_dim :: " +
                                 num2str(record.byte_dim) + ", image size :: " + num2str(image_size) + " )");
    };
    for (uint32_t i = 0; i < m_input_app_size; ++i)
        check(input_record(static_cast<int>(i)), m_input_cycle_size, "input");
    for (uint32_t i = 0; i < m_output_app_size; ++i)
        check(output_record(static_cast<int>(i)), m_output_cycle_size, "output");
}

void Framework_Shared_Memory_Manager::wait_ready_to_start()
{
    const uint32_t* ready = &m_shm_info.ptr->ready_to_start;
    log_war("CHECK m_shm_info.ptr->ready_to_start ....");
    while (__atomic_load_n(ready, __ATOMIC_ACQUIRE) == 0) {
        // A segment left by a run that ended never becomes ready.
        if (info_segment_replaced())
            throw std::runtime_error(
                "[Framework_Shared_Memory_Manager][wait_ready_to_start] the info segment was replaced by a new "
                "framework run: attach again");
        log_war("wait....");
        sleep(1);
    }
    log_war("CHECK m_shm_info.ptr->ready_to_start .... Ok! ");
}

void Framework_Shared_Memory_Manager::acquire_cyclic_sem_ex()
{
    log_inf("Framework_Shared_Memory_Manager::acquire_cyclic_sem ( ... )");
    {
        Robust_Mutex held(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX);
        std::unique_lock<Robust_Mutex> lock(held);
        for (int32_t i = 0; i < m_sems_size && m_shm_cyclic_data.sems_ptr != nullptr; ++i) {
            Shared_Sem_Struct& slot = m_shm_cyclic_data.sems_ptr[i];
            if (slot.is_assigned == 0) {
                slot.is_assigned = 1;
                slot.overflow = 0;  // not the -1 a watchdog expiry leaves
                m_my_application_number = i;
                break;
            }
        }
        lock.unlock();
    }
    log_inf("\t Application number = " + num2str(m_my_application_number) +
            ", application number offset = " + num2str(FRAMEWORK_APPLICATION_ID_OFFSET));
    if (m_my_application_number == -1)
        throw std::runtime_error("Failed to acquire_cyclic_sem, check application number in .xml cfg file");
}

// A failed attach must not keep the slot it took: nobody would ever free it
// without a watchdog. Wake-ups posted in the meantime are drained so that the
// next owner does not start with a stale one.
void Framework_Shared_Memory_Manager::give_back_cyclic_sem()
{
    const int32_t n = m_my_application_number;
    if (n < 0 || n >= m_sems_size || m_shm_cyclic_data.sems_ptr == nullptr)
        return;
    try {
        Robust_Mutex held(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX);
        std::unique_lock<Robust_Mutex> lock(held);
        Shared_Sem_Struct& slot = m_shm_cyclic_data.sems_ptr[n];
        slot.is_assigned = 0;
        while (sem_trywait(&slot.sem) == 0) {
        }
        lock.unlock();
        log_war("[Framework_Shared_Memory_Manager][init_with_h_compatibility_check_ex] application slot " + num2str(n) +
                " given back");
    } catch (const std::exception& e) {
        log_err(std::string("[Framework_Shared_Memory_Manager][init_with_h_compatibility_check_ex] ") + e.what());
    }
}

void Framework_Shared_Memory_Manager::set_application_name_ex(const std::string& application_name)
{
    const int32_t n = m_my_application_number;
    if (n < 0)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][set_application_name_ex] application number :: " +
                                 num2str(n) + " < 0, it should not be!");
    if (n >= FRAMEWORK_MAX_APPLICATIONS)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][set_application_name_ex] application number :: " +
                                 num2str(n) + " > max app num, which is " + num2str(FRAMEWORK_MAX_APPLICATIONS));
    if (application_name.size() > static_cast<std::size_t>(FRAMEWORK_APP_NAME_SIZE))
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][set_application_name_ex] application name length "
            "is greater than maximum size, which is  " +
            num2str(FRAMEWORK_APP_NAME_SIZE));
    with_lock(Robust_Mutex(info_mutex(), INFO_MUTEX), [&] {
        char* row = m_shm_info.ptr->app_names[n];
        std::memset(row, 0, FRAMEWORK_APP_NAME_SIZE);
        std::memcpy(row, application_name.data(), application_name.size());
    });
    m_my_application_name = application_name;
}

void Framework_Shared_Memory_Manager::take_first_images_ex()
{
    Robust_Mutex held(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    if (m_input_cycle_size != 0)
        std::memcpy(m_input.data(), m_shm_cyclic_data.inputs_ptr, m_input_cycle_size);
    if (m_output_cycle_size != 0)
        std::memcpy(m_output.data(), m_shm_cyclic_data.outputs_ptr, m_output_cycle_size);
    lock.unlock();
}

void Framework_Shared_Memory_Manager::init_logging_switches_ex()
{
    const int refresh_id = get_input_id_ex("enable_refresh_logging");
    const int sem_data_id = get_input_id_ex("enable_sem_data_logging");
    m_refresh_logging_offset = static_cast<int32_t>(input_record(m_actual_input_id[refresh_id]).byte_offs);
    m_sem_data_logging_offset = static_cast<int32_t>(input_record(m_actual_input_id[sem_data_id]).byte_offs);
    m_refresh_logging_enabled = m_input[m_refresh_logging_offset] != 0;
    m_sem_data_logging_enabled = m_input[m_sem_data_logging_offset] != 0;
    log_inf(std::string("[init] refresh logging enable --> ") + (m_refresh_logging_enabled ? "1" : "0"));
    log_inf(std::string("[init] sem_data logging enable --> ") + (m_sem_data_logging_enabled ? "1" : "0"));
}
