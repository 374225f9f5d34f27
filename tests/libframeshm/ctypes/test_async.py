"""Asynchronous variables through the script interface, against rtframe -o on
the test descriptor with every asynchronous value type, and the test
responder playing the master's SDO service (rtframe -o serves none)."""

import struct
import unittest
from ctypes import byref, c_uint8

from frameshm_script import ASYNC_VALUE_TYPES, Manager, Rtframe_Case, check_slot, start_responder

INVALID_UNSIGNED = 0xFFFFFFFF
POLL_FAILED = 255
INT8, UINT8, INT16, UINT16, INT32, UINT32 = 1, 2, 3, 4, 5, 6
MANAGER = "[Framework_Shared_Memory_Manager]"

# suffix of the script functions, variable suffix, type code, value, its bytes in memory order
VALUES = [
    ("int8_t", "i8", INT8, -5, struct.pack("<b", -5)),
    ("uint8_t", "u8", UINT8, 250, struct.pack("<B", 250)),
    ("int16_t", "i16", INT16, -30000, struct.pack("<h", -30000)),
    ("uint16_t", "u16", UINT16, 65000, struct.pack("<H", 65000)),
    ("int32_t", "i32", INT32, -2000000000, struct.pack("<i", -2000000000)),
    ("uint32_t", "u32", UINT32, 0xDEADBEEF, struct.pack("<I", 0xDEADBEEF)),
]


class Async_Case(Rtframe_Case):
    descriptor_options = ("with_value_types",)

    def serve(self, *settings):
        """The responder for the rest of the test."""
        responder = start_responder(*settings)

        def stop():
            self.assertEqual(responder.stop(), 0, responder.errors())

        self.addCleanup(stop)
        return responder

    def attach_online(self, name):
        """A handle whose last refresh saw the master online: with the master
        offline every poll would answer 1 at once."""
        manager = self.attach(name)
        online = c_uint8(0)
        for _ in range(5000):
            manager.ok("py_refresh_data_and_get_ec_master_state", None, byref(online))
            if online.value == 1:
                return manager
        self.fail("the master never came online")

    def poll_until_done(self, manager, poll, variable, limit=1000):
        """The poll's results, one per cycle, up to the first that is not 0."""
        results = []
        for _ in range(limit):
            self.assertGreaterEqual(manager.refresh(), 0)
            results.append(manager.call(poll, variable))
            if results[-1][0] != 0:
                break
        return results


class Directory(Async_Case):
    def test_counts_ids_and_types(self):
        manager = self.attach("py_async_directory")
        self.assertEqual(manager.ok("py_get_async_input_total_number"), 1 + len(VALUES))
        self.assertEqual(manager.ok("py_get_async_output_total_number"), 1 + len(VALUES))
        # Ids are plain indices in descriptor order, behind error_code and max_torque; a
        # type is read without a claim.
        for index, (_, variable, type_code, _, _) in enumerate(VALUES, start=1):
            with self.subTest(variable):
                self.assertEqual(manager.ok("py_get_async_input_id", b"ai_" + variable.encode()), index)
                self.assertEqual(manager.ok("py_get_async_input_type", index), type_code)
                self.assertEqual(manager.ok("py_get_async_output_type", index), type_code)

    def test_an_input_is_shared_and_an_output_claimed_once(self):
        first = self.attach("py_async_first")
        second = self.attach("py_async_second")
        self.assertEqual(first.ok("py_get_async_input_id", b"error_code"),
                         second.ok("py_get_async_input_id", b"error_code"))
        self.assertEqual(first.ok("py_get_async_output_id", b"max_torque"), 0)
        refused = (-1, MANAGER + "[get_async_output_id_ex] async output name is not valid: max_torque")
        self.assertEqual(second.failure("py_get_async_output_id", b"max_torque"), refused)
        self.assertEqual(first.failure("py_get_async_output_id", b"max_torque"), refused)

    def test_refusals_answer_their_defaults(self):
        manager = self.attach("py_async_refusals")
        count = manager.ok("py_get_async_input_total_number")
        for name, arguments, default, text in (
                ("py_get_async_input_id", (b"nope",), -1,
                 MANAGER + "[get_async_input_id_ex] async input name is not valid: nope"),
                ("py_get_async_output_id", (b"ai_u8",), -1,
                 MANAGER + "[get_async_output_id_ex] async output name is not valid: ai_u8"),
                ("py_get_async_input_id", (None,), -1, "[xelo_shm_manager_ctypes] async_input_name is null"),
                ("py_get_async_output_id", (None,), -1, "[xelo_shm_manager_ctypes] async_output_name is null"),
                ("py_get_async_input_type", (-1,), -1, "Sorry, async input id not valid!"),
                ("py_get_async_output_type", (count,), -1, "Sorry, output_id not valid!")):
            with self.subTest(name=name, arguments=arguments):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)

    def test_a_null_handle_answers_the_defaults(self):
        null = Manager(self, None)
        for name, arguments, default in (("py_get_async_input_total_number", (), INVALID_UNSIGNED),
                                         ("py_get_async_output_total_number", (), INVALID_UNSIGNED),
                                         ("py_get_async_output_id", (b"max_torque",), -1),
                                         ("py_get_async_output_type", (0,), -1),
                                         ("py_is_async_output_set", (0,), POLL_FAILED),
                                         ("py_get_async_input_uint32_t", (0,), 0)):
            with self.subTest(name):
                self.assertEqual(null.failure(name, *arguments),
                                 (default, "[xelo_shm_manager_ctypes] memory_manager handle is null"))

    def test_polls_and_values_refuse_what_this_process_did_not_take(self):
        manager = self.attach("py_async_untaken")
        taken_input = manager.ok("py_get_async_input_id", b"ai_i32")
        taken_output = manager.ok("py_get_async_output_id", b"ao_i32")
        for name, arguments, default, text in (
                ("py_is_async_input_refresh", (0,), POLL_FAILED, "Sorry, async input id not taken!"),
                ("py_is_async_output_set", (0,), POLL_FAILED, "Sorry, output_id not taken!"),
                ("py_is_async_input_refresh", (-1,), POLL_FAILED, "Sorry, async input id not valid!"),
                ("py_refresh_async_input", (0,), None, "Sorry, async input id not taken!"),
                ("py_get_async_input_uint16_t", (0,), 0, "Sorry, async input id not taken!"),
                ("py_set_async_output_uint16_t", (0, 1), None, "Sorry, output_id not taken!"),
                ("py_get_async_input_int16_t", (taken_input,), 0, "Sorry, size is not correct!!"),
                ("py_set_async_output_int8_t", (taken_output, 1), None, "Sorry, size is not correct!!")):
            with self.subTest(name=name, arguments=arguments):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)


