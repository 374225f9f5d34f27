"""libframeshm.so seen by a Python script through ctypes, for the script tests.

The signatures of the py_ functions, a manager handle with its error slot, an
rtframe -o server per test class, and helper processes that talk in lines
(the asynchronous responder, Python peers). Paths come from the environment
that CMake gives the tests: FRAMESHM_LIBRARY, RTFRAME_BINARY,
FRAMESHM_SCRIPT_SUPPORT, FRAMESHM_ASYNC_RESPONDER.
"""

import ctypes
import mmap
import os
import select
import signal
import subprocess
import struct
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
from ctypes import (POINTER, byref, c_char_p, c_double, c_float, c_int, c_int8, c_int16, c_int32, c_int64,
                    c_uint, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p)

sys.path.insert(0, os.path.join(os.environ["CELL_SOURCE_DIR"], "tests", "python"))
import script_handle  # noqa: E402  (the handle with its error slot, shared with the axesif scripts)
from script_handle import ERROR_STRING_MAX_LENGTH, RING_SIZE, UNTOUCHED_SLOT  # noqa: E402,F401

HANDLE = c_void_p
SLOT = POINTER(c_uint32)
BYTES = POINTER(c_uint8)
TYPE_CODE = c_int32
BOOL = c_uint8
HEADER_VERSION = (4, 1)
LIST_STRING_MAX_LENGTH = 10000
LABEL_BUFFER_SIZE = 500
TYPE_NAME_BUFFER_SIZE = 32

# The script type of each cyclic value family, by name suffix.
VALUE_TYPES = {
    "bit_t": c_uint8, "int8_t": c_int8, "uint8_t": c_uint8, "int16_t": c_int16, "uint16_t": c_uint16,
    "int32_t": c_int32, "uint32_t": c_uint32, "int64_t": c_int64, "uint64_t": c_uint64,
    "float_t": c_float, "double_t": c_double,
}

# The script type of each asynchronous value family, by name suffix.
ASYNC_VALUE_TYPES = {
    "int8_t": c_int8, "uint8_t": c_uint8, "int16_t": c_int16, "uint16_t": c_uint16,
    "int32_t": c_int32, "uint32_t": c_uint32,
}

