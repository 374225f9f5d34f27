#pragma once

#include <string>

#include "rtframe_child.h"

// A descriptor template of tests/rtframe/descriptors copied into dir, with
// every "@DIR@" replaced by dir; the path of the copy.
std::string install_descriptor(const std::string& template_name, const std::string& dir);
