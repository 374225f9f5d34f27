"""libframeshm.so seen by a Python script through ctypes, for the script tests.

The signatures of the py_ functions, a manager handle with its error slot, and
an rtframe -o server per test class. Paths come from the environment that
CMake gives the tests: FRAMESHM_LIBRARY, RTFRAME_BINARY, FRAMESHM_SCRIPT_SUPPORT.
"""

import ctypes
import mmap
import os
import signal
import subprocess
import struct
import time
import unittest
import xml.etree.ElementTree as ElementTree
from ctypes import (POINTER, byref, c_char_p, c_double, c_float, c_int, c_int8, c_int16, c_int32, c_int64,
                    c_uint, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p)

HANDLE = c_void_p
SLOT = POINTER(c_uint32)
BYTES = POINTER(c_uint8)
HEADER_VERSION = (4, 1)
ERROR_STRING_MAX_LENGTH = 1000
LABEL_BUFFER_SIZE = 500
TYPE_NAME_BUFFER_SIZE = 32
RING_SIZE = 20
UNTOUCHED_SLOT = 0xDEAD

# The script type of each cyclic value family, by name suffix.
VALUE_TYPES = {
    "bit_t": c_uint8, "int8_t": c_int8, "uint8_t": c_uint8, "int16_t": c_int16, "uint16_t": c_uint16,
    "int32_t": c_int32, "uint32_t": c_uint32, "int64_t": c_int64, "uint64_t": c_uint64,
    "float_t": c_float, "double_t": c_double,
}


