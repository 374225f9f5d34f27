#pragma once

#include <cstdint>
#include <istream>
#include <string>

// Arguments of a command-server request, read from its argument stream one
// blank-separated word at a time. A word that is missing, or that is not
// wholly a decimal number of the wanted type, throws std::runtime_error
// "[ECM_Request_Arguments][<function>] ..." naming the argument: handlers
// answer it with "reply_error" and never act on a made-up value.

int read_int_argument_ex(std::istream& args, const char* name);
uint16_t read_uint16_argument_ex(std::istream& args, const char* name);
std::string read_word_argument_ex(std::istream& args, const char* name);
