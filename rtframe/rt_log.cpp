#include "rt_log.h"

void Rt_Log::write(Log_Level level, const char* text) noexcept
{
    post(level, "%s", text);
}
