#pragma once

#include <stdexcept>

// Ends rtframe with a failure status after the ordinary exit path (segments
// removed), without a restart: a fault that another pass would only repeat.
class Framework_Fatal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
