"""Conventions of the script interface without a server: the error ring, the
type names, null handles and arguments. Each class runs in its own process
(see CMakeLists.txt), so Error_Ring_From_Load sees the ring as loaded."""

import collections
import ctypes
import threading
import unittest
from ctypes import byref, c_uint32

from frameshm_script import (ERROR_STRING_MAX_LENGTH, RING_SIZE, TYPE_NAME_BUFFER_SIZE,
                             UNTOUCHED_SLOT, Manager, check_slot, error_text, library, new_manager)

INVALID_INDEX_TEXT = "invalid index given to py_get_error_string"
NOT_RECOGNIZED_TEXT = "required type name not recognized"
NULL_HANDLE_TEXT = "[xelo_shm_manager_ctypes] memory_manager handle is null"


def type_name_failure(type_value):
    """Slot of a failed py_get_type_name_from_type_id; its message names type_value."""
    slot = c_uint32(UNTOUCHED_SLOT)
    library().py_get_type_name_from_type_id(byref(slot), type_value, ctypes.create_string_buffer(64))
    return slot.value


def raw_error_string(index, size=ERROR_STRING_MAX_LENGTH + 100):
    """The whole buffer after py_get_error_string, prefilled with 0xAA."""
    buffer = ctypes.create_string_buffer(b"\xaa" * size, size)
    library().py_get_error_string(index, buffer)
    return buffer.raw


class Error_Ring_From_Load(unittest.TestCase):
    def test_slots_count_from_one_and_wrap_after_twenty(self):
        self.assertEqual(library().py_init_mutex(), 0)
        slots = [type_name_failure(100 + n) for n in range(RING_SIZE + 1)]
        self.assertEqual(slots, list(range(1, RING_SIZE + 1)) + [1])
        self.assertIn("type id 120 not recognized", error_text(1))  # the 21st replaced the 1st
        self.assertIn("type id 101 not recognized", error_text(2))
        self.assertIn("type id 119 not recognized", error_text(20))

        slot = c_uint32(UNTOUCHED_SLOT)
        self.assertEqual(library().py_get_value_of_type(byref(slot), b"PY_INT8"), 1)
        self.assertEqual(slot.value, 0)
        self.assertIn("type id 120 not recognized", error_text(1))  # reading and success clear nothing


