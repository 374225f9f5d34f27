#pragma once

#include <cstdint>

namespace rtde_client {

// The robot controller's RTDE server port.
constexpr uint16_t RTDE_PORT = 30004;

}  // namespace rtde_client
