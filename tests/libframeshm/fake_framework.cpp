#include "fake_framework.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "robust_mutex.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const std::vector<Fake_Framework::Variable> RESERVED_INPUTS = {
    {"is_ethercat_master_online", UINT8_FSM, 0, 1, 0, false},
    {"enable_refresh_logging", UINT8_FSM, 1, 1, 0, false},
    {"enable_sem_data_logging", UINT8_FSM, 2, 1, 0, false},
};
constexpr uint32_t RESERVED_INPUT_BYTES = 3;

void fill_record(Shared_Application_Data_Struct& record, const Fake_Framework::Variable& variable, int index)
{
    std::memset(&record, 0, sizeof(record));
    record.byte_offs = variable.byte_offs;
    record.byte_dim = variable.byte_dim;
    record.bit_offs = variable.bit_offs;
    record.is_negated = variable.negated ? 1 : 0;
    std::strncpy(record.name_id, variable.label.c_str(), FRAMEWORK_NAME_ID_SIZE - 1);
    record.type = variable.type;
    record.application_number_take_rw = -1;
    record.group_id = -1;
    const std::string no_alias = "__empty_string_alias_" + std::to_string(index) + "__";
    std::strncpy(record.alias_of, no_alias.c_str(), FRAMEWORK_NAME_ID_SIZE - 1);
}
}  // namespace

template <typename T>
T* Fake_Framework::create(const std::string& name, std::size_t count)
{
    const std::size_t bytes = count * sizeof(T);
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd == -1 || ftruncate(fd, static_cast<off_t>(bytes)) != 0)
        throw std::runtime_error("fake framework: cannot create " + name + ": " + std::strerror(errno));
    void* ptr = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (ptr == MAP_FAILED)
        throw std::runtime_error("fake framework: cannot map " + name);
    std::memset(ptr, 0, bytes);
    m_segments.emplace_back(name, bytes);
    m_mappings.push_back(ptr);
    return static_cast<T*>(ptr);
}

Fake_Framework::Fake_Framework(const Layout& layout)
{
    open_queue();

    m_info.ptr = create<Shared_Info_Struct>(framework_names::INFO, 1);
    Shared_Info_Struct& info = *m_info.ptr;
    Robust_Mutex::init_shared(&info.mutex);
    info.master_cycle_time = layout.cycle_time_ns;
    info.application_data_inputs_num = static_cast<uint32_t>(RESERVED_INPUTS.size());
    info.application_data_outputs_num = static_cast<uint32_t>(layout.outputs.size());
    const uint32_t input_bytes = std::max(layout.input_bytes, RESERVED_INPUT_BYTES);
    info.cyclic_input_byte_dim = input_bytes;
    info.cyclic_output_byte_dim = layout.output_bytes;
    info.cyclic_xeno_sem_dim = layout.slots;
    info.cyclic_linux_sem_dim = -1;
    info.project_version_major = layout.version_major;
    info.project_version_minor = layout.version_minor;

    m_cyclic.mutex_ptr = create<pthread_mutex_t>(framework_names::CYCLIC_MUTEX, 1);
    Robust_Mutex::init_shared(m_cyclic.mutex_ptr);
    m_cyclic.inputs_ptr = create<uint8_t>(framework_names::CYCLIC_INPUTS, input_bytes);
    if (layout.output_bytes != 0)
        m_cyclic.outputs_ptr = create<uint8_t>(framework_names::CYCLIC_OUTPUTS, layout.output_bytes);
    m_cyclic.sems_ptr = create<Shared_Sem_Struct>(framework_names::CYCLIC_SEMS, static_cast<std::size_t>(layout.slots));
    for (int i = 0; i < layout.slots; ++i) {
        Shared_Sem_Struct& slot = m_cyclic.sems_ptr[i];
        init_sem_ex(&slot.sem, 1, 0, "fake slot");
        slot.start_value = 1;
        slot.actual_value = 1;
        slot.watchdog_max_value = 1000;
    }

    m_inputs.mutex_ptr = create<pthread_mutex_t>(framework_names::APP_INPUT_MUTEX, 1);
    Robust_Mutex::init_shared(m_inputs.mutex_ptr);
    m_inputs.app_data_ptr =
        create<Shared_Application_Data_Struct>(framework_names::APP_INPUT_DATA, RESERVED_INPUTS.size());
    for (std::size_t i = 0; i < RESERVED_INPUTS.size(); ++i)
        fill_record(m_inputs.app_data_ptr[i], RESERVED_INPUTS[i], static_cast<int>(i));

    m_outputs.mutex_ptr = create<pthread_mutex_t>(framework_names::APP_OUTPUT_MUTEX, 1);
    Robust_Mutex::init_shared(m_outputs.mutex_ptr);
    if (!layout.outputs.empty()) {
        m_outputs.app_data_ptr =
            create<Shared_Application_Data_Struct>(framework_names::APP_OUTPUT_DATA, layout.outputs.size());
        for (std::size_t i = 0; i < layout.outputs.size(); ++i)
            fill_record(m_outputs.app_data_ptr[i], layout.outputs[i], static_cast<int>(i));
    }
    create_async(layout);
    info.ready_to_start = 1;
}

