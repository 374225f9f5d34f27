#pragma once

#include <cstdint>
#include <string>

// The application descriptor the rtframe tests run with, written to
// /tmp/application_descriptor.xml (the server saves changed defaults there).
//
// Slave outputs: neg_bit (bit 2, negated, default 0), pos_bit (bit 5,
// default 1). Slave input: di_word (uint16). Writable virtuals: v_bool,
// v_i8, v_u8, v_i16, v_u16, v_i32, v_u32, v_i64, v_u64, v_float, v_double,
// v_bytes (10 bytes, default 01 02), g7_a, g7_b, g7_c (uint8, output group
// 7), solo (uint8, no group), save_u16 (default 7), save_u8 (default 3).
// Read-only virtual: ro_u16 (default 42). Aliases: alias_i32 -> v_i32,
// alias_alias -> alias_i32, di_alias -> di_word. One asynchronous input and
// output (error_code, max_torque); data groups "trace" (ring of
// trace_slots slots: framework_abs_tick, position double) and "command"
// (code int8, text 16 bytes, count int32, ratio double); with_channel adds
// the command channel "axis": "axis_sender" (code int8, target double, name
// 8 bytes) and "axis_receiver" (result int8, position double, note 8 bytes).
// with_value_types adds a variable of every asynchronous value type (inputs
// ai_i8, ai_u8, ai_i16, ai_u16, ai_i32, ai_u32, outputs ao_ likewise), the
// data group "values" and the command channel "probe", whose groups
// "values", "probe_sender" and "probe_receiver" each hold i8, u8, i16, u16,
// i32, u32, i64, u64, f32 (float), f64 (double) and bytes (12 bytes), and the
// command channel "ping": "ping_sender" (code int8), "ping_receiver" (no data).
struct Test_Descriptor {
    int slots = 3;
    uint32_t cycle_time_ns = 1000000;
    int padding_variables = 0;  // more writable virtuals, to lengthen a save
    int trace_slots = 8;
    bool with_channel = false;
    bool with_value_types = false;

    std::string write() const;
};
