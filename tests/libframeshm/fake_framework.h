#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"
#include "xelo_queue.h"

// Plays the server in the framework segments, for the few server states that
// rtframe cannot be brought into: another framework version, two bit outputs
// that share one byte, a master that is offline. It creates the info, cyclic and variable segments and
// the logging queue (and the asynchronous ones when the layout has
// asynchronous variables, all free and never served); the reserved inputs
// are added in front of the inputs.
// Wake-ups are posted by hand.
class Fake_Framework {
public:
    struct Variable {
        std::string label;
        Type_Definition type;
        uint32_t byte_offs;
        uint32_t byte_dim;
        uint32_t bit_offs;
        bool negated;
    };

    struct Async_Variable {
        std::string label;
        Type_Definition type;
        uint32_t byte_dim;
    };

    struct Layout {
        uint32_t version_major = 4;
        uint32_t version_minor = 0;
        int32_t slots = 2;
        uint32_t cycle_time_ns = 1000000;
        uint32_t input_bytes = 3;  // at least the three reserved inputs
        uint32_t output_bytes = 8;
        std::vector<Variable> outputs;
        std::vector<Async_Variable> async_inputs;
        std::vector<Async_Variable> async_outputs;
    };

    explicit Fake_Framework(const Layout& layout);
    ~Fake_Framework();
    Fake_Framework(const Fake_Framework&) = delete;
    Fake_Framework& operator=(const Fake_Framework&) = delete;

    void post(int slot);
    Shared_Info_Struct& info() { return *m_info.ptr; }
    uint8_t* output_image() { return m_cyclic.outputs_ptr; }
    uint8_t* input_image() { return m_cyclic.inputs_ptr; }
    pthread_mutex_t* cyclic_mutex() { return m_cyclic.mutex_ptr; }
    Shared_Async_Data_Ptrs& async() { return m_async; }

private:
    Shared_Info_Ptr m_info;
    Shared_Cyclic_Data_Ptrs m_cyclic;
    Shared_Application_Data_Ptrs m_inputs;
    Shared_Application_Data_Ptrs m_outputs;
    Shared_Async_Data_Ptrs m_async;
    std::vector<std::pair<std::string, std::size_t>> m_segments;
    std::vector<void*> m_mappings;
    Posix_Queue_Message_Reader m_queue;

    template <typename T>
    T* create(const std::string& name, std::size_t count);
    void open_queue();
    void create_async(const Layout& layout);
};
