#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "robot_sim_variables.h"

// The controller's side of the RTDE wire: big-endian numbers, packages of a
// 16-bit size (header included), a type byte and a payload.
namespace robot_sim::wire {

constexpr uint8_t REQUEST_PROTOCOL_VERSION = 'V';
constexpr uint8_t GET_CONTROLLER_VERSION = 'v';
constexpr uint8_t TEXT_MESSAGE = 'M';
constexpr uint8_t DATA_PACKAGE = 'U';
constexpr uint8_t SETUP_OUTPUTS = 'O';
constexpr uint8_t SETUP_INPUTS = 'I';
constexpr uint8_t START = 'S';
constexpr uint8_t PAUSE = 'P';
constexpr std::size_t HEADER_SIZE = 3;

// Text-message warning levels.
constexpr uint8_t LEVEL_EXCEPTION = 0;
constexpr uint8_t LEVEL_ERROR = 1;
constexpr uint8_t LEVEL_WARNING = 2;
constexpr uint8_t LEVEL_INFO = 3;

void put_uint(std::string& out, uint64_t value, std::size_t width);
void put_double(std::string& out, double value);
uint64_t get_uint(const uint8_t* bytes, std::size_t width);
double get_double(const uint8_t* bytes);

// Whole package: size, type, payload.
std::string package(uint8_t type, const std::string& payload);
// A text message: length, message, source length, source, warning level.
std::string text_message(const std::string& message, const std::string& source, uint8_t level);

// One value of the given type from its elements (integers truncated).
void put_value(std::string& out, Value_Type type, const std::vector<double>& elements);
std::vector<double> get_value(Value_Type type, const uint8_t* bytes);

std::string hex(const std::string& bytes);

}  // namespace robot_sim::wire
