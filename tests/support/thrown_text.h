#pragma once

#include <stdexcept>
#include <string>

// The text of the std::runtime_error that f throws; "<nothing thrown>" when
// it returns normally.
template <typename F>
std::string thrown_text(F&& f)
{
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<nothing thrown>";
}
