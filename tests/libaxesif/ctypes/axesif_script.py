"""libaxesif.so seen by a Python script through ctypes, for the script tests.

The signatures of the 29 py_ functions and the motion records, and a cell of
real processes (rtframe -o, drivesim, axmand) with this script as the
manager's client. Paths come from the environment that CMake gives the tests:
AXESIF_LIBRARY, FRAMESHM_LIBRARY, RTFRAME_BINARY, FRAMESHM_SCRIPT_SUPPORT,
AXMAND_BINARY, DRIVESIM_BINARY, CELL_SOURCE_DIR.
"""

import ctypes
import os
import subprocess
import sys
import time
from ctypes import (POINTER, Structure, byref, c_bool, c_char_p, c_double, c_int, c_int8, c_uint, c_uint32,
                    c_void_p)

sys.path.insert(0, os.path.join(os.environ["CELL_SOURCE_DIR"], "tests", "libframeshm", "ctypes"))
import frameshm_script  # noqa: E402  (rtframe as a child, the framework library's signatures)
import script_handle  # noqa: E402  (on the path frameshm_script gives)
from script_handle import ERROR_STRING_MAX_LENGTH, RING_SIZE, UNTOUCHED_SLOT  # noqa: E402,F401

HANDLE = c_void_p
SLOT = POINTER(c_uint32)


class Target_Position(Structure):
    _fields_ = [("position", c_double), ("velocity", c_double), ("acceleration", c_double)]


class Target_Velocity(Structure):
    _fields_ = [("velocity", c_double), ("acceleration", c_double)]


class Homing(Structure):
    _fields_ = [("method", c_int8), ("zero_search_velocity", c_double), ("switch_search_velocity", c_double),
                ("acceleration", c_double)]


SIGNATURES = {
    "py_init_mutex": (c_int, []),
    "py_get_error_string_max_length": (c_int, []),
    "py_get_error_string": (None, [c_uint, c_char_p]),
    "py_axes_manager_interface_new": (HANDLE, [SLOT, c_int]),
    "py_setup_ex": (None, [HANDLE, SLOT, HANDLE]),
    "py_refresh_ex": (None, [HANDLE, SLOT]),
    "py_acquire_control_ex": (None, [HANDLE, SLOT]),
    "py_release_control_ex": (None, [HANDLE, SLOT]),
    "py_get_axes_num_ex": (c_int, [HANDLE, SLOT]),
    "py_get_axes_actual_position_ex": (None, [HANDLE, SLOT, POINTER(POINTER(c_double)), c_int]),
    "py_get_axis_actual_position_ex": (c_double, [HANDLE, SLOT, c_int]),
    "py_get_axes_actual_velocity_ex": (None, [HANDLE, SLOT, POINTER(POINTER(c_double)), c_int]),
    "py_get_axis_actual_velocity_ex": (c_double, [HANDLE, SLOT, c_int]),
    "py_get_is_in_error_ex": (c_bool, [HANDLE, SLOT]),
    "py_get_axis_error_code_ex": (c_int, [HANDLE, SLOT, c_int]),
    "py_get_axis_error_code_as_hex_string_ex": (None, [HANDLE, SLOT, c_int, c_char_p]),
    "py_get_axis_error_string_ex": (None, [HANDLE, SLOT, c_int, c_char_p]),
    "py_move_axes_to_absolute_target_position_ex": (None, [HANDLE, SLOT, POINTER(Target_Position), c_int]),
    "py_move_axis_to_absolute_target_position_ex": (None, [HANDLE, SLOT, Target_Position, c_int]),
    "py_move_axes_to_relative_target_position_ex": (None, [HANDLE, SLOT, POINTER(Target_Position), c_int]),
    "py_move_axis_to_relative_target_position_ex": (None, [HANDLE, SLOT, Target_Position, c_int]),
    "py_move_axes_to_target_velocity_ex": (None, [HANDLE, SLOT, POINTER(Target_Velocity), c_int]),
    "py_move_axis_to_target_velocity_ex": (None, [HANDLE, SLOT, Target_Velocity, c_int]),
    "py_do_axes_homing_ex": (None, [HANDLE, SLOT, POINTER(Homing), c_int]),
    "py_do_axis_homing_ex": (None, [HANDLE, SLOT, Homing, c_int]),
    "py_reset_ex": (None, [HANDLE, SLOT]),
    "py_perform_quickstop_for_all_axes_ex": (None, [HANDLE, SLOT]),
    "py_perform_detorque_for_all_axes_ex": (None, [HANDLE, SLOT]),
    "py_is_last_command_completed": (c_bool, [HANDLE, SLOT]),
}


def declare(library):
    for name, (restype, argtypes) in SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


_library = None


