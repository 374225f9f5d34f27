"""Command channels through the script interface, against rtframe -o on the
test descriptor with the channels "axis" (three data each way), "probe"
(every value type each way) and "ping" (one command datum, no answer data):
see tests/libframeshm/test_descriptor.h. A command also goes from a Python
client to a Python server in another process (channel_server.py)."""

import ctypes
import threading
import time
import unittest

from channel_server import BYTES_LABEL, BYTES_SIZE, CHANNEL_DATA, answer_bytes, answer_to
from frameshm_script import (DATA_VALUE_TYPES, LIST_STRING_MAX_LENGTH, Rtframe_Case, check_slot, library,
                             start_python_peer)

MANAGER = "[Framework_Shared_Memory_Manager]"
TYPE_CODES = {"int8": 1, "uint8": 2, "int16": 3, "uint16": 4, "int32": 5, "uint32": 6, "int64": 9, "uint64": 10,
              "float": 11, "double": 7}
BYTE_ARRAY = 8
# Two commands' worth of values, one of each type.
COMMANDS = [
    {"int8": -100, "uint8": 200, "int16": -30000, "uint16": 60000, "int32": -2000000000, "uint32": 4000000000,
     "int64": -9000000000000000000, "uint64": 18000000000000000000, "float": -1.25, "double": 1e300},
    {"int8": 1, "uint8": 2, "int16": 3, "uint16": 4, "int32": 5, "uint32": 6, "int64": 7, "uint64": 8,
     "float": 9.5, "double": -10.25},
]


def byte_array(values, size=None):
    size = len(values) if size is None else size
    return (ctypes.c_uint8 * size)(*values)


class Channel_Case(Rtframe_Case):
    descriptor_options = ("with_channel", "with_value_types")
    slots = 16

    def wait_for_server(self, client, cmd, timeout_s=10):
        deadline = time.monotonic() + timeout_s
        while not client.ok("py_is_server_waiting_for_command", cmd):
            self.assertLess(time.monotonic(), deadline, "no server waits for a command")
            time.sleep(0.001)


