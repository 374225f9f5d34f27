"""Data groups through the script interface, against rtframe -o on the test
descriptor: the group "values" with a datum of every value type, "command",
"trace", a ring of 4 slots, and the groups of the channel "axis"
(tests/libframeshm/test_descriptor.h)."""

import ctypes
import threading
import time
import unittest
from ctypes import byref, c_int8

from frameshm_script import DATA_VALUE_TYPES, Rtframe_Case, check_slot

MANAGER = "[Framework_Shared_Memory_Manager]"
INVALID_UNSIGNED = 0xFFFFFFFF
TRACE_SLOTS = 4

# label in "values", script suffix, type code, byte size, a value that shows its type's range
VALUES = [
    ("i8", "int8", 1, 1, -100),
    ("u8", "uint8", 2, 1, 200),
    ("i16", "int16", 3, 2, -30000),
    ("u16", "uint16", 4, 2, 60000),
    ("i32", "int32", 5, 4, -2000000000),
    ("u32", "uint32", 6, 4, 4000000000),
    ("i64", "int64", 9, 8, -9000000000000000000),
    ("u64", "uint64", 10, 8, 18000000000000000000),
    ("f32", "float", 11, 4, -1.25),
    ("f64", "double", 7, 8, 1e300),
]
BYTES_LABEL, BYTES_SIZE, BYTE_ARRAY = "bytes", 12, 8


def byte_array(values, size=None):
    size = len(values) if size is None else size
    return (ctypes.c_uint8 * size)(*values)


class Group_Case(Rtframe_Case):
    descriptor_options = ("with_channel", "with_value_types", "trace_slots=%d" % TRACE_SLOTS)
    slots = 16

    def writer(self, name, group_name):
        """(handle, group id) of a new application that writes the group until the test ends."""
        manager = self.attach(name)
        group = manager.ok("py_get_sem_data_group_write_id", group_name, 0)
        self.addCleanup(manager.call, "py_release_sem_data_group", group)  # unless the test released it
        return manager, group

    def reader(self, name, group_name):
        manager = self.attach(name)
        return manager, manager.ok("py_get_sem_data_group_read_id", group_name)

    def data_ids(self, manager, group):
        return {label: manager.ok("py_get_sem_data_group_data_id", group, label.encode())
                for label in [v[0] for v in VALUES] + [BYTES_LABEL]}


