#pragma once

#include <chrono>
#include <thread>

// Polls done every poll period until it holds (true) or the limit has passed
// (false).
template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000),
                std::chrono::milliseconds poll = std::chrono::milliseconds(1))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}
