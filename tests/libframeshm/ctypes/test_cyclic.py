"""Cyclic inputs and outputs through the script interface, against rtframe -o
on the test descriptor (tests/libframeshm/test_descriptor.h): virtual outputs
come back as the inputs of the same label one cycle later."""

import unittest

from frameshm_script import VALUE_TYPES, Rtframe_Case

OUTPUT_ID_OFFSET = 10000
INVALID_UNSIGNED = 0xFFFFFFFF


def byte_array(values, size=None):
    size = len(values) if size is None else size
    return (VALUE_TYPES["uint8_t"] * size)(*values)


class Directory(Rtframe_Case):
    def test_lookups_by_label(self):
        manager = self.attach("py_directory")
        inputs = manager.ok("py_get_input_total_number")
        output_ids = range(OUTPUT_ID_OFFSET, OUTPUT_ID_OFFSET + manager.ok("py_get_output_total_number"))
        self.assertIn(manager.ok("py_get_input_id", b"v_u16"), range(inputs))
        self.assertIn(manager.ok("py_get_output_ro_id", b"pos_bit"), output_ids)
        self.assertIn(manager.ok("py_get_output_rw_id", b"solo", 0), output_ids)
        for name, label, answer in (("py_has_input", b"di_word", 1), ("py_has_input", b"nope", 0),
                                    ("py_has_output", b"neg_bit", 1), ("py_has_output", b"ro_u16", 0)):
            with self.subTest(name=name, label=label):
                self.assertEqual(manager.ok(name, label), answer)
        for name, arguments, text in (
                ("py_get_input_id", (b"nope",), "[get_input_id_ex] input name is not valid :: nope"),
                ("py_get_output_ro_id", (b"nope",), "[get_output_ro_id_ex] output name is not valid: nope"),
                ("py_get_output_rw_id", (b"nope", 0), "[get_output_rw_id_ex] output name is not valid :: nope")):
            with self.subTest(name):
                self.assertEqual(manager.failure(name, *arguments), (-1, "[Framework_Shared_Memory_Manager]" + text))

    def test_input_metadata(self):
        manager = self.attach("py_input_metadata")
        for label, type_code, dim, group in (("v_bool", 0, 1, -1), ("v_i16", 3, 2, -1), ("di_word", 4, 2, -1),
                                             ("v_double", 7, 8, -1), ("v_bytes", 8, 10, -1), ("g7_a", 2, 1, 7)):
            with self.subTest(label):
                variable = manager.ok("py_get_input_id", label.encode())
                self.assertEqual(manager.ok("py_get_input_type", variable), type_code)
                self.assertEqual(manager.ok("py_get_input_dim", variable), dim)
                self.assertEqual(manager.ok("py_get_input_group", variable), group)
        beyond = manager.ok("py_get_input_total_number")
        for name, default in (("py_get_input_type", -1), ("py_get_input_dim", INVALID_UNSIGNED),
                              ("py_get_input_group", -1)):
            with self.subTest(name):
                result, text = manager.failure(name, beyond)
                self.assertEqual(result, default)
                self.assertIn("Sorry, input id not valid!", text)

    def test_output_metadata_checks_taken_only_when_asked(self):
        owner = self.attach("py_owner")
        stranger = self.attach("py_stranger")
        output = owner.ok("py_get_output_ro_id", b"g7_b")
        for name, answer, default in (("py_get_output_type", 2, -1), ("py_get_output_dim", 1, INVALID_UNSIGNED),
                                      ("py_get_output_group", 7, -1)):
            with self.subTest(name):
                self.assertEqual(owner.ok(name, output, 1), answer)
                self.assertEqual(stranger.ok(name, output, 0), answer)
                result, text = stranger.failure(name, output, 2)  # any non-zero byte asks
                self.assertEqual(result, default)
                self.assertIn("Sorry, output_id not taken!", text)

    def test_labels_of_any_id(self):
        owner = self.attach("py_labels")
        stranger = self.attach("py_label_reader")
        alias = owner.ok("py_get_input_id", b"alias_i32")
        output = owner.ok("py_get_output_ro_id", b"pos_bit")
        for name, variable, label in (("py_get_input_label", alias, "alias_i32"),
                                      ("py_get_output_label", output, "pos_bit")):
            with self.subTest(name):
                self.assertEqual(stranger.label(name, variable), (label, 0))
        for name, variable, fallback in (("py_get_input_label", -1, "id_not_valid"),
                                         ("py_get_output_label", output - OUTPUT_ID_OFFSET, "id not valid")):
            with self.subTest(name):
                label, slot = stranger.label(name, variable)
                self.assertEqual(label, fallback)
                self.assertNotEqual(slot, 0)