void Fake_Framework::create_async(const Layout& layout)
{
    Shared_Info_Struct& info = *m_info.ptr;
    info.async_inputs_num = static_cast<uint32_t>(layout.async_inputs.size());
    info.async_outputs_num = static_cast<uint32_t>(layout.async_outputs.size());
    info.async_data_timeout_ns = 100000000;
    if (layout.async_inputs.empty() && layout.async_outputs.empty())
        return;
    m_async.mutex_ptr = create<pthread_mutex_t>(framework_names::ASYNC_MUTEX, 1);
    Robust_Mutex::init_shared(m_async.mutex_ptr);
    if (!layout.async_inputs.empty()) {
        const std::size_t count = layout.async_inputs.size();
        m_async.input_data_from_framework_ptr =
            create<Shared_Async_Input_Data_From_Framework>(framework_names::ASYNC_INPUT_FROM_FRAMEWORK, count);
        m_async.input_data_to_framework_ptr =
            create<Shared_Async_Input_Data_To_Framework>(framework_names::ASYNC_INPUT_TO_FRAMEWORK, count);
        for (std::size_t i = 0; i < count; ++i) {
            Shared_Async_Input_Data_From_Framework& record = m_async.input_data_from_framework_ptr[i];
            std::strncpy(record.name_id, layout.async_inputs[i].label.c_str(), FRAMEWORK_NAME_ID_SIZE - 1);
            record.type = layout.async_inputs[i].type;
            record.byte_dimension = layout.async_inputs[i].byte_dim;
        }
    }
    if (!layout.async_outputs.empty()) {
        const std::size_t count = layout.async_outputs.size();
        m_async.output_data_from_framework_ptr =
            create<Shared_Async_Output_Data_From_Framework>(framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK, count);
        m_async.output_data_to_framework_ptr =
            create<Shared_Async_Output_Data_To_Framework>(framework_names::ASYNC_OUTPUT_TO_FRAMEWORK, count);
        for (std::size_t i = 0; i < count; ++i) {
            Shared_Async_Output_Data_From_Framework& record = m_async.output_data_from_framework_ptr[i];
            std::strncpy(record.name_id, layout.async_outputs[i].label.c_str(), FRAMEWORK_NAME_ID_SIZE - 1);
            record.type = layout.async_outputs[i].type;
            record.byte_dimension = layout.async_outputs[i].byte_dim;
            m_async.output_data_to_framework_ptr[i].application_number_take_rw = -1;
        }
    }
}

// A short queue (the clients only open it): every queue of the tests running
// at the same time counts against one per-user budget, so a full budget is
// waited out.
void Fake_Framework::open_queue()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        try {
            m_queue.open_ex(false, sizeof(Posix_Queue_Msg), 10);
            return;
        } catch (const std::runtime_error&) {
            if (std::chrono::steady_clock::now() > deadline)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Fake_Framework::~Fake_Framework()
{
    for (std::size_t i = 0; i < m_segments.size(); ++i) {
        munmap(m_mappings[i], m_segments[i].second);
        shm_unlink(m_segments[i].first.c_str());
    }
}

void Fake_Framework::post(int slot)
{
    sem_post(&m_cyclic.sems_ptr[slot].sem);
}
