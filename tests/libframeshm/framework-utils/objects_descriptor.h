#pragma once

#include <string>

// The application descriptor of the data-object tests, all virtual:
//
// t_bool, t_i8, t_u8 (default 77), t_i16, t_u16, t_i32, t_u32, t_i64, t_u64,
// t_float, t_double: one of each value type; t_bytes: an 8-byte array.
// ax1_status, ax1_position, ax1_error, then xax1_status: an input prefix.
// grp3_ctrl (uint16), grp3_target (int32), grp3_blob (4 bytes): output group 3.
// mix_a (group 8), mix_b (group 9); nog_a (group 8), nog_b (no group).
// five_a, other_five: output group 5 under two prefixes.
//
// Every variable is both an output and the input it loops back to. Returns
// the path of the file written.
std::string write_objects_descriptor();