class Values(Rtframe_Case):
    # label, suffix, written, read back, descriptor default
    ROUND_TRIPS = [
        ("v_bool", "bit_t", 2, 1, 0),
        ("v_i8", "int8_t", -100, -100, -8),
        ("v_u8", "uint8_t", 200, 200, 8),
        ("v_i16", "int16_t", -30000, -30000, -16),
        ("v_u16", "uint16_t", 60000, 60000, 16),
        ("v_i32", "int32_t", -2000000000, -2000000000, -32),
        ("v_u32", "uint32_t", 4000000000, 4000000000, 32),
        ("v_i64", "int64_t", -9000000000000000000, -9000000000000000000, -64),
        ("v_u64", "uint64_t", 18000000000000000000, 18000000000000000000, 64),
        ("v_float", "float_t", -1.25, -1.25, 1.5),
        ("v_double", "double_t", 1e300, 1e300, 2.25),
    ]

    def test_every_value_type_round_trips_through_the_server(self):
        self.assertEqual(sorted(suffix for _, suffix, _, _, _ in self.ROUND_TRIPS), sorted(VALUE_TYPES))
        writer = self.attach("py_writer")
        reader = self.attach("py_reader")
        ids = {}
        for label, suffix, written, _, default in self.ROUND_TRIPS:
            with self.subTest(label):
                output = writer.ok("py_get_output_rw_id", label.encode(), 0)
                variable = reader.ok("py_get_input_id", label.encode())
                ids[label] = (output, variable)
                self.assertEqual(reader.ok("py_get_input_" + suffix, variable), default)
                writer.ok("py_set_output_" + suffix, output, written)
        writer.refresh()

        def arrived():
            return all(reader.ok("py_get_input_" + suffix, ids[label][1]) == read_back
                       for label, suffix, _, read_back, _ in self.ROUND_TRIPS)

        self.refresh_until(reader, arrived)
        for label, suffix, _, read_back, _ in self.ROUND_TRIPS:
            with self.subTest(label):
                self.assertEqual(writer.ok("py_get_output_" + suffix, ids[label][0]), read_back)

    def test_refused_accesses_answer_their_defaults(self):
        owner = self.attach("py_typed_owner")
        stranger = self.attach("py_typed_stranger")
        u16_input = stranger.ok("py_get_input_id", b"v_u16")
        owned = owner.ok("py_get_output_rw_id", b"solo", 0)
        for name, arguments, default, text in (
                ("py_get_input_int32_t", (u16_input,), 0, "Sorry, size is not correct!!"),
                ("py_get_input_uint8_t", (-1,), 0, "Sorry, input id not valid!"),
                ("py_get_output_double_t", (u16_input,), 0.0, "Sorry, output_id not valid!"),
                ("py_set_output_uint8_t", (owned, 1), None, "Sorry, output_id not taken!"),
                ("py_set_output_int32_t", (INVALID_UNSIGNED, 1), None, "Sorry, output_id not valid!")):
            with self.subTest(name):
                result, message = stranger.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)


