#include "thin_client.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "framework_shm_segment.h"
#include "robust_mutex.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const CLIENT = "thin_client";

timespec deadline_after(std::chrono::microseconds timeout)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long total = now.tv_nsec + static_cast<long long>(timeout.count()) * 1000;
    now.tv_sec += static_cast<time_t>(total / 1000000000LL);
    now.tv_nsec = static_cast<long>(total % 1000000000LL);
    return now;
}

bool has_name(const char* field, std::size_t size, const std::string& name)
{
    const std::size_t length = strnlen(field, size);
    return length == name.size() && std::memcmp(field, name.data(), length) == 0;
}
}  // namespace

bool Thin_Client::wait_until_ready(std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        const int fd = shm_open(framework_names::INFO, O_RDONLY, 0600);
        if (fd != -1) {
            struct stat st {};
            bool ready = false;
            if (fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= sizeof(Shared_Info_Struct)) {
                void* data = mmap(nullptr, sizeof(Shared_Info_Struct), PROT_READ, MAP_SHARED, fd, 0);
                if (data != MAP_FAILED) {
                    ready = __atomic_load_n(&static_cast<Shared_Info_Struct*>(data)->ready_to_start, __ATOMIC_ACQUIRE);
                    munmap(data, sizeof(Shared_Info_Struct));
                }
            }
            close(fd);
            if (ready)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

template <typename T>
void Thin_Client::attach(Shared_Memory_Info* info, T** ptr, const std::string& name, uint32_t count)
{
    open_and_connect_memory_ex(info, ptr, name, static_cast<int>(count));
    m_mappings.push_back(Mapping{info, *ptr, sizeof(T) * count});
}

Thin_Client::Thin_Client()
{
    try {
        attach(&m_info.shm_info, &m_info.ptr, framework_names::INFO, 1);
        const Shared_Info_Struct& info = *m_info.ptr;
        attach(&m_cyclic.mutex_shm_info, &m_cyclic.mutex_ptr, framework_names::CYCLIC_MUTEX, 1);
        if (info.cyclic_input_byte_dim != 0)
            attach(&m_cyclic.inputs_shm_info, &m_cyclic.inputs_ptr, framework_names::CYCLIC_INPUTS,
                   info.cyclic_input_byte_dim);
        if (info.cyclic_output_byte_dim != 0)
            attach(&m_cyclic.outputs_shm_info, &m_cyclic.outputs_ptr, framework_names::CYCLIC_OUTPUTS,
                   info.cyclic_output_byte_dim);
        if (slot_count() > 0)
            attach(&m_cyclic.sems_shm_info, &m_cyclic.sems_ptr, framework_names::CYCLIC_SEMS,
                   static_cast<uint32_t>(slot_count()));
        attach(&m_inputs.mutex_shm_info, &m_inputs.mutex_ptr, framework_names::APP_INPUT_MUTEX, 1);
        if (info.application_data_inputs_num != 0)
            attach(&m_inputs.app_data_shm_info, &m_inputs.app_data_ptr, framework_names::APP_INPUT_DATA,
                   info.application_data_inputs_num);
        attach(&m_outputs.mutex_shm_info, &m_outputs.mutex_ptr, framework_names::APP_OUTPUT_MUTEX, 1);
        if (info.application_data_outputs_num != 0)
            attach(&m_outputs.app_data_shm_info, &m_outputs.app_data_ptr, framework_names::APP_OUTPUT_DATA,
                   info.application_data_outputs_num);
        attach_groups();
    } catch (...) {
        for (Mapping& mapping : m_mappings)
            close_memory(mapping.info, mapping.ptr, mapping.size);
        throw;
    }
}

void Thin_Client::attach_groups()
{
    const uint32_t groups = m_info.ptr->num_data_sem_group;
    if (groups == 0)
        return;
    attach(&m_groups.sem_data_group_struct_shm_info, &m_groups.share_sem_group_struct,
           framework_names::SEM_DATA_GROUP_STRUCT, groups);
    m_groups.semaphores.assign(groups, nullptr);
    m_groups.sem_data_group_struct_sem_shm_info.assign(groups, Shared_Memory_Info{});
    for (uint32_t g = 0; g < groups; ++g)
        if (slot_count() > 0)
            attach(&m_groups.sem_data_group_struct_sem_shm_info[g], &m_groups.semaphores[g],
                   framework_names::SEM_DATA_GROUP_SEM + group_name(g), static_cast<uint32_t>(slot_count()));
}

Thin_Client::~Thin_Client()
{
    for (Mapping& mapping : m_mappings)
        close_memory(mapping.info, mapping.ptr, mapping.size);
}

int Thin_Client::slot_count() const
{
    const Shared_Info_Struct& info = *m_info.ptr;
    return info.cyclic_linux_sem_dim != -1 ? info.cyclic_linux_sem_dim : info.cyclic_xeno_sem_dim;
}

std::string Thin_Client::group_name(uint32_t group) const
{
    const char* name = m_groups.share_sem_group_struct[group].group_name;
    return std::string(name, strnlen(name, FRAMEWORK_GROUP_NAME_SIZE));
}

int Thin_Client::take_slot(const std::string& name, uint32_t period_ticks)
{
    {
        Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        for (int i = 0; i < slot_count() && m_slot == -1; ++i) {
            if (m_cyclic.sems_ptr[i].is_assigned)
                continue;
            m_cyclic.sems_ptr[i].is_assigned = 1;
            m_cyclic.sems_ptr[i].start_value = period_ticks;
            m_slot = i;
        }
    }
    if (m_slot == -1)
        throw std::runtime_error("Failed to acquire_cyclic_sem, check application number in .xml cfg file");
    Robust_Mutex guard_mutex(&m_info.ptr->mutex, "m_shm_info.ptr->mutex", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    std::memset(m_info.ptr->app_names[m_slot], 0, FRAMEWORK_APP_NAME_SIZE);
    std::memcpy(m_info.ptr->app_names[m_slot], name.data(),
                std::min<std::size_t>(name.size(), FRAMEWORK_APP_NAME_SIZE));
    return m_slot;
}

void Thin_Client::set_watchdog(int32_t max_overflow, bool active)
{
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    Shared_Sem_Struct& record = m_cyclic.sems_ptr[m_slot];
    record.overflow = 0;
    record.watchdog_max_value = max_overflow;
    record.watchdog_is_active = active ? 1 : 0;
}

Shared_Sem_Struct Thin_Client::slot_record(int slot) const
{
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    Shared_Sem_Struct copy;
    std::memcpy(static_cast<void*>(&copy), &m_cyclic.sems_ptr[slot], sizeof(copy));
    return copy;
}

bool Thin_Client::wait_wakeup(std::chrono::microseconds timeout, uint32_t* tick, int32_t* overflow)
{
    Shared_Sem_Struct& record = m_cyclic.sems_ptr[m_slot];
    const timespec deadline = deadline_after(timeout);
    while (sem_timedwait(&record.sem, &deadline) != 0) {
        if (errno == ETIMEDOUT)
            return false;
        if (errno != EINTR)
            throw std::runtime_error(std::string("[Thin_Client] sem_timedwait: ") + std::strerror(errno));
    }
    if (overflow != nullptr)
        *overflow = record.overflow;
    record.overflow = 0;
    if (tick != nullptr)
        *tick = record.framework_absolute_tick_number;
    return true;
}

void Thin_Client::discard_pending_wakeup()
{
    while (sem_trywait(&m_cyclic.sems_ptr[m_slot].sem) == 0) {
    }
}

const Shared_Application_Data_Struct& Thin_Client::record_ex(const Shared_Application_Data_Struct* table,
                                                             uint32_t count, const std::string& name) const
{
    for (uint32_t i = 0; i < count; ++i)
        if (has_name(table[i].name_id, FRAMEWORK_NAME_ID_SIZE, name))
            return table[i];
    throw std::runtime_error("[Thin_Client] no variable named " + name);
}

const Shared_Application_Data_Struct& Thin_Client::input_record(const std::string& name) const
{
    return record_ex(m_inputs.app_data_ptr, m_info.ptr->application_data_inputs_num, name);
}

const Shared_Application_Data_Struct& Thin_Client::output_record(const std::string& name) const
{
    return record_ex(m_outputs.app_data_ptr, m_info.ptr->application_data_outputs_num, name);
}

int Thin_Client::output_index(const std::string& name) const
{
    return static_cast<int>(&output_record(name) - m_outputs.app_data_ptr);
}

std::vector<uint8_t> Thin_Client::inputs() const
{
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    return std::vector<uint8_t>(m_cyclic.inputs_ptr, m_cyclic.inputs_ptr + m_info.ptr->cyclic_input_byte_dim);
}

std::vector<uint8_t> Thin_Client::outputs() const
{
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    return std::vector<uint8_t>(m_cyclic.outputs_ptr, m_cyclic.outputs_ptr + m_info.ptr->cyclic_output_byte_dim);
}

std::string Thin_Client::get_input_text(const std::string& name) const
{
    const Shared_Application_Data_Struct& record = input_record(name);
    const std::vector<uint8_t> image = inputs();
    const char* text = reinterpret_cast<const char*>(image.data() + record.byte_offs);
    return std::string(text, strnlen(text, record.byte_dim));
}

void Thin_Client::take_output(const std::string& name)
{
    Robust_Mutex guard_mutex(m_outputs.mutex_ptr, "m_shm_application_output_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    Shared_Application_Data_Struct& record = m_outputs.app_data_ptr[output_index(name)];
    record.is_already_rw = 1;
    record.application_number_take_rw = m_slot + FRAMEWORK_APPLICATION_ID_OFFSET;
}

void Thin_Client::write_output_bytes(const Shared_Application_Data_Struct& record, const void* bytes, std::size_t size)
{
    if (record.byte_offs + size > m_info.ptr->cyclic_output_byte_dim)
        throw std::runtime_error("[Thin_Client] value outside the output image");
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    std::memcpy(m_cyclic.outputs_ptr + record.byte_offs, bytes, size);
}

void Thin_Client::set_output_bit(const std::string& name, bool value)
{
    const Shared_Application_Data_Struct& record = output_record(name);
    const bool stored = value != (record.is_negated != 0);
    const uint8_t mask = static_cast<uint8_t>(1u << record.bit_offs);
    Robust_Mutex guard_mutex(m_cyclic.mutex_ptr, "m_shm_cyclic_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    uint8_t& byte = m_cyclic.outputs_ptr[record.byte_offs];
    byte = stored ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
}

void Thin_Client::set_output_default(const std::string& name, const void* bytes, std::size_t size)
{
    Robust_Mutex guard_mutex(m_outputs.mutex_ptr, "m_shm_application_output_data.mutex_ptr", CLIENT);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    Shared_Application_Data_Struct& record = m_outputs.app_data_ptr[output_index(name)];
    std::memset(record.default_value, 0, sizeof(record.default_value));
    std::memcpy(record.default_value, bytes, std::min(size, sizeof(record.default_value)));
}

bool Thin_Client::save_defaults(const std::vector<std::string>& names, std::chrono::milliseconds timeout)
{
    {
        Robust_Mutex guard_mutex(&m_info.ptr->mutex, "m_shm_info.ptr->mutex", CLIENT);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        for (const std::string& name : names)
            m_outputs.app_data_ptr[output_index(name)].has_to_save = 1;
        m_info.ptr->has_to_save = 1;
    }
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Robust_Mutex guard_mutex(&m_info.ptr->mutex, "m_shm_info.ptr->mutex", CLIENT);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        if (m_info.ptr->has_to_save == 0)
            return true;
    }
    return false;
}