class Directory(Channel_Case):
    def test_ids_types_and_dimensions(self):
        self.assertEqual(sorted(suffix for _, suffix in CHANNEL_DATA), sorted(DATA_VALUE_TYPES))
        client = self.attach("py_cmd_directory_client")
        server = self.attach("py_cmd_directory_server")
        probe = client.ok("py_get_cmd_channel_id_as_client", b"probe")
        axis = client.ok("py_get_cmd_channel_id_as_client", b"axis")
        self.assertEqual(client.ok("py_get_cmd_channel_id_as_client", b"probe"), probe)
        self.assertEqual(sorted((probe, axis)), [0, 1])
        self.assertEqual(client.ok("py_get_cmd_channel_id_as_server", b"probe"), 2)  # a server entry is another
        served = server.ok("py_get_cmd_channel_id_as_server", b"probe")

        for index, (label, suffix) in enumerate(CHANNEL_DATA + [(BYTES_LABEL, None)]):
            with self.subTest(label):
                type_code = TYPE_CODES.get(suffix, BYTE_ARRAY)
                sent = client.ok("py_get_cmd_data_id_to_send", probe, label.encode())
                received = client.ok("py_get_cmd_data_id_to_recv", probe, label.encode())
                self.assertEqual((sent, received), (index, index))
                self.assertEqual(client.ok("py_get_send_data_type", probe, sent), type_code)
                self.assertEqual(client.ok("py_get_recv_data_type", probe, received), type_code)
        bytes_id = len(CHANNEL_DATA)
        for manager, name, channel in ((client, "py_get_cmd_data_byte_array_dim_as_client", probe),
                                       (client, "py_get_answ_data_byte_array_dim_as_client", probe),
                                       (server, "py_get_cmd_data_byte_array_dim_as_server", served),
                                       (server, "py_get_answ_data_byte_array_dim_as_server", served)):
            with self.subTest(name):
                self.assertEqual(manager.ok(name, channel, bytes_id), BYTES_SIZE)

    def test_lists_of_data_names(self):
        manager = self.attach("py_cmd_lists")
        axis = manager.ok("py_get_cmd_channel_id_as_client", b"axis")
        ping = manager.ok("py_get_cmd_channel_id_as_client", b"ping")
        probe = manager.ok("py_get_cmd_channel_id_as_server", b"probe")
        self.assertEqual(library().py_get_cmd_data_args_max_string_length(), LIST_STRING_MAX_LENGTH)
        size = LIST_STRING_MAX_LENGTH + 100
        for name, channel, text in (
                ("py_get_list_cmd_send_data_args", axis, "code\ntarget\nname"),
                ("py_get_list_cmd_recv_data_args", axis, "result\nposition\nnote"),
                ("py_get_list_cmd_send_data_args", ping, "code"),
                ("py_get_list_cmd_recv_data_args", probe, "\n".join(l for l, _ in CHANNEL_DATA) + "\nbytes")):
            with self.subTest(name=name, channel=channel):
                buffer = ctypes.create_string_buffer(b"\xaa" * size, size)
                self.assertEqual(manager.call(name, channel, buffer), (None, 0))
                expected = text.encode() + b"\0" * (LIST_STRING_MAX_LENGTH - len(text))
                self.assertEqual(buffer.raw[:LIST_STRING_MAX_LENGTH], expected)
                self.assertEqual(buffer.raw[LIST_STRING_MAX_LENGTH:], b"\xaa" * 100)
        for name, channel, text in (
                ("py_get_list_cmd_recv_data_args", ping, "recv data args is empty"),
                ("py_get_list_cmd_send_data_args", 3,
                 MANAGER + "[get_list_cmd_send_data_args_ex] invalid cmd channel id, required :: 3, max available "
                           ":: 2")):
            with self.subTest(name=name, channel=channel):
                listed, slot = manager.label(name, channel, size=LIST_STRING_MAX_LENGTH)
                self.assertEqual(listed, "id_not_valid")
                self.assertTrue(check_slot(self, slot, name).startswith(text))

    def test_refusals_answer_their_defaults(self):
        manager = self.attach("py_cmd_refusals")
        client = manager.ok("py_get_cmd_channel_id_as_client", b"probe")
        server = manager.ok("py_get_cmd_channel_id_as_server", b"probe")
        bytes_id = len(CHANNEL_DATA)
        not_server = "cmd_channel id not taken as server!, cmd_channel id  :: %d" % client
        not_client = "cmd_channel id not taken as client!, cmd_channel id  :: %d" % server
        minus_one = "Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1"
        for name, arguments, default, text in (
                ("py_get_cmd_channel_id_as_client", (b"nope",), 0,
                 MANAGER + "[get_sem_data_group_read_id_ex] Error semaphorize group data not found... nope_receiver"),
                ("py_get_cmd_channel_id_as_server", (None,), 0, "[xelo_shm_manager_ctypes] cmd_channel_name is null"),
                ("py_get_cmd_data_id_to_send", (client, b"nope"), 0,
                 "label 'nope' does not belong to sem_data group 'probe_sender"),
                ("py_get_cmd_data_id_to_recv", (client, None), 0, "[xelo_shm_manager_ctypes] data_label is null"),
                ("py_get_recv_data_type", (client, bytes_id + 1), -1, "Sem group data_id not valid"),
                ("py_get_send_data_type", (client, -1), -1, minus_one),
                ("py_get_answ_data_byte_array_dim_as_client", (client, -1), 0, minus_one),
                ("py_get_cmd_data_byte_array_dim_as_server", (client, bytes_id), 0, not_server),
                ("py_get_cmd_data_byte_array_dim_as_client", (server, bytes_id), 0, not_client),
                ("py_get_cmd_data_int8", (client, 0), 0, not_server),
                ("py_set_answer_data_double", (client, 0, 1.0), None, not_server),
                ("py_get_answer_data_uint64", (server, 0), 0, not_client),
                ("py_set_cmd_data_float", (server, 0, 1.0), None, not_client),
                ("py_set_cmd_data_int16", (client, 0, 1), None, "Sem data group not taken by this application"),
                ("py_get_answer_data_int32", (client, 0), 0, "Sorry, size is not correct!!"),
                ("py_get_cmd_data_uint8", (server, -1), 0, minus_one),
                ("py_try_acquire_cmd_as_server", (client,), 0, not_server),
                ("py_try_acquire_cmd_as_client", (server,), 0, not_client),
                ("py_wait_cmd", (client, 1.0), 0, not_server),
                ("py_wait_answer", (server, 1.0), 0, not_client),
                ("py_is_server_waiting_for_command", (-1,), 0,
                 "invalid cmd channel id, required :: -1, max available :: 1"),
                ("py_send_cmd", (2,), None, "invalid cmd channel id, required :: 2, max available :: 1"),
                ("py_send_answer", (client,), None, not_server),
                ("py_clear_cmd_from_client", (server,), None, not_client),
                ("py_release_cmd_as_client", (server,), None, not_client),
                ("py_release_cmd_as_server", (server,), None, "Sem data group not taken by this application")):
            with self.subTest(name=name, arguments=arguments):
                result, message = manager.failure(name, *arguments)
                self.assertEqual(result, default)
                self.assertIn(text, message)

    def test_refused_byte_arrays_touch_nothing(self):
        manager = self.attach("py_cmd_array_refusals")
        client = manager.ok("py_get_cmd_channel_id_as_client", b"probe")
        server = manager.ok("py_get_cmd_channel_id_as_server", b"probe")
        bytes_id = len(CHANNEL_DATA)
        out_of_range = "[xelo_shm_manager_ctypes] byte_offset out of range: "
        for name, channel, datum, dim, offset, text in (
                ("py_set_cmd_data_byte_array", client, bytes_id, 2, 0xFFFFFFFF, out_of_range + "4294967295"),
                ("py_set_answ_data_byte_array", server, bytes_id, 2, 0x80000000, out_of_range + "2147483648"),
                ("py_get_answ_data_byte_array", client, bytes_id, 2, 0xFFFFFFFE, out_of_range + "4294967294"),
                ("py_get_cmd_data_byte_array", server, bytes_id, 2, -1, "Sorry, size is not correct!!"),
                ("py_get_cmd_data_byte_array", server, bytes_id, 4, BYTES_SIZE - 2,
                 "Sorry, combination size + offset is not correct!!"),
                ("py_set_cmd_data_byte_array", client, 0, 1, 0, "Sorry, sem_data_id type is not BYTE_ARRAY!")):
            with self.subTest(name=name, dim=dim, offset=offset):
                array = byte_array([0x5A] * 16)
                _, message = manager.failure(name, channel, datum, array, dim, offset)
                self.assertIn(text, message)
                self.assertEqual(list(array), [0x5A] * 16)