class Directory(Group_Case):
    def test_groups_and_data_by_name(self):
        manager = self.attach("py_group_directory")
        values = manager.ok("py_get_sem_data_group_read_id", b"values")
        trace = manager.ok("py_get_sem_data_group_write_id", b"trace", 1)  # the id only, not the role
        self.assertEqual([manager.label("py_get_sem_data_group_name_from_id", group) for group in (values, trace)],
                         [("values", 0), ("trace", 0)])
        self.assertEqual(manager.ok("py_get_sem_data_group_ring_buffer_slot_number", values), 0)
        self.assertEqual(manager.ok("py_get_sem_data_group_ring_buffer_slot_number", trace), TRACE_SLOTS)
        self.assertEqual(manager.ok("py_try_acquire_sem_data_group", trace), 1)  # the role was left free
        manager.ok("py_release_sem_data_group", trace)

        data = self.data_ids(manager, values)
        self.assertEqual(sorted(data.values()), list(range(len(VALUES) + 1)))
        for label, _, type_code, size, _ in VALUES + [(BYTES_LABEL, None, BYTE_ARRAY, BYTES_SIZE, None)]:
            with self.subTest(label):
                datum = data[label]
                self.assertEqual(manager.label("py_get_label_sem_data_group_data_from_id", b"values", datum),
                                 (label, 0))
                self.assertEqual(manager.ok("py_get_sem_data_group_data_type", values, datum), type_code)
                self.assertEqual(manager.ok("py_get_sem_data_group_data_dim", values, datum), size)
                self.assertEqual(manager.ok("py_get_sem_data_group_data_byte_array_dim", values, datum), size)

    def test_failed_lookups_answer_their_defaults(self):
        manager = self.attach("py_group_lookups")
        values = manager.ok("py_get_sem_data_group_read_id", b"values")
        trace = manager.ok("py_get_sem_data_group_read_id", b"trace")
        beyond = len(VALUES) + 1
        for name, arguments, default, text in (
                ("py_get_sem_data_group_read_id", (b"Values",), 0,
                 MANAGER + "[get_sem_data_group_read_id_ex] Error semaphorize group data not found... Values"),
                ("py_get_sem_data_group_write_id", (b"value", 0), 0,
                 MANAGER + "[get_sem_data_group_write_id_ex] Error semaphorized group data not found... value"),
                ("py_get_sem_data_group_read_id", (None,), 0, "[xelo_shm_manager_ctypes] sem_group_name is null"),
                ("py_get_sem_data_group_data_id", (values, b"nope"), 0,
                 MANAGER + "[get_sem_data_group_data_id] Error : semaphore data label 'nope' does not belong to "
                           "sem_data group 'values"),
                ("py_get_sem_data_group_data_id", (trace, b"framework_abs_tick"), 0,
                 "Error : it is not possible acquire tick master id"),
                ("py_get_sem_data_group_data_id", (values, None), 0, "[xelo_shm_manager_ctypes] data_label is null"),
                ("py_get_sem_data_group_data_type", (values, beyond), -1, "Sem group data_id not valid"),
                ("py_get_sem_data_group_data_dim", (values, beyond), INVALID_UNSIGNED, "Sem group data_id not valid"),
                ("py_get_sem_data_group_data_byte_array_dim", (99, 0), 0, "Sorry, sem group_id not valid!"),
                ("py_get_sem_data_group_ring_buffer_slot_number", (-1,), 0, "Sorry, sem group_id not valid!")):
            with self.subTest(name=name, arguments=arguments):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)

    def test_a_datum_id_of_minus_one_is_no_datum(self):
        manager, values = self.writer("py_group_no_datum", b"values")  # every role the accesses ask for
        manager.ok("py_get_sem_data_group_read_id", b"values")
        for name, arguments, default in (("py_get_sem_data_group_data_type", (values, -1), -1),
                                         ("py_get_sem_data_group_data_dim", (values, -1), INVALID_UNSIGNED),
                                         ("py_get_sem_data_group_data_byte_array_dim", (values, -1), 0),
                                         ("py_get_sem_data_group_data_int8", (values, -1), 0),
                                         ("py_set_sem_data_group_data_double", (values, -1, 1.0), None),
                                         ("py_get_sem_data_group_data_byte_array",
                                          (values, -1, byte_array([], 4), 4, 0), None),
                                         ("py_set_sem_data_group_data_byte_array",
                                          (values, -1, byte_array([1]), 1, 0), None)):
            with self.subTest(name):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn("Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1", message)

    def test_texts_of_bad_ids(self):
        manager = self.attach("py_group_bad_texts")
        for name, arguments, text in (
                ("py_get_sem_data_group_name_from_id", (99,), "Sorry, sem group_id not valid!"),
                ("py_get_label_sem_data_group_data_from_id", (b"values", 11),
                 MANAGER + "[get_label_sem_data_group_data_from_id_ex] Error semaphorize data_found is incorrect "
                           "... 11"),
                ("py_get_label_sem_data_group_data_from_id", (b"nope", 0),
                 MANAGER + "[get_label_sem_data_group_data_from_id_ex] Error semaphorize group data label is "
                           "incorrect ... nope")):
            with self.subTest(name=name, arguments=arguments):
                filled, slot = manager.label(name, *arguments)
                self.assertEqual(filled, "id_not_valid")
                self.assertIn(text, check_slot(self, slot, name))