def _signatures():
    signatures = {
        "py_init_mutex": (c_int, []),
        "py_framework_manager_new": (HANDLE, [SLOT]),
        "py_init": (None, [HANDLE, SLOT, c_char_p, c_int, c_int]),
        "py_get_error_string": (None, [c_uint, c_char_p]),
        "py_get_error_string_max_length": (c_int, [HANDLE]),
        "py_get_value_of_type": (c_int, [SLOT, c_char_p]),
        "py_get_type_name_from_type_id": (None, [SLOT, c_int, c_char_p]),
        "py_set_refresh_time_ns": (None, [HANDLE, SLOT, c_uint]),
        "py_turn_off_watchdog": (None, [HANDLE, SLOT]),
        "py_turn_on_watchdog": (None, [HANDLE, SLOT]),
        "py_set_watchdog_value": (None, [HANDLE, SLOT, c_int]),
        "py_get_master_cycle_time_ns": (c_uint32, [HANDLE, SLOT]),
        "py_refresh_data": (c_int, [HANDLE, SLOT, POINTER(c_uint32)]),
        "py_refresh_data_and_get_ec_master_state": (c_int, [HANDLE, SLOT, POINTER(c_uint32), POINTER(c_uint8)]),
        "py_save_cfg_file": (None, [HANDLE, SLOT]),
        "py_enable_trace_semaphore": (None, [HANDLE, SLOT]),
        "py_disable_trace_sempahore": (None, [HANDLE, SLOT]),
        "py_get_input_total_number": (c_uint, [HANDLE, SLOT]),
        "py_get_output_total_number": (c_uint, [HANDLE, SLOT]),
        "py_get_input_id": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_get_output_ro_id": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_get_output_rw_id": (c_int, [HANDLE, SLOT, c_char_p, c_uint8]),
        "py_has_input": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_has_output": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_get_input_type": (c_int32, [HANDLE, SLOT, c_int]),
        "py_get_input_group": (c_int, [HANDLE, SLOT, c_int]),
        "py_get_input_dim": (c_uint, [HANDLE, SLOT, c_int]),
        "py_get_input_label": (None, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_output_type": (c_int32, [HANDLE, SLOT, c_int, c_uint8]),
        "py_get_output_group": (c_int, [HANDLE, SLOT, c_int, c_uint8]),
        "py_get_output_dim": (c_uint, [HANDLE, SLOT, c_int, c_uint8]),
        "py_get_output_label": (None, [HANDLE, SLOT, c_int, c_char_p]),
        "py_try_acquire_output_group": (c_int, [HANDLE, SLOT, c_int]),
        "py_release_output_group_control": (None, [HANDLE, SLOT, c_int]),
        "py_set_current_value_as_default_ex": (None, [HANDLE, SLOT, c_int]),
        "py_get_input_byte_array_t": (None, [HANDLE, SLOT, c_int, BYTES, c_int, c_int]),
        "py_get_output_byte_array_t": (None, [HANDLE, SLOT, c_int, BYTES, c_int, c_int]),
        "py_set_output_byte_array_t": (None, [HANDLE, SLOT, c_int, BYTES, c_int, c_int]),
    }
    for suffix, script_type in VALUE_TYPES.items():
        set_id_type = c_uint if suffix == "int32_t" else c_int
        signatures["py_get_input_" + suffix] = (script_type, [HANDLE, SLOT, c_int])
        signatures["py_get_output_" + suffix] = (script_type, [HANDLE, SLOT, c_int])
        signatures["py_set_output_" + suffix] = (None, [HANDLE, SLOT, set_id_type, script_type])
    return signatures


SIGNATURES = _signatures()
_library = None


def library():
    """The library with every known signature declared, loaded once per process."""
    global _library
    if _library is None:
        _library = ctypes.CDLL(os.environ["FRAMESHM_LIBRARY"])
        for name, (restype, argtypes) in SIGNATURES.items():
            function = getattr(_library, name)
            function.restype = restype
            function.argtypes = argtypes
    return _library


def error_text(slot):
    buffer = ctypes.create_string_buffer(ERROR_STRING_MAX_LENGTH)
    library().py_get_error_string(slot, buffer)
    return buffer.value.decode()


def check_slot(test, slot, name):
    """Asserts that slot names a ring entry and returns its message."""
    test.assertTrue(1 <= slot <= RING_SIZE, "%s: slot %d, expected a failure" % (name, slot))
    return error_text(slot)


class Manager:
    """One manager handle; every call passes a fresh error slot."""

    def __init__(self, test, handle):
        self.test = test
        self.handle = handle

    def call(self, name, *arguments):
        """(result, slot) of the function called with the handle and a slot."""
        slot = c_uint32(UNTOUCHED_SLOT)
        result = getattr(library(), name)(self.handle, byref(slot), *arguments)
        return result, slot.value

    def ok(self, name, *arguments):
        result, slot = self.call(name, *arguments)
        if slot != 0:
            self.test.fail("%s failed (slot %d): %s" % (name, slot, error_text(slot) if slot <= RING_SIZE else ""))
        return result

    def failure(self, name, *arguments):
        """(result, message) of a call that must fail."""
        result, slot = self.call(name, *arguments)
        return result, check_slot(self.test, slot, name)

    def label(self, name, variable_id):
        buffer = ctypes.create_string_buffer(b"\xaa" * LABEL_BUFFER_SIZE, LABEL_BUFFER_SIZE)
        _, slot = self.call(name, variable_id, buffer)
        return buffer.value.decode(), slot

    def refresh(self):
        return self.ok("py_refresh_data", None)


def new_manager(test, name=None):
    """A new handle, attached under name when one is given."""
    slot = c_uint32(UNTOUCHED_SLOT)
    handle = library().py_framework_manager_new(byref(slot))
    test.assertEqual(slot.value, 0)
    test.assertIsNotNone(handle)
    manager = Manager(test, handle)
    if name is not None:
        manager.ok("py_init", name.encode(), *HEADER_VERSION)
    return manager


def _support(*arguments):
    return subprocess.run([os.environ["FRAMESHM_SCRIPT_SUPPORT"], *arguments], check=True,
                          stdout=subprocess.PIPE, text=True).stdout.split()


def write_descriptor(slots):
    """Writes the test descriptor (see tests/libframeshm/test_descriptor.h); its path."""
    return _support("descriptor", str(slots))[0]


def default_in_file(path, label):
    for element in ElementTree.parse(path).iter("virtual_io"):
        if element.get("name_virtual") == label:
            return element.get("default_value")
    return None


def _stop_with_parent():
    """In the child: SIGTERM when the test process ends, however it ends."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGTERM, 0, 0, 0)


class Rtframe:
    """rtframe as a child process, its output in /tmp/rtframe.log."""

    LOG = "/tmp/rtframe.log"

    def __init__(self, arguments, cwd=None):
        # The server keeps its own sanitizer defaults: the preload and the
        # options that let a sanitized library load into python are ours.
        environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
        with open(self.LOG, "wb") as log:
            self.process = subprocess.Popen([os.environ["RTFRAME_BINARY"], *arguments], stdout=log,
                                            stderr=subprocess.STDOUT, cwd=cwd, env=environment,
                                            preexec_fn=_stop_with_parent)

    def wait_ready(self, timeout_s=30):
        size, offset = (int(n) for n in _support("info_layout"))
        deadline = time.monotonic() + timeout_s
        while self._ready_to_start(size, offset) != 1:
            if self.process.poll() is not None:
                raise RuntimeError("rtframe ended before it was ready:\n" + self.log())
            if time.monotonic() > deadline:
                raise RuntimeError("rtframe not ready in time:\n" + self.log())
            time.sleep(0.005)

    @staticmethod
    def _ready_to_start(size, offset):
        try:
            with open("/dev/shm/linux_framework_info", "rb") as segment:
                if os.fstat(segment.fileno()).st_size != size:
                    return -1
                with mmap.mmap(segment.fileno(), size, prot=mmap.PROT_READ) as memory:
                    return struct.unpack_from("<I", memory, offset)[0]
        except FileNotFoundError:
            return -1

    def stop(self):
        """SIGTERM; the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=60)

    def log(self):
        with open(self.LOG, errors="replace") as log:
            return log.read()


class Rtframe_Case(unittest.TestCase):
    """One rtframe -o -s on the test descriptor for the whole class.

    Handles are never freed, and each keeps its slot and its descriptor of the
    server's logging queue for the life of the process: one server per class
    keeps one queue per process.
    """

    slots = 10

    @classmethod
    def setUpClass(cls):
        library().py_init_mutex()
        cls.descriptor = write_descriptor(cls.slots)
        cls.server = Rtframe(["-o", "-s", "-c", cls.descriptor])
        try:
            cls.server.wait_ready()
        except Exception:
            cls.server.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        if status != 0:
            raise AssertionError("rtframe exit status %d\n%s" % (status, cls.server.log()))

    def attach(self, name):
        return new_manager(self, name)

    def refresh_until(self, manager, arrived, limit=500):
        """Refreshes until arrived() holds (a written output comes back as input)."""
        for _ in range(limit):
            if arrived():
                return
            self.assertGreaterEqual(manager.refresh(), 0)
        self.assertTrue(arrived())
