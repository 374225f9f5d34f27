#include "async_responder.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include "framework_shm_segment.h"
#include "robust_mutex.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
Shared_Timespec monotonic_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return to_shared_timespec(now);
}

std::string label_of(const char (&name_id)[FRAMEWORK_NAME_ID_SIZE])
{
    return std::string(name_id, strnlen(name_id, FRAMEWORK_NAME_ID_SIZE));
}

// The answer's stamp must be strictly later than the one a client remembered.
Shared_Timespec later_stamp(Shared_Timespec previous)
{
    Shared_Timespec now = monotonic_now();
    if (now.tv_sec < previous.tv_sec || (now.tv_sec == previous.tv_sec && now.tv_nsec <= previous.tv_nsec)) {
        now = previous;
        if (++now.tv_nsec >= 1000000000) {
            now.tv_nsec = 0;
            ++now.tv_sec;
        }
    }
    return now;
}
}  // namespace

Async_Responder::Async_Responder()
{
    try {
        open_segments();
    } catch (...) {
        close_segments();
        throw;
    }
    m_pending_inputs.resize(m_inputs);
    m_pending_outputs.resize(m_outputs);
    m_last_written.resize(m_outputs);
    m_reads_served.assign(m_inputs, 0);
    m_writes_served.assign(m_outputs, 0);
    m_thread = std::thread([this] { run(); });
}

Async_Responder::~Async_Responder()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    close_segments();
}

void Async_Responder::open_segments()
{
    open_and_connect_memory_ex(&m_info_shm, &m_info, framework_names::INFO, 1);
    m_inputs = m_info->async_inputs_num;
    m_outputs = m_info->async_outputs_num;
    if (m_inputs == 0 && m_outputs == 0)
        throw std::runtime_error("[Async_Responder] the framework has no asynchronous variables");
    open_and_connect_memory_ex(&m_mutex_shm, &m_mutex, framework_names::ASYNC_MUTEX, 1);
    if (m_inputs != 0) {
        open_and_connect_memory_ex(&m_in_from_shm, &m_in_from, framework_names::ASYNC_INPUT_FROM_FRAMEWORK,
                                   static_cast<int>(m_inputs));
        open_and_connect_memory_ex(&m_in_to_shm, &m_in_to, framework_names::ASYNC_INPUT_TO_FRAMEWORK,
                                   static_cast<int>(m_inputs));
    }
    if (m_outputs != 0) {
        open_and_connect_memory_ex(&m_out_from_shm, &m_out_from, framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK,
                                   static_cast<int>(m_outputs));
        open_and_connect_memory_ex(&m_out_to_shm, &m_out_to, framework_names::ASYNC_OUTPUT_TO_FRAMEWORK,
                                   static_cast<int>(m_outputs));
    }
}

// Closes whatever is open (a descriptor of -1 is skipped).
void Async_Responder::close_segments()
{
    close_memory(&m_out_to_shm, m_out_to, m_outputs * sizeof(Shared_Async_Output_Data_To_Framework));
    close_memory(&m_out_from_shm, m_out_from, m_outputs * sizeof(Shared_Async_Output_Data_From_Framework));
    close_memory(&m_in_to_shm, m_in_to, m_inputs * sizeof(Shared_Async_Input_Data_To_Framework));
    close_memory(&m_in_from_shm, m_in_from, m_inputs * sizeof(Shared_Async_Input_Data_From_Framework));
    close_memory(&m_mutex_shm, m_mutex, sizeof(pthread_mutex_t));
    close_memory(&m_info_shm, m_info, sizeof(Shared_Info_Struct));
}

std::string Async_Responder::failure() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failure;
}

void Async_Responder::set_default_behaviour(const Behaviour& behaviour)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_default = behaviour;
}

void Async_Responder::set_behaviour(const std::string& label, const Behaviour& behaviour)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_behaviours[label] = behaviour;
}

void Async_Responder::set_input_value(const std::string& label, const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > FRAMEWORK_ASYNC_VALUE_SIZE)
        throw std::invalid_argument("[Async_Responder][set_input_value] at most 8 bytes");
    std::lock_guard<std::mutex> guard(m_lock);
    m_values[label] = bytes;
}

void Async_Responder::set_input_source(const std::string& label, Input_Source source)
{
    index_of(true, label);
    std::lock_guard<std::mutex> guard(m_lock);
    m_sources[label] = std::move(source);
}

void Async_Responder::set_output_sink(const std::string& label, Output_Sink sink)
{
    index_of(false, label);
    std::lock_guard<std::mutex> guard(m_lock);
    m_sinks[label] = std::move(sink);
}

std::vector<std::string> Async_Responder::input_labels() const
{
    std::vector<std::string> labels;
    for (uint32_t i = 0; i < m_inputs; ++i)
        labels.push_back(label_of(m_in_from[i].name_id));
    return labels;
}

std::vector<std::string> Async_Responder::output_labels() const
{
    std::vector<std::string> labels;
    for (uint32_t i = 0; i < m_outputs; ++i)
        labels.push_back(label_of(m_out_from[i].name_id));
    return labels;
}

