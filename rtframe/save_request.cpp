#include <mutex>

#include "save_request.h"

#include "robust_mutex.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const INFO_MUTEX = "framework->m_shm_xeno_info.ptr->mutex";
const char* const SAVE_THREAD = "fm_savetask";

bool any_marked(const Shared_Application_Data_Struct* outputs, uint32_t outputs_num, uint32_t first_output)
{
    for (uint32_t k = first_output; k < outputs_num; ++k)
        if (outputs[k].has_to_save != 0)
            return true;
    return false;
}
}  // namespace

int serve_save_request_ex(Shared_Info_Struct* info, const Shared_Application_Data_Struct* outputs, uint32_t outputs_num,
                          uint32_t first_output, const std::function<void()>& save)
{
    bool requested = false;
    {
        Robust_Mutex guard_mutex(&info->mutex, INFO_MUTEX, SAVE_THREAD);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        requested = info->has_to_save != 0;
    }
    int passes = 0;
    while (requested) {
        log_inf("[FrameworkThreadSave] going to save xml file/s ...");
        save();
        ++passes;
        log_inf("[FrameworkThreadSave] all file/s have been saved!");
        Robust_Mutex guard_mutex(&info->mutex, INFO_MUTEX, SAVE_THREAD);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        if (!any_marked(outputs, outputs_num, first_output)) {
            info->has_to_save = 0;
            requested = false;
        }
    }
    return passes;
}
