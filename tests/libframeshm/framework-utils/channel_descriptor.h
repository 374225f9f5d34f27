#pragma once

#include <string>

// The application descriptor of the command-channel tests, all virtual:
//
// Channel "tool": "tool_sender" holds cmd_value (int8), speed (int32), gain
// (float), ratio (double), counter (uint64), offset (int64), small (uint16)
// and name (10 bytes); "tool_receiver" holds resp_value (int8), position
// (double), status (int16), total (uint32), echo (int64), scale (float) and
// note (8 bytes).
// Channel "bare": only cmd_value and resp_value. Channel "nocode": one int32
// on each side (value, result) and no codes.
//
// Protocol inputs (int8, their value from the default): cmd_ptcl_reset 1,
// cmd_ptcl_get_info 2, cmd_ptcl_halt 3, x_cmd_ptcl_fake 9 (the prefix not at
// the start); answ_ptcl_done 1, answ_ptcl_refused -1; dup_ptcl_a 5,
// dup_ptcl_b 5; wide_ptcl_a is an int16.
//
// Four application slots. Returns the path of the file written.
std::string write_channel_descriptor();