int Async_Responder::index_of(bool input, const std::string& label) const
{
    const uint32_t count = input ? m_inputs : m_outputs;
    for (uint32_t i = 0; i < count; ++i) {
        if (label == (input ? label_of(m_in_from[i].name_id) : label_of(m_out_from[i].name_id)))
            return static_cast<int>(i);
    }
    throw std::invalid_argument("[Async_Responder] no asynchronous " + std::string(input ? "input " : "output ") +
                                label);
}

std::vector<uint8_t> Async_Responder::last_written(const std::string& label) const
{
    const int i = index_of(false, label);
    std::lock_guard<std::mutex> guard(m_lock);
    return m_last_written[i];
}

int Async_Responder::reads_served(const std::string& label) const
{
    const int i = index_of(true, label);
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reads_served[i];
}

int Async_Responder::writes_served(const std::string& label) const
{
    const int i = index_of(false, label);
    std::lock_guard<std::mutex> guard(m_lock);
    return m_writes_served[i];
}

Async_Responder::Behaviour Async_Responder::behaviour_of(const std::string& label) const
{
    const auto found = m_behaviours.find(label);
    return found == m_behaviours.end() ? m_default : found->second;
}

// A failure ends the service; it is kept for failure().
void Async_Responder::run()
{
    const timespec period{0, 200000};
    try {
        while (!m_stop) {
            serve_once();
            clock_nanosleep(CLOCK_MONOTONIC, 0, &period, nullptr);
        }
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_failure = e.what();
    }
}

void Async_Responder::serve_once()
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    Robust_Mutex shared_mutex(m_mutex, "m_shm_async_data.mutex_ptr", "Async_Responder");
    std::lock_guard<Robust_Mutex> shared(shared_mutex);
    take_requests(now);
    answer_due(now);
}

void Async_Responder::take_requests(std::chrono::steady_clock::time_point now)
{
    for (uint32_t i = 0; i < m_inputs; ++i) {
        if (m_in_to[i].to_update == 0)
            continue;
        m_in_to[i].to_update = 0;
        const Behaviour b = behaviour_of(label_of(m_in_from[i].name_id));
        m_pending_inputs[i] = Pending{!b.never_answer, now + b.delay, b, {}};
    }
    for (uint32_t i = 0; i < m_outputs; ++i) {
        if (m_out_to[i].to_update == 0)
            continue;
        m_out_to[i].to_update = 0;
        const Behaviour b = behaviour_of(label_of(m_out_from[i].name_id));
        m_pending_outputs[i] =
            Pending{!b.never_answer, now + b.delay, b,
                    std::vector<uint8_t>(m_out_to[i].new_value, m_out_to[i].new_value + FRAMEWORK_ASYNC_VALUE_SIZE)};
    }
}

void Async_Responder::answer_due(std::chrono::steady_clock::time_point now)
{
    for (uint32_t i = 0; i < m_inputs; ++i) {
        Pending& p = m_pending_inputs[i];
        if (!p.active || p.due > now)
            continue;
        p.active = false;
        Shared_Async_Input_Data_From_Framework& record = m_in_from[i];
        const Behaviour& b = p.behaviour;
        const std::string label = label_of(record.name_id);
        uint32_t abort = b.fail ? b.error_code : 0;
        bool failed = b.fail;
        if (!failed) {
            std::vector<uint8_t> bytes;
            const auto source = m_sources.find(label);
            if (source != m_sources.end()) {
                Read_Result result = source->second();
                failed = result.abort_code != 0;
                abort = result.abort_code;
                bytes = std::move(result.bytes);
            } else {
                const auto value = m_values.find(label);
                if (value != m_values.end())
                    bytes = value->second;
            }
            if (!failed) {
                std::memset(record.value, 0, sizeof(record.value));
                std::memcpy(record.value, bytes.data(), std::min(bytes.size(), sizeof(record.value)));
            }
        }
        record.error_flag = failed ? 1 : 0;
        record.error_code = failed ? abort : 0;
        record.ts = later_stamp(record.ts);
        ++m_reads_served[i];
    }
    for (uint32_t i = 0; i < m_outputs; ++i) {
        Pending& p = m_pending_outputs[i];
        if (!p.active || p.due > now)
            continue;
        p.active = false;
        Shared_Async_Output_Data_From_Framework& record = m_out_from[i];
        const Behaviour& b = p.behaviour;
        bool failed = b.fail;
        uint32_t abort = b.fail ? b.error_code : 0;
        if (!failed) {
            const auto sink = m_sinks.find(label_of(record.name_id));
            if (sink != m_sinks.end()) {
                const size_t size = std::min<size_t>(record.byte_dimension, p.written.size());
                abort = sink->second(std::vector<uint8_t>(p.written.begin(), p.written.begin() + size));
                failed = abort != 0;
            }
        }
        record.error_flag = failed ? 1 : 0;
        record.error_code = failed ? abort : 0;
        record.ts = later_stamp(record.ts);
        if (!failed)
            m_last_written[i] = p.written;
        ++m_writes_served[i];
    }
}