class Byte_Arrays(Rtframe_Case):
    def test_slices_round_trip(self):
        writer = self.attach("py_array_writer")
        reader = self.attach("py_array_reader")
        output = writer.ok("py_get_output_rw_id", b"v_bytes", 0)
        variable = reader.ok("py_get_input_id", b"v_bytes")
        writer.ok("py_set_output_byte_array_t", output, byte_array([7, 8, 9]), 3, 2)
        writer.refresh()
        whole = byte_array([], 10)
        expected = [1, 2, 7, 8, 9, 0, 0, 0, 0, 0]  # behind the descriptor default 0x0102

        def arrived():
            reader.ok("py_get_input_byte_array_t", variable, whole, 10, 0)
            return list(whole) == expected

        self.refresh_until(reader, arrived)
        part = byte_array([], 4)
        writer.ok("py_get_output_byte_array_t", output, part, 4, 1)
        self.assertEqual(list(part), [2, 7, 8, 9])

    def test_refused_sizes_and_offsets_touch_nothing(self):
        manager = self.attach("py_array_refusals")
        output = manager.ok("py_get_output_ro_id", b"v_bytes")  # taken, so only the sizes refuse
        variable = manager.ok("py_get_input_id", b"v_bytes")
        before = byte_array([], 10)
        manager.ok("py_get_output_byte_array_t", output, before, 10, 0)
        # byte_dim, byte_offset: the offsets are what an unsigned caller's -1 and -2 arrive as
        cases = [(10, 0xFFFFFFFF), (3, 0xFFFFFFFF), (2, 0xFFFFFFFE), (0, 0), (2, 9), (0xFFFFFFFF, 0), (11, 0)]
        for name, operation, variable_id in (("py_get_input_byte_array_t", "get_input_byte_array_ex", variable),
                                             ("py_get_output_byte_array_t", "get_output_byte_array_ex", output),
                                             ("py_set_output_byte_array_t", "set_output_byte_array_ex", output)):
            for dim, offset in cases:
                with self.subTest(name=name, dim=dim, offset=offset):
                    array = byte_array([0x5A] * 12)
                    _, text = manager.failure(name, variable_id, array, dim, offset)
                    self.assertTrue(text.startswith("[Framework_Shared_Memory_Manager][%s]" % operation), text)
                    self.assertEqual(list(array), [0x5A] * 12)
            with self.subTest(name=name, array=None):
                self.assertIn("null", manager.failure(name, variable_id, None, 2, 0)[1])
        after = byte_array([], 10)
        manager.ok("py_get_output_byte_array_t", output, after, 10, 0)
        self.assertEqual(list(after), list(before))


class Output_Groups(Rtframe_Case):
    def test_group_passes_between_applications(self):
        first = self.attach("py_group_first")
        second = self.attach("py_group_second")
        held = second.ok("py_get_output_rw_id", b"g7_b", 0)
        shared = {label: first.ok("py_get_output_rw_id", label, 1) for label in (b"g7_a", b"g7_b", b"g7_c")}
        self.assertEqual(shared[b"g7_b"], held)
        self.assertEqual(first.ok("py_get_output_group", shared[b"g7_a"], 0), 7)
        self.assertIn("Sorry, output_id not taken!", first.failure("py_set_output_uint8_t", shared[b"g7_a"], 5)[1])
        self.assertEqual(first.ok("py_try_acquire_output_group", 7), 0)

        second.ok("py_release_output_group_control", 7)
        self.assertEqual(first.ok("py_try_acquire_output_group", 7), 1)
        self.assertEqual(second.ok("py_try_acquire_output_group", 7), 0)
        self.assertEqual(second.failure("py_get_output_rw_id", b"g7_a", 0),
                         (-1, "[Framework_Shared_Memory_Manager][get_output_rw_id_ex] output name is already "
                              "assigned as rw :: g7_a"))
        first.ok("py_set_output_uint8_t", shared[b"g7_a"], 5)
        first.refresh()
        variable = second.ok("py_get_input_id", b"g7_a")
        self.refresh_until(second, lambda: second.ok("py_get_input_uint8_t", variable) == 5)

    def test_refusals(self):
        manager = self.attach("py_group_refusals")
        for name, arguments, default, text in (
                ("py_try_acquire_output_group", (-1,), -1,
                 "[try_acquire_output_group_ex] cannot acquire group id -1"),
                ("py_release_output_group_control", (-1,), None,
                 "[Framework_Shared_Memory_Manager] cannot release group id -1"),
                ("py_get_output_rw_id", (b"solo", 1), -1,
                 "[get_output_rw_id_ex] output name is not shareable :: solo")):
            with self.subTest(name):
                self.assertEqual(manager.failure(name, *arguments),
                                 (default, "[Framework_Shared_Memory_Manager]" + text))


if __name__ == "__main__":
    unittest.main()
