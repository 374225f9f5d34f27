#pragma once

// The one way every py_ function calls into the library: the call runs under
// a handler for every kind of exception, whose message goes into the error
// ring and whose slot number into the caller's error slot. Shared by the
// sources of the script interface.

#include <cstddef>
#include <cstdint>
#include <string>

class Framework_Shared_Memory_Manager;

namespace xelo_shm_ctypes {

constexpr std::size_t ERROR_RING_SIZE = 20;
// Sizes of the caller buffers that texts are handed back in.
constexpr std::size_t ERROR_STRING_MAX_LENGTH = 1000;
constexpr std::size_t LIST_STRING_MAX_LENGTH = 10000;
constexpr std::size_t LABEL_STRING_MAX_LENGTH = 500;
constexpr std::size_t TYPE_NAME_MAX_LENGTH = 32;

constexpr int INVALID_ID = -1;
constexpr unsigned int INVALID_UNSIGNED = 0xFFFFFFFFu;

// Stores a message in the next slot of the error ring and returns the slot
// number, 1 to 20.
uint32_t push_string_into_buffer(const char* text) noexcept;

// Stores the exception being handled (only inside a catch handler) and
// returns its slot number. A thread's cancellation is no exception to store:
// it goes on unwinding to the thread's end, since swallowing it would abort
// the process.
uint32_t store_current_exception();

// The manager behind a handle; throws for a null handle.
Framework_Shared_Memory_Manager& manager_of_ex(Framework_Shared_Memory_Manager* memory_manager);
// A zero-terminated argument as text; throws when it is null.
std::string text_of_ex(const char* text, const char* argument_name);
// Throws when a caller buffer is null.
void require_buffer_ex(const void* buffer, const char* argument_name);

// A byte offset declared unsigned: a value above the int range is a caller's
// negative number (4294967295 for -1) and is refused here, before the manager.
int byte_offset_of_ex(unsigned int byte_offset);

// The text padded with zero bytes to size - 1 characters, so that copying it
// fills a whole caller buffer of `size` bytes.
inline std::string zero_filled(std::string text, std::size_t size)
{
    if (size > 0 && text.size() < size - 1)
        text.resize(size - 1, '\0');
    return text;
}

// Copies text into a caller buffer of `size` bytes: at most size - 1
// characters and a terminating zero. Returns the characters copied.
std::size_t copy_text(char* buffer, std::size_t size, const char* text, std::size_t length) noexcept;
inline std::size_t copy_text(char* buffer, std::size_t size, const std::string& text) noexcept
{
    return copy_text(buffer, size, text.data(), text.size());
}

inline void set_error_slot(uint32_t* error_occurred, uint32_t slot) noexcept
{
    if (error_occurred != nullptr)
        *error_occurred = slot;
}

// Runs body() and returns its result with the slot 0; on any exception
// returns default_value with the slot of the stored message.
template <typename Result, typename Body>
Result guarded(uint32_t* error_occurred, Result default_value, Body&& body)
{
    try {
        const Result result = body();
        set_error_slot(error_occurred, 0);
        return result;
    } catch (...) {
        set_error_slot(error_occurred, store_current_exception());
        return default_value;
    }
}

template <typename Body>
void guarded(uint32_t* error_occurred, Body&& body)
{
    guarded(error_occurred, false, [&] {
        body();
        return true;
    });
}

// guarded() with the manager behind the handle: operation(manager).
template <typename Result, typename Operation>
Result guarded_call(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, Result default_value,
                    Operation&& operation)
{
    return guarded(error_occurred, default_value, [&] { return operation(manager_of_ex(memory_manager)); });
}

template <typename Operation>
void guarded_call(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, Operation&& operation)
{
    guarded(error_occurred, [&] { operation(manager_of_ex(memory_manager)); });
}

// Fills a caller buffer of `size` bytes with the text that operation(manager)
// returns, or with `fallback` when the call fails.
template <typename Operation>
void guarded_text_call(Framework_Shared_Memory_Manager* memory_manager, uint32_t* error_occurred, char* buffer,
                       std::size_t size, const char* fallback, Operation&& operation)
{
    const bool filled = guarded_call(memory_manager, error_occurred, false, [&](Framework_Shared_Memory_Manager& m) {
        require_buffer_ex(buffer, "text buffer");
        copy_text(buffer, size, operation(m));
        return true;
    });
    if (!filled && buffer != nullptr)
        copy_text(buffer, size, fallback, std::char_traits<char>::length(fallback));
}

}  // namespace xelo_shm_ctypes