class Values(Group_Case):
    def test_every_type_reaches_the_reader_with_the_post(self):
        self.assertEqual(sorted(v[1] for v in VALUES), sorted(DATA_VALUE_TYPES))
        writer, group = self.writer("py_values_writer", b"values")
        reader, read_group = self.reader("py_values_reader", b"values")
        self.assertEqual(read_group, group)
        data = self.data_ids(writer, group)
        for label, suffix, _, _, value in VALUES:
            writer.ok("py_set_sem_data_group_data_" + suffix, group, data[label], value)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 5.0, 0), 0)  # not posted yet: time-out
        for label, suffix, _, _, _ in VALUES:
            self.assertEqual(reader.ok("py_get_sem_data_group_data_" + suffix, group, data[label]), 0)

        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        for label, suffix, _, _, value in VALUES:
            with self.subTest(label):
                self.assertEqual(reader.ok("py_get_sem_data_group_data_" + suffix, group, data[label]), value)
                self.assertEqual(writer.ok("py_get_sem_data_group_data_" + suffix, group, data[label]), value)

    def test_byte_arrays_in_slices(self):
        writer, group = self.writer("py_bytes_writer", b"values")
        reader, _ = self.reader("py_bytes_reader", b"values")
        datum = writer.ok("py_get_sem_data_group_data_id", group, BYTES_LABEL.encode())
        writer.ok("py_set_sem_data_group_data_byte_array", group, datum, byte_array([7, 8, 9]), 3, 2)
        writer.ok("py_set_sem_data_group_data_byte_array", group, datum, byte_array([5]), 1, BYTES_SIZE - 1)
        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        whole = byte_array([], BYTES_SIZE)
        reader.ok("py_get_sem_data_group_data_byte_array", group, datum, whole, BYTES_SIZE, 0)
        self.assertEqual(list(whole), [0, 0, 7, 8, 9, 0, 0, 0, 0, 0, 0, 5])
        part = byte_array([0xAA] * 4)
        reader.ok("py_get_sem_data_group_data_byte_array", group, datum, part, 2, 3)
        self.assertEqual(list(part), [8, 9, 0xAA, 0xAA])

    def test_refused_accesses_touch_nothing(self):
        writer, group = self.writer("py_refusing_writer", b"values")
        stranger = self.attach("py_values_stranger")  # neither reads nor writes the group
        data = self.data_ids(writer, group)
        bytes_datum = data[BYTES_LABEL]
        for manager, name, arguments, default, text in (
                (stranger, "py_set_sem_data_group_data_int8", (group, data["i8"], 1), None,
                 "Sem data group not taken by this application"),
                (writer, "py_set_sem_data_group_data_int32", (group, data["i16"], 1), None,
                 "Sorry, size is not correct!!\n\t\t\t given sem_group id:: %d" % group),
                (writer, "py_get_sem_data_group_data_float", (group, data["f64"]), 0.0, "Sorry, size is not correct!!"),
                (writer, "py_get_sem_data_group_data_uint8", (group, 99), 0, "Sem group data_id not valid"),
                (writer, "py_set_sem_data_group_data_uint8", (-1, 0, 1), None, "Sorry, sem group_id not valid!"),
                (writer, "py_get_sem_data_group_data_byte_array", (group, bytes_datum, byte_array([], 4), 4, 0),
                 None, "Sorry, sem_id is not my sem_group_id")):  # the writer does not read the group
            with self.subTest(name=name, arguments=arguments):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)

        reader, _ = self.reader("py_values_array_reader", b"values")
        before = byte_array([], BYTES_SIZE)
        reader.ok("py_get_sem_data_group_data_byte_array", group, bytes_datum, before, BYTES_SIZE, 0)
        # byte_dim, byte_offset (as the unsigned argument carries them), datum, text
        cases = [(2, 0xFFFFFFFF, bytes_datum, "[xelo_shm_manager_ctypes] byte_offset out of range: 4294967295"),
                 (2, 0x80000000, bytes_datum, "[xelo_shm_manager_ctypes] byte_offset out of range: 2147483648"),
                 (0, 0, bytes_datum, "Sorry, size is not correct!!"),
                 (4, 9, bytes_datum, "Sorry, combination size + offset is not correct!!"),
                 (1, BYTES_SIZE, bytes_datum, "Sorry, offset is not correct!!"),
                 (1, 0, data["u8"], "Sorry, sem_data_id type is not BYTE_ARRAY!")]
        for manager, name in ((writer, "py_set_sem_data_group_data_byte_array"),
                              (reader, "py_get_sem_data_group_data_byte_array")):
            for dim, offset, datum, text in cases:
                with self.subTest(name=name, dim=dim, offset=offset, datum=datum):
                    array = byte_array([0x5A] * 16)
                    _, message = manager.failure(name, group, datum, array, dim, offset)
                    self.assertIn(text, message)
                    self.assertEqual(list(array), [0x5A] * 16)
            with self.subTest(name=name, array=None):
                self.assertIn("the byte buffer is null", manager.failure(name, group, bytes_datum, None, 2, 0)[1])
        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        after = byte_array([], BYTES_SIZE)
        reader.ok("py_get_sem_data_group_data_byte_array", group, bytes_datum, after, BYTES_SIZE, 0)
        self.assertEqual(list(after), list(before))

        # A byte-array write needs no writer role: it goes into the stranger's own image.
        stranger.ok("py_set_sem_data_group_data_byte_array", group, bytes_datum, byte_array([1]), 1, 0)


