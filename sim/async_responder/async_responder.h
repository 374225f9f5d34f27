#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework_shared_memory.h"

// Plays the server's asynchronous (SDO) service directly in the framework's
// asynchronous segments, for tests and simulators against a server that runs
// without a master: raised `to_update` flags are taken under the asynchronous
// mutex and answered with a value, a time stamp and the error fields, as a
// master's SDO transfer would be. Behaviour is switchable per variable; a
// source per input label supplies the value read, a sink per output label
// takes the value written (a simulated device's SDO server), either of them
// may refuse with an abort code.
class Async_Responder {
public:
    struct Behaviour {
        std::chrono::milliseconds delay{0};  // time between taking a request and answering it
        bool fail = false;                   // answer with the error flag set
        uint32_t error_code = 0;             // abort code of a failed answer
        bool never_answer = false;           // take the request, never answer
    };

    // What a source answers: an abort code (0 = done) and the value's bytes.
    struct Read_Result {
        uint32_t abort_code = 0;
        std::vector<uint8_t> bytes;
    };
    // Called when a read of the input is answered.
    using Input_Source = std::function<Read_Result()>;
    // Called when a write of the output is answered, with the value's
    // byte_dimension bytes; returns an abort code, 0 = done.
    using Output_Sink = std::function<uint32_t(const std::vector<uint8_t>& value)>;

    // Attaches to the asynchronous segments of the running framework.
    Async_Responder();
    ~Async_Responder();
    Async_Responder(const Async_Responder&) = delete;
    Async_Responder& operator=(const Async_Responder&) = delete;

    void set_default_behaviour(const Behaviour& behaviour);
    void set_behaviour(const std::string& label, const Behaviour& behaviour);
    // The bytes the next reads of an asynchronous input return (at most 8).
    void set_input_value(const std::string& label, const std::vector<uint8_t>& bytes);
    // Sources and sinks are called on the responder's thread, under its lock
    // and the framework's asynchronous mutex: they must not call back into
    // the responder. A source takes precedence over set_input_value.
    void set_input_source(const std::string& label, Input_Source source);
    void set_output_sink(const std::string& label, Output_Sink sink);
    // Labels of the framework's asynchronous inputs and outputs, by id.
    std::vector<std::string> input_labels() const;
    std::vector<std::string> output_labels() const;

    // Bytes of new_value of the last write served for an output.
    std::vector<uint8_t> last_written(const std::string& label) const;
    int reads_served(const std::string& label) const;
    int writes_served(const std::string& label) const;
    // Why the service stopped, empty while it runs.
    std::string failure() const;

private:
    // A request taken, answered when due with the behaviour in force when it
    // was taken.
    struct Pending {
        bool active = false;
        std::chrono::steady_clock::time_point due;
        Behaviour behaviour;
        std::vector<uint8_t> written;
    };

    void open_segments();
    void close_segments();
    void run();
    void serve_once();
    void take_requests(std::chrono::steady_clock::time_point now);
    void answer_due(std::chrono::steady_clock::time_point now);
    Behaviour behaviour_of(const std::string& label) const;
    int index_of(bool input, const std::string& label) const;

    uint32_t m_inputs = 0;
    uint32_t m_outputs = 0;
    Shared_Memory_Info m_info_shm, m_mutex_shm, m_in_from_shm, m_in_to_shm, m_out_from_shm, m_out_to_shm;
    Shared_Info_Struct* m_info = nullptr;
    pthread_mutex_t* m_mutex = nullptr;
    Shared_Async_Input_Data_From_Framework* m_in_from = nullptr;
    Shared_Async_Input_Data_To_Framework* m_in_to = nullptr;
    Shared_Async_Output_Data_From_Framework* m_out_from = nullptr;
    Shared_Async_Output_Data_To_Framework* m_out_to = nullptr;

    mutable std::mutex m_lock;  // guards everything below
    Behaviour m_default;
    std::map<std::string, Behaviour> m_behaviours;
    std::map<std::string, std::vector<uint8_t>> m_values;
    std::map<std::string, Input_Source> m_sources;
    std::map<std::string, Output_Sink> m_sinks;
    std::vector<Pending> m_pending_inputs, m_pending_outputs;
    std::vector<std::vector<uint8_t>> m_last_written;
    std::vector<int> m_reads_served, m_writes_served;
    std::string m_failure;

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
