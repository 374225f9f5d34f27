#pragma once

#include <stdexcept>

// Ends the master-manager loop's use of a master that no longer answers:
// the loop unhooks and hooks again, so that a master started again is found.
class Master_Lost : public std::runtime_error {
public:
    Master_Lost() : std::runtime_error("XELO_Framework_ex:: master lost (no answer), hooked again once it is back") {}
};
