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

namespace {
// count values of one type, read in order after a length check.
template <typename T>
std::vector<T> unpack_values(const std::vector<uint8_t>& data, uint32_t& offset, int count, const char* caller,
                             T (*get)(const std::vector<uint8_t>&, uint32_t&))
{
    require(data, offset, static_cast<std::size_t>(count) * sizeof(T), caller);
    std::vector<T> values;
    for (int i = 0; i < count; ++i)
        values.push_back(get(data, offset));
    return values;
}
}  // namespace

std::vector<double> RTDEUtility::unpackVector3d(const std::vector<uint8_t>& data, uint32_t& offset)
{
    return unpack_values(data, offset, 3, "unpackVector3d", &RTDEUtility::getDouble);
}

std::vector<double> RTDEUtility::unpackVector6d(const std::vector<uint8_t>& data, uint32_t& offset)
{
    return unpack_values(data, offset, 6, "unpackVector6d", &RTDEUtility::getDouble);
}

std::vector<int32_t> RTDEUtility::unpackVector6Int32(const std::vector<uint8_t>& data, uint32_t& offset)
{
    return unpack_values(data, offset, 6, "unpackVector6Int32", &RTDEUtility::getInt32);
}

}  // namespace rtde_client
