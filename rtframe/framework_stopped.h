#pragma once

#include <stdexcept>

// Ends a pass of the framework server on a stop request (SIGINT, SIGTERM, or
// the object being destroyed): not a fault, so the restart loop exits.
class Framework_Stopped : public std::runtime_error {
public:
    Framework_Stopped() : std::runtime_error("XELO_Framework_ex:: stop requested") {}
};