# The script type of each data-group and command-channel value family, by
# name suffix.
DATA_VALUE_TYPES = {
    "int8": c_int8, "uint8": c_uint8, "int16": c_int16, "uint16": c_uint16, "int32": c_int32,
    "uint32": c_uint32, "int64": c_int64, "uint64": c_uint64, "float": c_float, "double": c_double,
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
        # asynchronous variables
        "py_get_async_input_total_number": (c_uint, [HANDLE, SLOT]),
        "py_get_async_output_total_number": (c_uint, [HANDLE, SLOT]),
        "py_get_async_input_id": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_get_async_output_id": (c_int, [HANDLE, SLOT, c_char_p]),
        "py_get_async_input_type": (TYPE_CODE, [HANDLE, SLOT, c_int]),
        "py_get_async_output_type": (TYPE_CODE, [HANDLE, SLOT, c_int]),
        "py_refresh_async_input": (None, [HANDLE, SLOT, c_int]),
        "py_is_async_input_refresh": (c_uint8, [HANDLE, SLOT, c_int]),
        "py_is_async_output_set": (c_uint8, [HANDLE, SLOT, c_int]),
        # data groups
        "py_get_sem_data_group_read_id": (c_uint, [HANDLE, SLOT, c_char_p]),
        "py_get_sem_data_group_write_id": (c_uint, [HANDLE, SLOT, c_char_p, BOOL]),
        "py_get_sem_data_group_name_from_id": (None, [HANDLE, SLOT, c_int, c_char_p]),
        "py_try_acquire_sem_data_group": (BOOL, [HANDLE, SLOT, c_int]),
        "py_release_sem_data_group": (None, [HANDLE, SLOT, c_int]),
        "py_post_sem_data_group": (None, [HANDLE, SLOT, c_int]),
        "py_wait_sem_data_group": (BOOL, [HANDLE, SLOT, c_int, c_double, c_int]),
        "py_get_sem_data_group_ring_buffer_slot_number": (c_int, [HANDLE, SLOT, c_int]),
        "py_insert_ring_buffer_slot": (None, [HANDLE, SLOT, c_int]),
        "py_get_ring_buffer_next_slot": (BOOL, [HANDLE, SLOT, c_int, POINTER(c_int8)]),
        "py_clear_ring_buffer": (None, [HANDLE, SLOT, c_int]),
        "py_get_sem_data_group_data_id": (c_int, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_label_sem_data_group_data_from_id": (None, [HANDLE, SLOT, c_char_p, c_int, c_char_p]),
        "py_get_sem_data_group_data_type": (TYPE_CODE, [HANDLE, SLOT, c_int, c_int]),
        "py_get_sem_data_group_data_dim": (c_uint, [HANDLE, SLOT, c_int, c_int]),
        "py_get_sem_data_group_data_byte_array_dim": (c_int, [HANDLE, SLOT, c_int, c_int]),
        "py_get_sem_data_group_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_uint]),
        "py_set_sem_data_group_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_uint]),
        # command channels
        "py_get_cmd_channel_id_as_client": (c_uint, [HANDLE, SLOT, c_char_p]),
        "py_get_cmd_channel_id_as_server": (c_uint, [HANDLE, SLOT, c_char_p]),
        "py_try_acquire_cmd_as_client": (BOOL, [HANDLE, SLOT, c_int]),
        "py_try_acquire_cmd_as_server": (BOOL, [HANDLE, SLOT, c_int]),
        "py_release_cmd_as_client": (None, [HANDLE, SLOT, c_int]),
        "py_release_cmd_as_server": (None, [HANDLE, SLOT, c_int]),
        "py_is_server_waiting_for_command": (BOOL, [HANDLE, SLOT, c_int]),
        "py_send_cmd": (None, [HANDLE, SLOT, c_int]),
        "py_send_cmd_and_wait_answer": (None, [HANDLE, SLOT, c_int]),
        "py_wait_answer": (BOOL, [HANDLE, SLOT, c_int, c_double]),
        "py_wait_cmd": (BOOL, [HANDLE, SLOT, c_int, c_double]),
        "py_send_answer": (None, [HANDLE, SLOT, c_int]),
        "py_clear_cmd_from_client": (None, [HANDLE, SLOT, c_int]),
        "py_get_cmd_data_id_to_send": (c_uint, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_cmd_data_id_to_recv": (c_uint, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_send_data_type": (TYPE_CODE, [HANDLE, SLOT, c_int, c_int]),
        "py_get_recv_data_type": (TYPE_CODE, [HANDLE, SLOT, c_int, c_int]),
        "py_set_cmd_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_uint]),
        "py_set_answ_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_uint]),
        "py_get_cmd_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_int]),
        "py_get_answ_data_byte_array": (None, [HANDLE, SLOT, c_int, c_int, BYTES, c_int, c_uint]),
        "py_get_cmd_data_byte_array_dim_as_client": (c_int, [HANDLE, SLOT, c_int, c_int]),
        "py_get_cmd_data_byte_array_dim_as_server": (c_int, [HANDLE, SLOT, c_int, c_int]),
        "py_get_answ_data_byte_array_dim_as_client": (c_int, [HANDLE, SLOT, c_int, c_int]),
        "py_get_answ_data_byte_array_dim_as_server": (c_int, [HANDLE, SLOT, c_int, c_int]),
        "py_get_list_cmd_send_data_args": (None, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_list_cmd_recv_data_args": (None, [HANDLE, SLOT, c_int, c_char_p]),
        "py_get_cmd_data_args_max_string_length": (c_int, []),
    }
    for suffix, script_type in VALUE_TYPES.items():
        set_id_type = c_uint if suffix == "int32_t" else c_int
        signatures["py_get_input_" + suffix] = (script_type, [HANDLE, SLOT, c_int])
        signatures["py_get_output_" + suffix] = (script_type, [HANDLE, SLOT, c_int])
        signatures["py_set_output_" + suffix] = (None, [HANDLE, SLOT, set_id_type, script_type])
    for suffix, script_type in ASYNC_VALUE_TYPES.items():
        signatures["py_get_async_input_" + suffix] = (script_type, [HANDLE, SLOT, c_int])
        signatures["py_set_async_output_" + suffix] = (None, [HANDLE, SLOT, c_int, script_type])
    for suffix, script_type in DATA_VALUE_TYPES.items():
        signatures["py_get_sem_data_group_data_" + suffix] = (script_type, [HANDLE, SLOT, c_int, c_int])
        signatures["py_set_sem_data_group_data_" + suffix] = (None, [HANDLE, SLOT, c_int, c_int, script_type])
        for direction in ("cmd", "answer"):
            signatures["py_set_%s_data_%s" % (direction, suffix)] = (None, [HANDLE, SLOT, c_int, c_int, script_type])
            signatures["py_get_%s_data_%s" % (direction, suffix)] = (script_type, [HANDLE, SLOT, c_int, c_int])
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
    return script_handle.error_text(library(), slot)


def check_slot(test, slot, name):
    """Asserts that slot names a ring entry and returns its message."""
    return script_handle.check_slot(test, library(), slot, name)


class Manager(script_handle.Slot_Handle):
    """One manager handle; every call passes a fresh error slot."""

    def __init__(self, test, handle):
        super().__init__(test, handle, library)

    def failure(self, name, *arguments):
        """(result, message) of a call that must fail."""
        return self.failed_call(name, *arguments)

    def label(self, name, *arguments, size=LABEL_BUFFER_SIZE):
        """(text, slot) of a function that fills a text buffer of size bytes, given after the arguments."""
        buffer = ctypes.create_string_buffer(b"\xaa" * size, size)
        _, slot = self.call(name, *arguments, buffer)
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


def write_descriptor(slots, options=()):
    """Writes the test descriptor (see tests/libframeshm/test_descriptor.h); its path.

    options: with_channel, with_value_types, trace_slots=N."""
    return _support("descriptor", str(slots), *options)[0]


def default_in_file(path, label):
    for element in ElementTree.parse(path).iter("virtual_io"):
        if element.get("name_virtual") == label:
            return element.get("default_value")
    return None


def _stop_with_parent():
    """In the child: SIGTERM when the test process ends, however it ends."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGTERM, 0, 0, 0)


def _without_sanitizer_preload():
    """The environment for a sanitized program of ours: the preload and the
    options that let a sanitized library load into python are not for it."""
    return {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}


class Peer:
    """A helper process that answers in lines on its standard output, reads
    lines on its standard input, and dies with the test process."""

    def __init__(self, command, environment=None):
        self._errors = tempfile.TemporaryFile()
        self._error_text = None  # kept when the process has been stopped
        self._pending = b""
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self._errors, env=environment, bufsize=0,
                                        preexec_fn=_stop_with_parent)

    def line(self, timeout_s=30):
        """The next line, without its newline."""
        deadline = time.monotonic() + timeout_s
        while b"\n" not in self._pending:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self.process.stdout], [], [], remaining)[0]:
                raise TimeoutError("%s said nothing in %g s\n%s" % (self.process.args[0], timeout_s, self.errors()))
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                self.process.wait(timeout=30)
                raise RuntimeError("%s ended with status %s\n%s" % (self.process.args[0], self.process.returncode,
                                                                      self.errors()))
            self._pending += chunk
        line, _, self._pending = self._pending.partition(b"\n")
        return line.decode()

    def tell(self, text):
        self.process.stdin.write(text.encode() + b"\n")

    def ask(self, text):
        self.tell(text)
        return self.line()

    def stop(self, timeout_s=60):
        """Ends the input and waits; the exit status. A process that does not
        end in time is terminated, and the time-out raised."""
        if not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            return self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            self.process.terminate()
            self.process.wait(timeout=30)
            raise
        finally:
            self.process.stdout.close()
            self._error_text = self.errors()
            self._errors.close()

    def errors(self):
        """What the process wrote on its standard error."""
        if self._error_text is None:
            self._errors.seek(0)
            return self._errors.read().decode(errors="replace")
        return self._error_text


def start_responder(*settings):
    """The asynchronous responder (sim/async_responder/main.cpp),
    serving once it said so; settings as "LABEL:SETTING,..."."""
    responder = Peer([os.environ["FRAMESHM_ASYNC_RESPONDER"], *settings], _without_sanitizer_preload())
    try:
        ready = responder.line()
    except Exception:
        responder.stop()
        raise
    if ready != "ready":
        responder.stop()
        raise RuntimeError("responder said %r" % ready)
    return responder


def start_python_peer(script, *arguments):
    """A Python script of this folder as a separate process, with this process's environment."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), script)
    return Peer([sys.executable, path, *arguments])


class Rtframe:
    """rtframe as a child process, its output in /tmp/rtframe.log."""

    LOG = "/tmp/rtframe.log"

    def __init__(self, arguments, cwd=None):
        with open(self.LOG, "wb") as log:
            self.process = subprocess.Popen([os.environ["RTFRAME_BINARY"], *arguments], stdout=log,
                                            stderr=subprocess.STDOUT, cwd=cwd, env=_without_sanitizer_preload(),
                                            preexec_fn=_stop_with_parent)

    # Logged when the server arms its tick timer. In master-offline mode that
    # comes 2 s after ready_to_start: a first refresh started in between would
    # time out at the same moment as the first tick comes.
    CYCLING = "make_periodic"

    def wait_ready(self, timeout_s=30):
        """Waits until the server is ready and cycles."""
        size, offset = (int(n) for n in _support("info_layout"))
        deadline = time.monotonic() + timeout_s
        while self._ready_to_start(size, offset) != 1 or self.CYCLING not in self.log():
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

    @classmethod
    def start_ready(cls, arguments, cwd=None):
        """A server started and waited for; stopped again when it is not ready."""
        server = cls(arguments, cwd=cwd)
        try:
            server.wait_ready()
        except Exception:
            server.stop()
            raise
        return server

    def stop_cleanly(self):
        """SIGTERM; raises AssertionError, with the log, unless the exit status is 0."""
        status = self.stop()
        if status != 0:
            raise AssertionError("rtframe exit status %d\n%s" % (status, self.log()))

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
    descriptor_options = ()

    @classmethod
    def setUpClass(cls):
        library().py_init_mutex()
        cls.descriptor = write_descriptor(cls.slots, cls.descriptor_options)
        cls.server = Rtframe.start_ready(["-o", "-s", "-c", cls.descriptor])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop_cleanly()

    def attach(self, name):
        return new_manager(self, name)

    def refresh_until(self, manager, arrived, limit=500):
        """Refreshes until arrived() holds (a written output comes back as input)."""
        for _ in range(limit):
            if arrived():
                return
            self.assertGreaterEqual(manager.refresh(), 0)
        self.assertTrue(arrived())
