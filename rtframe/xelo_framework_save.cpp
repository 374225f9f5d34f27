// The save thread: writes defaults that clients changed into the descriptor files.
#include <mutex>

#include "save_request.h"
#include "xelo_app_desc_saver.h"
#include "xelo_framework.h"
#include "xelo_log.h"

namespace {
constexpr long SAVE_POLL_MS = 10;
}

void* FrameworkThreadSave(void* framework)
{
    auto* self = static_cast<XELO_Framework_ex*>(framework);
    set_own_fifo_priority_or_exit(54, "Failed to set save thread priority");
    try {
        self->save_run_ex();
    } catch (const std::exception& error) {
        log_err(error.what());
    }
    return nullptr;
}

// A pass holds m_save_gate and runs only while the real-time loop runs: the
// real-time thread's exit path clears m_is_running and then takes the gate,
// so the segments are never released under a pass.
void XELO_Framework_ex::save_run_ex()
{
    while (!m_stop.sleep_for(SAVE_POLL_MS)) {
        m_rt_log.drain();
        std::lock_guard<std::mutex> gate(m_save_gate);
        if (!m_is_running)
            continue;
        serve_save_request_ex(m_shm_xeno_info.ptr, m_shm_xeno_application_output_data.app_data_ptr,
                              appl_desc_mngr.outputs_num, first_saved_output_index(appl_desc_mngr),
                              [this] { save_data_ex(appl_desc_mngr, &m_shm_xeno_application_output_data); });
    }
}
