#pragma once

#include <cxxabi.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

// The error ring of a script interface: the last SLOTS error texts, each
// named by its slot number 1..SLOTS and handed back into a caller buffer of
// TEXT_BYTES. Each slot keeps room for a whole deliverable text, so that
// storing one never depends on memory that may be missing when the error is
// reported. Every access holds the interface's mutex; nothing here throws.
template <std::size_t SLOTS, std::size_t TEXT_BYTES>
class Error_Text_Ring {
public:
    explicit Error_Text_Ring(pthread_mutex_t& mutex) : m_mutex(mutex)
    {
        for (std::string& slot : m_slots)
            slot.reserve(TEXT_BYTES);
    }
    Error_Text_Ring(const Error_Text_Ring&) = delete;
    Error_Text_Ring& operator=(const Error_Text_Ring&) = delete;

    // Stores the text in the next slot and returns the slot's number.
    uint32_t push(const char* text) noexcept
    {
        Guard guard(m_mutex);
        store(m_slots[m_next], text);
        const uint32_t slot = static_cast<uint32_t>(m_next) + 1;
        m_next = (m_next + 1) % SLOTS;
        return slot;
    }

    // Only inside a catch handler: stores the exception being handled, or
    // unknown_text for one not derived from std::exception. A thread's
    // cancellation is no exception to store: it goes on unwinding. (The
    // handler of a cancellation binds no object, which the sanitizer's
    // null-reference check would take for an error.)
    __attribute__((no_sanitize("null"))) uint32_t push_current_exception(const char* unknown_text)
    {
        try {
            throw;
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (const std::exception& e) {
            const char* text = e.what();
            return push(text != nullptr ? text : "");
        } catch (...) {
            return push(unknown_text);
        }
    }

    // The text of slot `index` (invalid_text for a number of no slot) into a
    // buffer of TEXT_BYTES: at most TEXT_BYTES - 1 characters, zeros after.
    void copy_out(unsigned int index, char* buffer, const char* invalid_text) const noexcept
    {
        Guard guard(m_mutex);
        const bool valid = index >= 1 && index <= SLOTS;
        const char* text = valid ? m_slots[index - 1].data() : invalid_text;
        const std::size_t length =
            std::min(valid ? m_slots[index - 1].size() : std::strlen(invalid_text), TEXT_BYTES - 1);
        std::memcpy(buffer, text, length);
        std::memset(buffer + length, 0, TEXT_BYTES - length);
    }

private:
    // Holds the mutex for one access. An error-checking mutex refuses only a
    // relock by its holder, which no path here does.
    class Guard {
    public:
        explicit Guard(pthread_mutex_t& mutex) : m_mutex(mutex), m_locked(pthread_mutex_lock(&mutex) == 0) {}
        ~Guard()
        {
            if (m_locked)
                pthread_mutex_unlock(&m_mutex);
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        pthread_mutex_t& m_mutex;
        bool m_locked;
    };

    // The whole text; without memory for it, as much as the slot holds room for.
    static void store(std::string& slot, const char* text) noexcept
    {
        try {
            slot.assign(text);
        } catch (...) {
            slot.assign(text, std::min(std::strlen(text), slot.capacity()));
        }
    }

    pthread_mutex_t& m_mutex;
    std::array<std::string, SLOTS> m_slots;
    std::size_t m_next = 0;
};
