#pragma once

#include <cstdint>
#include <vector>

namespace rtde_client {

// Big-endian readers of a data-package payload. Each reads at offset,
// advances offset by the value's width and throws std::runtime_error when
// the payload holds fewer bytes than the value needs (offset unchanged).
class RTDEUtility {
public:
    static double getDouble(const std::vector<uint8_t>& data, uint32_t& offset);
    static uint32_t getUInt32(const std::vector<uint8_t>& data, uint32_t& offset);
    static int32_t getInt32(const std::vector<uint8_t>& data, uint32_t& offset);
    static uint64_t getUInt64(const std::vector<uint8_t>& data, uint32_t& offset);
    static std::vector<double> unpackVector3d(const std::vector<uint8_t>& data, uint32_t& offset);
    static std::vector<double> unpackVector6d(const std::vector<uint8_t>& data, uint32_t& offset);
    static std::vector<int32_t> unpackVector6Int32(const std::vector<uint8_t>& data, uint32_t& offset);
};

}  // namespace rtde_client
