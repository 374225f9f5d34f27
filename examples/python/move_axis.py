#!/usr/bin/env python3
"""Resets the axes of an axes manager, homes axis 0, moves it and prints its
position, through libaxesif.so and libframeshm.so with ctypes.

    python3 move_axis.py [--frameshm PATH] [--axesif PATH] [--manager N] [--target UNITS]

Runs against a framework where axmand serves the manager (scripts/demo shows
one: rtframe -o, drivesim and axmand on examples/axmand/schneider.xml).
"""
import argparse
import ctypes
import sys
import time
from ctypes import POINTER, Structure, byref, c_bool, c_char_p, c_double, c_int, c_int8, c_uint, c_uint32, c_void_p


class Target_Position(Structure):  # Axes_Manager_Target_Position
    _fields_ = [("position", c_double), ("velocity", c_double), ("acceleration", c_double)]


class Homing(Structure):  # Axes_Manager_Homing
    _fields_ = [("method", c_int8), ("zero_search_velocity", c_double), ("switch_search_velocity", c_double),
                ("acceleration", c_double)]


arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("--frameshm", default="libframeshm.so")
arguments.add_argument("--axesif", default="libaxesif.so")
arguments.add_argument("--manager", type=int, default=0)
arguments.add_argument("--target", type=float, default=10.0)
options = arguments.parse_args()

HANDLE, SLOT = c_void_p, POINTER(c_uint32)
shm = ctypes.CDLL(options.frameshm)
shm.py_framework_manager_new.restype = HANDLE
shm.py_framework_manager_new.argtypes = [SLOT]
shm.py_init.argtypes = [HANDLE, SLOT, c_char_p, c_int, c_int]
shm.py_refresh_data.argtypes = [HANDLE, SLOT, POINTER(c_uint32)]

ax = ctypes.CDLL(options.axesif)
ax.py_get_error_string.argtypes = [c_uint, c_char_p]
ax.py_axes_manager_interface_new.restype = HANDLE
ax.py_axes_manager_interface_new.argtypes = [SLOT, c_int]
for name in ("py_refresh_ex", "py_acquire_control_ex", "py_reset_ex", "py_perform_quickstop_for_all_axes_ex"):
    getattr(ax, name).argtypes = [HANDLE, SLOT]
ax.py_setup_ex.argtypes = [HANDLE, SLOT, HANDLE]
ax.py_is_last_command_completed.restype = c_bool
ax.py_is_last_command_completed.argtypes = [HANDLE, SLOT]
ax.py_get_is_in_error_ex.restype = c_bool
ax.py_get_is_in_error_ex.argtypes = [HANDLE, SLOT]
ax.py_do_axis_homing_ex.argtypes = [HANDLE, SLOT, Homing, c_int]
ax.py_move_axis_to_absolute_target_position_ex.argtypes = [HANDLE, SLOT, Target_Position, c_int]
ax.py_get_axis_actual_position_ex.restype = c_double
ax.py_get_axis_actual_position_ex.argtypes = [HANDLE, SLOT, c_int]

error = c_uint32(0)


def check(library=ax):
    if error.value != 0:
        message = ctypes.create_string_buffer(1000)
        library.py_get_error_string(error.value, message)
        sys.exit("error: " + message.value.decode())


def cycle():
    """One framework cycle, then the interface's refresh."""
    shm.py_refresh_data(manager, byref(error), None); check(shm)
    ax.py_refresh_ex(axes, byref(error)); check()


def run(what, send, *arguments, limit_s=30.0):
    """Sends a command and cycles until the manager has completed it."""
    send(axes, byref(error), *arguments); check()
    deadline = time.monotonic() + limit_s
    while True:
        cycle()
        done = ax.py_is_last_command_completed(axes, byref(error)); check()
        if done:
            break
        if time.monotonic() > deadline:
            sys.exit("error: %s did not complete" % what)
    if ax.py_get_is_in_error_ex(axes, byref(error)):
        sys.exit("error: %s refused, the manager is in error" % what)
    print(what, "done", flush=True)


ax.py_init_mutex()
shm.py_init_mutex()
manager = shm.py_framework_manager_new(byref(error)); check(shm)
shm.py_init(manager, byref(error), b"move_axis", 4, 1); check(shm)
axes = ax.py_axes_manager_interface_new(byref(error), options.manager); check()
ax.py_setup_ex(axes, byref(error), manager); check()
ax.py_acquire_control_ex(axes, byref(error)); check()
cycle()

run("reset", ax.py_reset_ex)
run("homing", ax.py_do_axis_homing_ex, Homing(35, 10.0, 20.0, 1000.0), 0)
run("move to %g" % options.target, ax.py_move_axis_to_absolute_target_position_ex,
    Target_Position(options.target, 100.0, 1000.0), 0)
position = ax.py_get_axis_actual_position_ex(axes, byref(error), 0); check()
print("position = %.3f" % position)
