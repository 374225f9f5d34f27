#pragma once

#include <cstdint>

// User units to raw drive units: the product in double precision, truncated
// toward zero and saturated at the target's range; NaN gives 0, and the
// unsigned form gives 0 for negative products.
int32_t user_to_raw_signed(double value, double raw_per_unit);
uint32_t user_to_raw_unsigned(double value, double raw_per_unit);