class Protocol(Channel_Case):
    """One process holds both ends of "axis"; the server waits in a thread."""

    def open_axis(self, name):
        """(server, server channel id, client, client channel id), both holding their side."""
        server = self.attach(name + "_server")
        client = self.attach(name + "_client")
        served = server.ok("py_get_cmd_channel_id_as_server", b"axis")
        sending = client.ok("py_get_cmd_channel_id_as_client", b"axis")
        self.assertEqual(server.ok("py_try_acquire_cmd_as_server", served), 1)
        self.addCleanup(server.call, "py_release_cmd_as_server", served)
        self.assertEqual(client.ok("py_try_acquire_cmd_as_client", sending), 1)
        self.addCleanup(client.call, "py_release_cmd_as_client", sending)
        return server, served, client, sending

    def deliver(self, server, served, client, sending, code):
        """Sends a command with `code` while the server waits for it in a thread."""
        client.ok("py_set_cmd_data_int8", sending, client.ok("py_get_cmd_data_id_to_send", sending, b"code"), code)
        outcome = {}
        waiter = threading.Thread(target=lambda: outcome.update(wait=server.call("py_wait_cmd", served, 5000.0)))
        waiter.start()
        try:
            self.wait_for_server(client, sending)
            client.ok("py_send_cmd", sending)
        finally:
            waiter.join()
        self.assertEqual(outcome["wait"], (1, 0))
        self.assertEqual(server.ok("py_get_cmd_data_int8", served,
                                   server.ok("py_get_cmd_data_id_to_recv", served, b"code")), code)

    def test_without_a_waiting_server_nothing_is_sent(self):
        server, served, client, sending = self.open_axis("py_nobody_waits")
        started = time.monotonic()
        self.assertEqual(server.call("py_wait_cmd", served, 20.0), (0, 0))
        self.assertGreaterEqual(time.monotonic() - started, 0.015)
        self.assertEqual(client.ok("py_is_server_waiting_for_command", sending), 0)
        for name in ("py_send_cmd", "py_send_cmd_and_wait_answer"):  # the second does not wait
            with self.subTest(name):
                self.assertEqual(client.failure(name, sending),
                                 (None, MANAGER + "[send_cmd] No server is waiting for a command!"))

    def test_a_late_answer_is_cleared(self):
        server, served, client, sending = self.open_axis("py_late")
        result = server.ok("py_get_cmd_data_id_to_send", served, b"result")
        answer = client.ok("py_get_cmd_data_id_to_recv", sending, b"result")
        self.deliver(server, served, client, sending, 1)
        self.assertEqual(client.call("py_wait_answer", sending, 5.0), (0, 0))
        server.ok("py_set_answer_data_int8", served, result, 11)
        server.ok("py_send_answer", served)
        client.ok("py_clear_cmd_from_client", sending)
        self.assertEqual(client.call("py_wait_answer", sending, 5.0), (0, 0))

        self.deliver(server, served, client, sending, 2)
        server.ok("py_set_answer_data_int8", served, result, 22)
        server.ok("py_send_answer", served)
        self.assertEqual(client.call("py_wait_answer", sending, 1000.0), (1, 0))
        self.assertEqual(client.ok("py_get_answer_data_int8", sending, answer), 22)

    def test_a_server_that_gives_the_channel_up_ends_the_wait_for_the_answer(self):
        server, served, client, sending = self.open_axis("py_given_up")
        self.deliver(server, served, client, sending, 3)
        server.ok("py_release_cmd_as_server", served)
        result, message = client.failure("py_wait_answer", sending, 1000.0)
        self.assertEqual(result, 0)
        self.assertIn("application supposed to post has been released", message)

    def test_no_answer_goes_to_a_client_that_left(self):
        server, served, client, sending = self.open_axis("py_left")
        self.deliver(server, served, client, sending, 4)
        client.ok("py_release_cmd_as_client", sending)
        self.assertEqual(server.failure("py_send_answer", served),
                         (None, MANAGER + "[send_answer] Error, application that sent command has not taken the "
                                          "_sender semaphore anymore"))
        self.assertEqual(client.call("py_wait_answer", sending, 5.0), (0, 0))

    def test_one_client_at_a_time(self):
        _, _, client, sending = self.open_axis("py_first_client")
        other = self.attach("py_second_client")
        waiting = other.ok("py_get_cmd_channel_id_as_client", b"axis")
        self.assertEqual(other.call("py_try_acquire_cmd_as_client", waiting), (0, 0))
        client.ok("py_release_cmd_as_client", sending)
        self.assertEqual(other.ok("py_try_acquire_cmd_as_client", waiting), 1)
        other.ok("py_release_cmd_as_client", waiting)


