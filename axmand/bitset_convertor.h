#pragma once

#include <cstdint>

// CiA 402 control and status words: the raw word `dby` overlaid with one
// bit view per operation mode, bit 0 first (GCC on little-endian targets).

union bitsetConvertor_cw {
    uint16_t dby;
    struct {
        uint16_t switch_on : 1;
        uint16_t disable_voltage : 1;
        uint16_t quick_stop : 1;
        uint16_t enable_operation : 1;
        uint16_t operation_mode_specific_0 : 1;
        uint16_t operation_mode_specific_1 : 1;
        uint16_t operation_mode_specific_2 : 1;
        uint16_t reset_fault_rising_edge : 1;
        uint16_t halt : 1;
        uint16_t not_used_0 : 1;
        uint16_t not_used_1 : 1;
        uint16_t not_used_2 : 1;
        uint16_t not_used_3 : 1;
        uint16_t not_used_4 : 1;
        uint16_t not_used_5 : 1;
        uint16_t not_used_6 : 1;
    } bs;
    struct {
        uint16_t switch_on : 1;
        uint16_t disable_voltage : 1;
        uint16_t quick_stop : 1;
        uint16_t enable_operation : 1;
        uint16_t new_set_point : 1;
        uint16_t change_set_immediately : 1;
        uint16_t is_relative : 1;
        uint16_t reset_fault_rising_edge : 1;
        uint16_t halt : 1;
        uint16_t not_used : 7;
    } bs_pp;
    struct {
        uint16_t switch_on : 1;
        uint16_t disable_voltage : 1;
        uint16_t quick_stop : 1;
        uint16_t enable_operation : 1;
        uint16_t reserved_1 : 1;
        uint16_t reserved_2 : 1;
        uint16_t reserved_3 : 1;
        uint16_t reset_fault_rising_edge : 1;
        uint16_t halt : 1;
        uint16_t not_used : 7;
    } bs_pv;
    struct {
        uint16_t switch_on : 1;
        uint16_t disable_voltage : 1;
        uint16_t quick_stop : 1;
        uint16_t enable_operation : 1;
        uint16_t homing_operation_start : 1;
        uint16_t reserved_1 : 1;
        uint16_t reserved_2 : 1;
        uint16_t reset_fault_rising_edge : 1;
        uint16_t halt : 1;
        uint16_t not_used : 7;
    } bs_h;
    struct {
        uint16_t switch_on : 1;
        uint16_t disable_voltage : 1;
        uint16_t quick_stop : 1;
        uint16_t enable_operation : 1;
        uint16_t enable_ip_mode : 1;
        uint16_t reserved_1 : 1;
        uint16_t reserved_2 : 1;
        uint16_t reset_fault_rising_edge : 1;
        uint16_t halt : 1;
        uint16_t not_used : 7;
    } bs_ip;
};

union bitsetConvertor_sw {
    uint16_t dby;
    struct {
        uint16_t ready_to_switch_on : 1;
        uint16_t switch_on : 1;
        uint16_t operation_enabled : 1;
        uint16_t fault : 1;
        uint16_t voltage_enabled : 1;
        uint16_t quick_stop : 1;
        uint16_t switch_on_disabled : 1;
        uint16_t warning : 1;
        uint16_t manufacter_specific_0 : 1;
        uint16_t remote : 1;
        uint16_t operation_mode_specific_0 : 1;
        uint16_t internal_limit_active : 1;
        uint16_t operation_mode_specific_1 : 1;
        uint16_t operation_mode_specific_2 : 1;
        uint16_t motor_is_standstill : 1;
        uint16_t manufacter_specific_2 : 1;
    } bs;
    struct {
        uint16_t low : 10;
        uint16_t target_reached : 1;
        uint16_t internal_limit_active : 1;
        uint16_t target_value_acknowledge : 1;
        uint16_t following_error : 1;
        uint16_t manufacter_specific_1 : 1;
        uint16_t manufacter_specific_2 : 1;
    } bs_pp;
    struct {
        uint16_t low : 10;
        uint16_t target_reached : 1;
        uint16_t internal_limit_active : 1;
        uint16_t speed_is_0 : 1;
        uint16_t reserved : 1;
        uint16_t manufacter_specific_1 : 1;
        uint16_t manufacter_specific_2 : 1;
    } bs_pv;
    struct {
        uint16_t low : 10;
        uint16_t target_reached : 1;
        uint16_t internal_limit_active : 1;
        uint16_t homing_attained : 1;
        uint16_t homing_error : 1;
        uint16_t manufacter_specific_1 : 1;
        uint16_t manufacter_specific_2 : 1;
    } bs_h;
    struct {
        uint16_t low : 10;
        uint16_t target_reached : 1;
        uint16_t internal_limit_active : 1;
        uint16_t ip_mode_is_active : 1;
        uint16_t reserved : 1;
        uint16_t manufacter_specific_1 : 1;
        uint16_t manufacter_specific_2 : 1;
    } bs_ip;
};

static_assert(sizeof(bitsetConvertor_cw) == 2, "control word is 16 bits");
static_assert(sizeof(bitsetConvertor_sw) == 2, "status word is 16 bits");