class Posting_And_Waiting(Group_Case):
    def test_time_out_and_failure_are_told_apart_by_the_slot(self):
        reader, group = self.reader("py_wait_reader", b"command")
        stranger = self.attach("py_wait_stranger")
        started = time.monotonic()
        self.assertEqual(reader.call("py_wait_sem_data_group", group, 20.0, 0), (0, 0))
        self.assertGreaterEqual(time.monotonic() - started, 0.015)
        for manager, arguments, text in (
                (reader, (99, 20.0, 0), "Sorry, sem group_id not valid!"),
                (stranger, (group, 20.0, 0), "Error semaphore taken by wrong application ... ")):
            with self.subTest(arguments=arguments):
                result, message = manager.failure("py_wait_sem_data_group", *arguments)
                self.assertEqual(result, 0)
                self.assertIn(text, message)

    def test_a_wait_without_limit_ends_with_the_post(self):
        writer, group = self.writer("py_late_poster", b"command")
        reader, _ = self.reader("py_patient_reader", b"command")
        code = writer.ok("py_get_sem_data_group_data_id", group, b"code")
        writer.ok("py_set_sem_data_group_data_int8", group, code, 42)

        def post_later():
            time.sleep(0.2)
            writer.ok("py_post_sem_data_group", group)

        poster = threading.Thread(target=post_later)
        started = time.monotonic()
        poster.start()
        try:
            self.assertEqual(reader.ok("py_wait_sem_data_group", group, 0.0, 0), 1)
        finally:
            poster.join()
        self.assertGreaterEqual(time.monotonic() - started, 0.15)
        self.assertEqual(reader.ok("py_get_sem_data_group_data_int8", group, code), 42)

    def test_the_writer_role_passes_between_applications(self):
        first = self.attach("py_role_first")
        second = self.attach("py_role_second")
        group = first.ok("py_get_sem_data_group_write_id", b"command", 0)
        self.assertEqual(second.failure("py_get_sem_data_group_write_id", b"command", 0)[0], 0)
        self.assertEqual(second.ok("py_get_sem_data_group_write_id", b"command", 2), group)  # any non-zero byte
        self.assertEqual(second.ok("py_try_acquire_sem_data_group", group), 0)
        self.assertIn("Sem data group not taken by this application",
                      second.failure("py_post_sem_data_group", group)[1])
        self.assertIn("Sem data group not taken by this application",
                      second.failure("py_release_sem_data_group", group)[1])

        first.ok("py_release_sem_data_group", group)
        self.assertEqual(second.ok("py_try_acquire_sem_data_group", group), 1)
        self.assertEqual(first.ok("py_try_acquire_sem_data_group", group), 0)
        second.ok("py_post_sem_data_group", group)
        second.ok("py_release_sem_data_group", group)
        self.assertEqual(second.failure("py_try_acquire_sem_data_group", -1)[0], 0)

    def test_a_lost_writer_is_an_error_only_when_the_reader_asks(self):
        # A script's release of a group is an ordinary one; the server side of a
        # channel gives its answer group up as if its writer were lost.
        writer, group = self.writer("py_plain_releaser", b"command")
        reader, _ = self.reader("py_plain_reader", b"command")
        writer.ok("py_release_sem_data_group", group)
        self.assertEqual(reader.call("py_wait_sem_data_group", group, 20.0, 1), (0, 0))

        channel_server = self.attach("py_lost_writer")
        channel = channel_server.ok("py_get_cmd_channel_id_as_server", b"axis")
        for ack_on_poster_release in (1, 0):
            with self.subTest(ack_on_poster_release=ack_on_poster_release):
                self.assertEqual(channel_server.ok("py_try_acquire_cmd_as_server", channel), 1)
                reader, answers = self.reader("py_lost_reader_%d" % ack_on_poster_release, b"axis_receiver")
                channel_server.ok("py_release_cmd_as_server", channel)
                started = time.monotonic()
                result, slot = reader.call("py_wait_sem_data_group", answers, 50.0, ack_on_poster_release)
                self.assertEqual(result, 0)
                if ack_on_poster_release:
                    self.assertIn("application supposed to post has been released",
                                  check_slot(self, slot, "py_wait_sem_data_group"))
                else:
                    self.assertEqual(slot, 0)  # woken, then waited on until the time-out
                    self.assertGreaterEqual(time.monotonic() - started, 0.045)

    def test_a_post_wakes_every_reader_once(self):
        writer, group = self.writer("py_all_poster", b"command")
        readers = [self.reader("py_woken_%d" % n, b"command")[0] for n in range(2)]
        writer.ok("py_post_sem_data_group", group)
        writer.ok("py_post_sem_data_group", group)
        for reader in readers:
            self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
            self.assertEqual(reader.ok("py_wait_sem_data_group", group, 5.0, 0), 0)


