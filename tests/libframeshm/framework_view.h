#pragma once

#include <string>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"

// A test's own mapping of the running server's info, cyclic and output
// segments, to look at (and, where a test says so, set) what no library call
// shows: slots, application names, the save flag, the shared images.
class Framework_View {
public:
    Framework_View();
    ~Framework_View();
    Framework_View(const Framework_View&) = delete;
    Framework_View& operator=(const Framework_View&) = delete;

    Shared_Info_Struct& info() { return *m_info.ptr; }
    Shared_Sem_Struct& slot(int n) { return m_cyclic.sems_ptr[n]; }
    int slot_count() const { return m_slots; }
    pthread_mutex_t* cyclic_mutex() { return m_cyclic.mutex_ptr; }
    uint8_t* output_image() { return m_cyclic.outputs_ptr; }
    uint8_t* input_image() { return m_cyclic.inputs_ptr; }
    // The tick loop runs once the server reports its (simulated) master online.
    void wait_ticking_ex(int timeout_ms = 20000);
    Shared_Application_Data_Struct* output_record(const std::string& label);
    Shared_Application_Data_Struct* input_record(const std::string& label);
    std::string app_name(int n) const;

private:
    Shared_Info_Ptr m_info;
    Shared_Cyclic_Data_Ptrs m_cyclic;
    Shared_Application_Data_Ptrs m_inputs;
    Shared_Application_Data_Ptrs m_outputs;
    int m_slots = 0;
};