class Transfers(Async_Case):
    def test_every_type_reads_what_the_drive_answers(self):
        self.assertEqual(sorted(suffix for suffix, *_ in VALUES), sorted(ASYNC_VALUE_TYPES))
        self.serve(*("ai_%s:value=%s,delay=20" % (variable, raw.hex()) for _, variable, _, _, raw in VALUES))
        manager = self.attach_online("py_async_reader")
        for suffix, variable, _, value, _ in VALUES:
            with self.subTest(variable):
                async_input = manager.ok("py_get_async_input_id", b"ai_" + variable.encode())
                self.assertEqual(manager.ok("py_get_async_input_" + suffix, async_input), 0)  # never served yet
                manager.ok("py_refresh_async_input", async_input)
                results = self.poll_until_done(manager, "py_is_async_input_refresh", async_input)
                self.assertEqual(results[0], (0, 0))  # the drive answers 20 ms later
                self.assertEqual(results[-1], (1, 0))
                self.assertEqual(set(results[:-1]), {(0, 0)})
                self.assertEqual(manager.ok("py_get_async_input_" + suffix, async_input), value)

    def test_every_type_writes_its_bytes(self):
        responder = self.serve()
        manager = self.attach_online("py_async_writer")
        for suffix, variable, _, value, raw in VALUES:
            with self.subTest(variable):
                label = "ao_" + variable
                async_output = manager.ok("py_get_async_output_id", label.encode())
                manager.ok("py_set_async_output_" + suffix, async_output, value)
                self.assertEqual(self.poll_until_done(manager, "py_is_async_output_set", async_output)[-1], (1, 0))
                written = responder.ask("written " + label).split()
                self.assertEqual(written[2], "1")  # one write served
                self.assertEqual(bytes.fromhex(written[3])[:len(raw)], raw)

    def test_a_new_request_waits_for_a_new_answer(self):
        responder = self.serve("error_code:value=3412,delay=30")
        manager = self.attach_online("py_async_again")
        async_input = manager.ok("py_get_async_input_id", b"error_code")
        for request in (1, 2):
            with self.subTest(request=request):
                manager.ok("py_refresh_async_input", async_input)
                results = self.poll_until_done(manager, "py_is_async_input_refresh", async_input)
                self.assertEqual((results[0], results[-1]), ((0, 0), (1, 0)))
                self.assertEqual(responder.ask("reads error_code"), "reads error_code %d" % request)
                self.assertEqual(manager.ok("py_get_async_input_uint16_t", async_input), 0x1234)

    def test_failed_and_expired_requests_poll_255_with_the_message(self):
        self.serve("error_code:fail=100925440", "max_torque:never")
        manager = self.attach_online("py_async_failures")
        async_input = manager.ok("py_get_async_input_id", b"error_code")
        async_output = manager.ok("py_get_async_output_id", b"max_torque")
        manager.ok("py_refresh_async_input", async_input)
        manager.ok("py_set_async_output_uint16_t", async_output, 500)
        for poll, variable, text in (
                ("py_is_async_input_refresh", async_input,
                 MANAGER + "[is_async_input_refresh_ex] Error, on async_input_id request"),
                ("py_is_async_output_set", async_output,
                 MANAGER + "[is_async_output_set_ex] Error, async_output_id request expired")):
            with self.subTest(poll):
                result, slot = self.poll_until_done(manager, poll, variable)[-1]
                self.assertEqual(result, POLL_FAILED)
                self.assertTrue(check_slot(self, slot, poll).startswith(text))


if __name__ == "__main__":
    unittest.main()
