#include "rtde_utility.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace rtde_client {

namespace {
void require(const std::vector<uint8_t>& data, uint32_t offset, std::size_t width, const char* method)
{
    if (offset > data.size() || data.size() - offset < width)
        throw std::runtime_error(std::string("[RTDEUtility][") + method + "] payload of " +
                                 std::to_string(data.size()) + " bytes has no " + std::to_string(width) +
                                 " bytes at offset " + std::to_string(offset));
}

uint64_t read_be(const std::vector<uint8_t>& data, uint32_t offset, std::size_t width)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | data[offset + i];
    return value;
}
}  // namespace

double RTDEUtility::getDouble(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 8, "getDouble");
    const uint64_t bits = read_be(data, offset, 8);
    double value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    offset += 8;
    return value;
}

uint32_t RTDEUtility::getUInt32(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 4, "getUInt32");
    const auto value = static_cast<uint32_t>(read_be(data, offset, 4));
    offset += 4;
    return value;
}

int32_t RTDEUtility::getInt32(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 4, "getInt32");
    const auto value = static_cast<int32_t>(static_cast<uint32_t>(read_be(data, offset, 4)));
    offset += 4;
    return value;
}

uint64_t RTDEUtility::getUInt64(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 8, "getUInt64");
    const uint64_t value = read_be(data, offset, 8);
    offset += 8;
    return value;
}

std::vector<double> RTDEUtility::unpackVector3d(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 24, "unpackVector3d");
    std::vector<double> values;
    for (int i = 0; i < 3; ++i)
        values.push_back(getDouble(data, offset));
    return values;
}

std::vector<double> RTDEUtility::unpackVector6d(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 48, "unpackVector6d");
    std::vector<double> values;
    for (int i = 0; i < 6; ++i)
        values.push_back(getDouble(data, offset));
    return values;
}

std::vector<int32_t> RTDEUtility::unpackVector6Int32(const std::vector<uint8_t>& data, uint32_t& offset)
{
    require(data, offset, 24, "unpackVector6Int32");
    std::vector<int32_t> values;
    for (int i = 0; i < 6; ++i)
        values.push_back(getInt32(data, offset));
    return values;
}

}  // namespace rtde_client
