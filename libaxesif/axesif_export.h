#pragma once

// The library is built with hidden symbols; what carries AXESIF_API is its
// exported interface.
#define AXESIF_API __attribute__((visibility("default")))
