#include "shared_name_fields.h"

#include <cstring>
#include <stdexcept>

#include "framework_shared_memory.h"

namespace {
void check_fits_ex(const std::string& text, std::size_t field_size, const char* what)
{
    if (text.size() < field_size)
        return;
    throw std::runtime_error("[XELO_Framework_ex][open_shared_memories_ex] " + std::string(what) + " '" +
                             text.substr(0, 40) + "...' is " + std::to_string(text.size()) +
                             " characters long: at most " + std::to_string(field_size - 1) + " fit");
}
}  // namespace

void copy_name_ex(char* field, std::size_t field_size, const std::string& text, const char* what)
{
    check_fits_ex(text, field_size, what);
    std::memset(field, 0, field_size);
    std::memcpy(field, text.data(), text.size());
}
