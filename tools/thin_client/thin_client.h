#pragma once

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"

// A minimal client of a running framework server, straight over the shared
// records: it attaches to the segments (which must exist), takes an
// application slot, waits for its wake-ups and reads and writes the cyclic
// images under the cyclic mutex. Enough for the demo, the tests and the
// benchmarks; applications use the client library instead.
class Thin_Client {
public:
    // Maps every segment that the info record announces. Throws when a
    // segment is missing or has another size than the records say.
    Thin_Client();
    ~Thin_Client();
    Thin_Client(const Thin_Client&) = delete;
    Thin_Client& operator=(const Thin_Client&) = delete;

    // Waits until the server has created its segments and raised
    // ready_to_start; false when the time runs out first.
    static bool wait_until_ready(std::chrono::milliseconds timeout);

    const Shared_Info_Struct& info() const { return *m_info.ptr; }
    int slot_count() const;

    // Takes the first free slot under the cyclic mutex and publishes the
    // name; the slot's period in ticks. Throws when no slot is free.
    int take_slot(const std::string& name, uint32_t period_ticks = 1);
    int slot() const { return m_slot; }
    // The watchdog of the own slot, under the cyclic mutex.
    void set_watchdog(int32_t max_overflow, bool active);
    // A copy of any slot's record, taken under the cyclic mutex.
    Shared_Sem_Struct slot_record(int slot) const;

    // Waits for the own semaphore like a refresh: on a wake-up the slot's
    // overflow is taken (and cleared) and its tick read. False on time-out.
    [[nodiscard]] bool wait_wakeup(std::chrono::microseconds timeout, uint32_t* tick = nullptr,
                                   int32_t* overflow = nullptr);
    // Takes a wake-up that is already pending, so that the next one comes
    // from a tick after this call.
    void discard_pending_wakeup();

    const Shared_Application_Data_Struct& input_record(const std::string& name) const;
    const Shared_Application_Data_Struct& output_record(const std::string& name) const;
    int output_index(const std::string& name) const;

    std::vector<uint8_t> inputs() const;   // the whole input image, under the cyclic mutex
    std::vector<uint8_t> outputs() const;  // the whole output image, under the cyclic mutex

    template <typename T>
    T get_input(const std::string& name) const
    {
        return value_at<T>(inputs(), input_record(name));
    }
    template <typename T>
    T get_output(const std::string& name) const
    {
        return value_at<T>(outputs(), output_record(name));
    }
    std::string get_input_text(const std::string& name) const;

    // Takes write ownership of the output (under the output-table mutex).
    void take_output(const std::string& name);
    // Writes the bytes of an output straight into the shared image, under the
    // cyclic mutex (a bit output: only its bit).
    template <typename T>
    void set_output(const std::string& name, T value)
    {
        write_output_bytes(output_record(name), &value, sizeof(T));
    }
    void set_output_bit(const std::string& name, bool value);

    // Stores new default bytes of an output and marks it for saving (output
    // table mutex), then raises the save request (info mutex), as a client
    // library does; returns once the server lowered the request, false when
    // the time ran out.
    void set_output_default(const std::string& name, const void* bytes, std::size_t size);
    bool save_defaults(const std::vector<std::string>& names, std::chrono::milliseconds timeout);

    pthread_mutex_t* cyclic_mutex() const { return m_cyclic.mutex_ptr; }
    pthread_mutex_t* info_mutex() const { return &m_info.ptr->mutex; }
    pthread_mutex_t* output_table_mutex() const { return m_outputs.mutex_ptr; }
    Shared_Application_Data_Struct* output_table() const { return m_outputs.app_data_ptr; }
    const Shared_Sem_Data_Group& groups() const { return m_groups; }
    std::string group_name(uint32_t group) const;

private:
    template <typename T>
    static T value_at(const std::vector<uint8_t>& image, const Shared_Application_Data_Struct& record)
    {
        if (record.byte_offs + sizeof(T) > image.size())
            throw std::runtime_error("[Thin_Client] value outside the image");
        T value;
        std::memcpy(&value, image.data() + record.byte_offs, sizeof(T));
        return value;
    }
    const Shared_Application_Data_Struct& record_ex(const Shared_Application_Data_Struct* table, uint32_t count,
                                                    const std::string& name) const;
    void write_output_bytes(const Shared_Application_Data_Struct& record, const void* bytes, std::size_t size);
    void attach_groups();

    struct Mapping {
        Shared_Memory_Info* info;
        void* ptr;
        std::size_t size;
    };
    template <typename T>
    void attach(Shared_Memory_Info* info, T** ptr, const std::string& name, uint32_t count);

    Shared_Info_Ptr m_info;
    Shared_Cyclic_Data_Ptrs m_cyclic;
    Shared_Application_Data_Ptrs m_inputs;
    Shared_Application_Data_Ptrs m_outputs;
    Shared_Sem_Data_Group m_groups;
    std::vector<Mapping> m_mappings;
    int m_slot = -1;
};