def library(mode=ctypes.DEFAULT_MODE):
    """libaxesif.so with its signatures declared, loaded once per process."""
    global _library
    if _library is None:
        _library = declare(ctypes.CDLL(os.environ["AXESIF_LIBRARY"], mode=mode))
    return _library


def error_text(slot, lib=None):
    return script_handle.error_text(lib or library(), slot)


class Interface(script_handle.Slot_Handle):
    """One interface handle; every call passes a fresh error slot."""

    def __init__(self, test, handle):
        super().__init__(test, handle, library)

    def failure(self, name, *arguments):
        """The message of a call that must fail."""
        return self.failed_call(name, *arguments)[1]


def new_interface(test, manager=0):
    slot = c_uint32(UNTOUCHED_SLOT)
    handle = library().py_axes_manager_interface_new(byref(slot), manager)
    test.assertEqual(slot.value, 0)
    test.assertIsNotNone(handle)
    return Interface(test, handle)


def example_descriptor(name):
    with open(os.path.join(os.environ["CELL_SOURCE_DIR"], "examples", "axmand", name + ".xml")) as f:
        return f.read()


class Logged_Child:
    """A program of ours as a child process, its output in a log file."""

    def __init__(self, command, log_path):
        self.log_path = log_path
        with open(log_path, "wb") as log:
            self.process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                            env=frameshm_script._without_sanitizer_preload(),
                                            preexec_fn=frameshm_script._stop_with_parent)

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def wait_for(self, text, timeout_s=30, count=1):
        deadline = time.monotonic() + timeout_s
        while self.log().count(text) < count:
            if self.process.poll() is not None:
                raise RuntimeError("%s ended:\n%s" % (self.process.args[0], self.log()))
            if time.monotonic() > deadline:
                raise RuntimeError("%s: no %r in time:\n%s" % (self.process.args[0], text, self.log()))
            time.sleep(0.005)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        return self.process.wait(timeout=60)


class Cell:
    """rtframe -o on a descriptor, drivesim with the given drives and axmand."""

    DESCRIPTOR = "/tmp/axes_descriptor.xml"
    CONTROL = "/tmp/drivesim.ctl"

    def __init__(self, descriptor, drives, axmand=True):
        with open(self.DESCRIPTOR, "w") as f:
            f.write(descriptor)
        self.children = []
        self.rtframe = frameshm_script.Rtframe.start_ready(["-o", "-s", "-c", self.DESCRIPTOR])
        try:
            self.drivesim = None
            if drives:
                command = [os.environ["DRIVESIM_BINARY"], "-c", self.DESCRIPTOR, "--control", self.CONTROL]
                for drive in drives:
                    command += ["--drive", drive]
                self.drivesim = Logged_Child(command, "/tmp/drivesim.log")
                self.children.append(self.drivesim)
                self.drivesim.wait_for("[drivesim] running")
            if axmand:
                self.axmand = Logged_Child([os.environ["AXMAND_BINARY"], "-n", "0"], "/tmp/axmand.log")
                self.children.append(self.axmand)
                self.axmand.wait_for("[axes manager] init cyclic thread --> done")
        except Exception:
            self.stop()
            raise

    def drive(self, command):
        """A command line to drivesim; waits until it is done."""
        done = "[drivesim] done :: " + command
        before = self.drivesim.log().count(done)
        with open(self.CONTROL, "w") as pipe:
            pipe.write(command + "\n")
        self.drivesim.wait_for(done, 5, before + 1)

    def stop(self):
        """Stops every child; their exit statuses, the server's last."""
        statuses = [child.stop() for child in reversed(self.children)]
        statuses.append(self.rtframe.stop())
        return statuses


class Client:
    """The framework manager (through libframeshm's py_ functions) and an
    axes-manager interface on it, in the calling order of the script interface."""

    def __init__(self, test, manager=0):
        self.test = test
        shm = frameshm_script.library()
        self.shm = shm
        test.assertEqual(library().py_init_mutex(), 0)
        self.manager = frameshm_script.new_manager(test, "axesif_script")
        self.axes = new_interface(test, manager)
        self.axes.ok("py_setup_ex", self.manager.handle)
        self.axes.ok("py_acquire_control_ex")
        self.cycle()

    def cycle(self):
        self.manager.refresh()
        self.axes.ok("py_refresh_ex")

    def cycle_until(self, done, timeout_s=20):
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            self.cycle()
            if done():
                return True
        return False

    def run(self, name, *arguments, timeout_s=20):
        """Sends a command and cycles until it completes; fails the test otherwise."""
        self.axes.ok(name, *arguments)
        if not self.cycle_until(lambda: self.axes.ok("py_is_last_command_completed"), timeout_s):
            self.test.fail("%s did not complete" % name)