class Between_Processes(Channel_Case):
    def test_commands_and_answers_of_every_type_between_two_python_processes(self):
        # The answer comes late enough to tell a wait without limit from a short one.
        server = start_python_peer("channel_server.py", "probe", str(len(COMMANDS)), "200")
        try:
            self.assertEqual(server.line(), "ready")
            client = self.attach("py_probe_client")
            cmd = client.ok("py_get_cmd_channel_id_as_client", b"probe")
            self.assertEqual(client.ok("py_try_acquire_cmd_as_client", cmd), 1)
            labels = [label for label, _ in CHANNEL_DATA] + [BYTES_LABEL]
            sent = {label: client.ok("py_get_cmd_data_id_to_send", cmd, label.encode()) for label in labels}
            answered = {label: client.ok("py_get_cmd_data_id_to_recv", cmd, label.encode()) for label in labels}
            for number, values in enumerate(COMMANDS):
                with self.subTest(command=number):
                    for label, suffix in CHANNEL_DATA:
                        client.ok("py_set_cmd_data_" + suffix, cmd, sent[label], values[suffix])
                    command_bytes = [number * 16 + n for n in range(BYTES_SIZE)]
                    client.ok("py_set_cmd_data_byte_array", cmd, sent[BYTES_LABEL], byte_array(command_bytes),
                              BYTES_SIZE, 0)
                    self.wait_for_server(client, cmd)
                    if number == 0:
                        client.ok("py_send_cmd_and_wait_answer", cmd)
                    else:
                        client.ok("py_send_cmd", cmd)
                        self.assertEqual(client.ok("py_wait_answer", cmd, 5000.0), 1)
                    for label, suffix in CHANNEL_DATA:
                        self.assertEqual(client.ok("py_get_answer_data_" + suffix, cmd, answered[label]),
                                         answer_to(suffix, values[suffix]), label)
                    received = byte_array([], BYTES_SIZE)
                    client.ok("py_get_answ_data_byte_array", cmd, answered[BYTES_LABEL], received, BYTES_SIZE, 0)
                    self.assertEqual(list(received), answer_bytes(command_bytes))
                    tail = byte_array([], 2)
                    client.ok("py_get_answ_data_byte_array", cmd, answered[BYTES_LABEL], tail, 2, BYTES_SIZE - 2)
                    self.assertEqual(list(tail), answer_bytes(command_bytes)[-2:])
            client.ok("py_release_cmd_as_client", cmd)
        finally:
            status = server.stop()
        self.assertEqual(status, 0, server.errors())


if __name__ == "__main__":
    unittest.main()
