#include "cyclic_log.h"

#include <cstdarg>

void Cyclic_Log::push(Ecm_Log_Level level, const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    post_v(false, level, format, args);
    va_end(args);
}
