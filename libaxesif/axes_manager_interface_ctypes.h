#pragma once

// Plain exported functions through which scripts (Python with ctypes) drive
// an Axes_Manager_Interface.
//
// Conventions of every function that takes `error_occurred`: it points to an
// unsigned 32-bit slot that holds 0 after a success, or the number (1 to 20)
// of the error-ring entry that keeps the failure's message, to be fetched
// with py_get_error_string. A failed function returns 0, 0.0, false or a null
// handle and writes no out-buffer. Nothing is thrown across this interface.
// A command that cannot be sent fails this way too.
//
// Texts given back are cut to py_get_error_string_max_length() - 1
// characters and terminated; array functions refuse an axes_num that does not
// fit the manager's axes (the getters: 0 .. axes; the motion requests: at
// least one entry per axis).

#include <cstdint>

#include "axes_manager_interface.h"

class Framework_Shared_Memory_Manager;

extern "C" {

AXESIF_API int py_init_mutex();
AXESIF_API int py_get_error_string_max_length();
AXESIF_API void py_get_error_string(unsigned int index, char* error_string);

AXESIF_API Axes_Manager_Interface* py_axes_manager_interface_new(uint32_t* error_occurred, int axes_manager_idx);
AXESIF_API void py_setup_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                            Framework_Shared_Memory_Manager* fw_ptr);
AXESIF_API void py_refresh_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API void py_acquire_control_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API void py_release_control_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);

AXESIF_API int py_get_axes_num_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API void py_get_axes_actual_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                               double** actual_positions, int axes_num);
AXESIF_API double py_get_axis_actual_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 int axis_id);
AXESIF_API void py_get_axes_actual_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                               double** actual_velocities, int axes_num);
AXESIF_API double py_get_axis_actual_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 int axis_id);
AXESIF_API bool py_get_is_in_error_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API int py_get_axis_error_code_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id);
AXESIF_API void py_get_axis_error_code_as_hex_string_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                        int axis_id, char* error_hex_string);
AXESIF_API void py_get_axis_error_string_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id,
                                            char* error_string);

AXESIF_API void py_move_axes_to_absolute_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                            Axes_Manager_Target_Position* target_positions,
                                                            int axes_num);
AXESIF_API void py_move_axis_to_absolute_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                            Axes_Manager_Target_Position target_positions, int axis_id);
AXESIF_API void py_move_axes_to_relative_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                            Axes_Manager_Target_Position* target_positions,
                                                            int axes_num);
AXESIF_API void py_move_axis_to_relative_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                            Axes_Manager_Target_Position target_position, int axis_id);
AXESIF_API void py_move_axes_to_target_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                   Axes_Manager_Target_Velocity* target_velocities, int axes_num);
AXESIF_API void py_move_axis_to_target_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                   Axes_Manager_Target_Velocity target_velocity, int axis_id);
AXESIF_API void py_do_axes_homing_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                     Axes_Manager_Homing* homing_parameters, int axes_num);
AXESIF_API void py_do_axis_homing_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                     Axes_Manager_Homing homing_parameters, int axis_id);
AXESIF_API void py_reset_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API void py_perform_quickstop_for_all_axes_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API void py_perform_detorque_for_all_axes_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);
AXESIF_API bool py_is_last_command_completed(Axes_Manager_Interface* am_iface, uint32_t* error_occurred);

}  // extern "C"