class Ring(Group_Case):
    def insert(self, writer, group, position, value):
        """Appends a slot whose position is value, each in a later cycle than the one before."""
        self.assertGreaterEqual(writer.refresh(), 0)
        writer.ok("py_set_sem_data_group_data_double", group, position, float(value))
        writer.ok("py_insert_ring_buffer_slot", group)

    def steps(self, reader, group, position):
        """(position, overlap) of every slot taken until none is left."""
        taken = []
        for _ in range(2 * TRACE_SLOTS):
            overlap = c_int8(0)
            if not reader.ok("py_get_ring_buffer_next_slot", group, byref(overlap)):
                return taken
            taken.append((reader.ok("py_get_sem_data_group_data_double", group, position), overlap.value))
        self.fail("the ring never ran empty: %s" % taken)

    def test_slots_come_out_oldest_first_and_an_overrun_restarts_at_the_oldest(self):
        writer, group = self.writer("py_ring_writer", b"trace")
        reader, _ = self.reader("py_ring_reader", b"trace")
        position = writer.ok("py_get_sem_data_group_data_id", group, b"position")
        for n in (1, 2, 3):
            self.insert(writer, group, position, n)
        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        self.assertEqual(self.steps(reader, group, position), [(1.0, 0), (2.0, 0), (3.0, 0)])

        for n in range(4, 10):  # six more into four slots: 4 and 5 are overwritten
            self.insert(writer, group, position, n)
        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        self.assertEqual(self.steps(reader, group, position), [(6.0, 1), (7.0, 0), (8.0, 0), (9.0, 0)])

    def test_clear_discards_the_backlog(self):
        writer, group = self.writer("py_clear_writer", b"trace")
        reader, _ = self.reader("py_clear_reader", b"trace")
        position = writer.ok("py_get_sem_data_group_data_id", group, b"position")
        for n in (1, 2):
            self.insert(writer, group, position, n)
        writer.ok("py_post_sem_data_group", group)
        reader.ok("py_clear_ring_buffer", group)
        self.assertEqual(self.steps(reader, group, position), [])
        self.insert(writer, group, position, 3)
        writer.ok("py_post_sem_data_group", group)
        self.assertEqual(reader.ok("py_wait_sem_data_group", group, 1000.0, 0), 1)
        self.assertEqual(self.steps(reader, group, position), [(3.0, 0)])

    def test_ring_calls_on_a_group_without_ring(self):
        manager = self.attach("py_no_ring")
        values = manager.ok("py_get_sem_data_group_read_id", b"values")
        for name, arguments, default, text in (
                ("py_get_ring_buffer_next_slot", (values, None), 0, "Sorry, sem_group is not a ring buffer"),
                ("py_clear_ring_buffer", (values,), None,
                 MANAGER + "[clear_ring_buffer] semaphorized data not ringbuffered :: 'values'"),
                ("py_insert_ring_buffer_slot", (values,), None, "Sem data group not taken by this application")):
            with self.subTest(name):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)


if __name__ == "__main__":
    unittest.main()