class Error_Ring(unittest.TestCase):
    def test_texts_are_zero_filled_to_the_buffer_size_and_never_beyond(self):
        slot = c_uint32()
        library().py_get_value_of_type(byref(slot), b"nope")
        cases = [(slot.value, NOT_RECOGNIZED_TEXT)] + [(index, INVALID_INDEX_TEXT)
                                                       for index in (0, RING_SIZE + 1, 0xFFFFFFFF)]
        for index, text in cases:
            with self.subTest(index=index):
                raw = raw_error_string(index)
                expected = text.encode() + b"\0" * (ERROR_STRING_MAX_LENGTH - len(text))
                self.assertEqual(raw[:ERROR_STRING_MAX_LENGTH], expected)
                self.assertEqual(raw[ERROR_STRING_MAX_LENGTH:], b"\xaa" * 100)

    def test_a_null_buffer_is_left_alone(self):
        library().py_get_error_string(1, None)

    def test_failures_of_concurrent_threads_take_every_slot_in_turn(self):
        threads_count, failures_each = 8, 100 * RING_SIZE
        slots = collections.Counter()
        lock = threading.Lock()

        def fail_repeatedly():
            mine = [type_name_failure(500) for _ in range(failures_each)]
            with lock:
                slots.update(mine)

        threads = [threading.Thread(target=fail_repeatedly) for _ in range(threads_count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        share = threads_count * failures_each // RING_SIZE
        self.assertEqual(slots, collections.Counter({n: share for n in range(1, RING_SIZE + 1)}))

    def test_buffer_size_offered_to_scripts(self):
        self.assertEqual(library().py_get_error_string_max_length(None), ERROR_STRING_MAX_LENGTH)


class Type_Names(unittest.TestCase):
    CODES = [("PY_UNDEFINED_TYPE", -1, "undefined_type"), ("PY_BIT", 0, "bit"), ("PY_INT8", 1, "int8"),
             ("PY_UINT8", 2, "uint8"), ("PY_INT16", 3, "int16"), ("PY_UINT16", 4, "uint16"),
             ("PY_INT32", 5, "int32"), ("PY_UINT32", 6, "uint32"), ("PY_DOUBLE", 7, "double"),
             ("PY_BYTE_ARRAY", 8, "uint8_array[0..n]"), ("PY_INT64", 9, "int64"), ("PY_UINT64", 10, "uint64"),
             ("PY_FLOAT", 11, "float")]

    def test_names_give_their_codes_and_codes_their_type_names(self):
        for script_name, code, type_name in self.CODES:
            with self.subTest(script_name):
                slot = c_uint32(UNTOUCHED_SLOT)
                self.assertEqual(library().py_get_value_of_type(byref(slot), script_name.encode()), code)
                self.assertEqual(slot.value, 0)
                slot.value = UNTOUCHED_SLOT
                buffer = ctypes.create_string_buffer(b"\xaa" * TYPE_NAME_BUFFER_SIZE, TYPE_NAME_BUFFER_SIZE)
                library().py_get_type_name_from_type_id(byref(slot), code, buffer)
                self.assertEqual(slot.value, 0)
                self.assertEqual(buffer.value.decode(), type_name)

    def test_unknown_names_are_refused(self):
        for name in (b"py_int8", b"PY_INT8 ", b"", None):
            with self.subTest(name):
                slot = c_uint32(UNTOUCHED_SLOT)
                self.assertEqual(library().py_get_value_of_type(byref(slot), name), -1)
                self.assertEqual(check_slot(self, slot.value, "py_get_value_of_type"), NOT_RECOGNIZED_TEXT)

    def test_unknown_code_leaves_the_buffer(self):
        for code in (12, -2):
            with self.subTest(code):
                slot = c_uint32(UNTOUCHED_SLOT)
                buffer = ctypes.create_string_buffer(b"kept", TYPE_NAME_BUFFER_SIZE)
                library().py_get_type_name_from_type_id(byref(slot), code, buffer)
                self.assertIn("type id %d not recognized" % code,
                              check_slot(self, slot.value, "py_get_type_name_from_type_id"))
                self.assertEqual(buffer.value, b"kept")

    def test_null_type_name_buffer_is_refused(self):
        slot = c_uint32(UNTOUCHED_SLOT)
        library().py_get_type_name_from_type_id(byref(slot), 0, None)
        self.assertIn("type_string is null", check_slot(self, slot.value, "py_get_type_name_from_type_id"))


class Without_Server(unittest.TestCase):
    # function, further arguments, result on error
    DEFAULTS = [
        ("py_get_input_total_number", (), 0xFFFFFFFF),
        ("py_get_output_total_number", (), 0xFFFFFFFF),
        ("py_get_input_id", (b"v_u8",), -1),
        ("py_get_output_rw_id", (b"v_u8", 0), -1),
        ("py_has_input", (b"v_u8",), -1),
        ("py_get_input_type", (0,), -1),
        ("py_get_output_dim", (10000, 0), 0xFFFFFFFF),
        ("py_get_output_group", (10000, 0), -1),
        ("py_try_acquire_output_group", (7,), -1),
        ("py_get_input_int32_t", (0,), 0),
        ("py_get_output_uint64_t", (10000,), 0),
        ("py_get_input_double_t", (0,), 0.0),
        ("py_get_master_cycle_time_ns", (), 0),
        ("py_refresh_data", (None,), 0),
        ("py_set_output_uint8_t", (10000, 1), None),
        ("py_turn_on_watchdog", (), None),
    ]

    def test_a_null_handle_fails_every_call_with_its_default(self):
        null = Manager(self, None)
        for name, arguments, default in self.DEFAULTS:
            with self.subTest(name):
                result, text = null.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertEqual(text, NULL_HANDLE_TEXT)
        for name, fallback in (("py_get_input_label", "id_not_valid"), ("py_get_output_label", "id not valid")):
            with self.subTest(name):
                label, slot = null.label(name, 0)
                self.assertEqual((label, check_slot(self, slot, name)), (fallback, NULL_HANDLE_TEXT))

    def test_without_a_server_the_attach_fails_and_nothing_answers(self):
        manager = new_manager(self)
        _, text = manager.failure("py_init", b"no_server", 4, 1)
        self.assertEqual(text, "Failed to shmem_open No such file or directory")
        self.assertEqual(manager.failure("py_get_master_cycle_time_ns"),
                         (0, "[Framework_Shared_Memory_Manager][get_framework_cycle_time_ns_ex] Sorry, init must be "
                             "done!!"))
        result, text = manager.failure("py_get_input_int8_t", 0)
        self.assertEqual(result, 0)
        self.assertIn("Sorry, input id not valid!", text)

    def test_null_texts_and_buffers_are_refused(self):
        manager = new_manager(self)
        cases = [("py_init", (None, 4, 1), "application_name is null"),
                 ("py_get_input_id", (None,), "input_name is null"),
                 ("py_get_output_ro_id", (None,), "output_name is null"),
                 ("py_has_output", (None,), "output_name is null"),
                 ("py_get_input_label", (0, None), "text buffer is null")]
        for name, arguments, text in cases:
            with self.subTest(name):
                self.assertEqual(manager.failure(name, *arguments)[1], "[xelo_shm_manager_ctypes] " + text)

    def test_a_null_error_slot_is_not_written(self):
        self.assertEqual(library().py_get_value_of_type(None, b"nope"), -1)
        self.assertEqual(library().py_get_value_of_type(None, b"PY_FLOAT"), 11)
        self.assertEqual(library().py_get_input_id(None, None, b"v_u8"), -1)
        self.assertIsNotNone(library().py_framework_manager_new(None))


if __name__ == "__main__":
    unittest.main()
