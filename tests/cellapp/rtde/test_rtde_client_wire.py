"""The RTDE client byte by byte: this script plays the robot controller on
loopback, built from the protocol's tables with struct alone, and drives the
client through the rtde_probe program (one step per argument, one printed line
per step). Every request must arrive exactly as expected, every scripted step
must be used, and nothing may follow."""
import os
import socket
import struct
import subprocess
import time
import unittest

PROBE = os.environ["RTDE_PROBE"]

V, v, M, U, O, I, S, P = 86, 118, 77, 85, 79, 73, 83, 80
THREE = b"runtime_state,safety_status_bits,robot_status_bits,"
IN_USE_TEXT = ("error One of the RTDE input registers are already in use! Currently you must disable the "
               "EtherNet/IP adapter, PROFINET or any MODBUS unit configured on the robot. This might change "
               "in the future.")


def package(kind, payload=b""):
    return struct.pack(">HB", len(payload) + 3, kind) + payload


def text_message(text, source=b"controller", level=3):
    return package(M, struct.pack(">B", len(text)) + text + struct.pack(">B", len(source)) + source +
                   struct.pack(">B", level))


CLOSE = object()  # shut the connection down


def read_exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise AssertionError("connection closed after %r" % data)
        data += chunk
    return data


def read_package(conn):
    header = read_exact(conn, 3)
    size = struct.unpack(">H", header[:2])[0]
    return header + read_exact(conn, size - 3)


class Controller(unittest.TestCase):
    def converse(self, steps, script, timeout=10, reply_timeout_ms=None):
        """Runs the probe with steps against a controller that, for each
        (expected request or None, replies) of script, reads and compares the
        request, then sends the replies; the client's reply limit is its
        default unless given. Returns (exit status, lines, stderr)."""
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        port = server.getsockname()[1]
        limit = [] if reply_timeout_ms is None else ["--reply-timeout-ms", str(reply_timeout_ms)]
        probe = subprocess.Popen([PROBE] + limit + ["127.0.0.1", str(port)] + steps, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
        try:
            server.settimeout(10)
            conn, _ = server.accept()
            conn.settimeout(10)
            closed = False
            for number, (expected, replies) in enumerate(script):
                if expected is not None:
                    self.assertEqual(read_package(conn).hex(" "), expected.hex(" "), "step %d" % number)
                for reply in replies:
                    if reply is CLOSE:
                        conn.shutdown(socket.SHUT_RDWR)
                        closed = True
                    else:
                        conn.sendall(reply)
            out, err = probe.communicate(timeout=timeout)
            if not closed:
                self.assertEqual(conn.recv(100), b"", "the client sent more than the script expects")
            conn.close()
        finally:
            if probe.poll() is None:
                probe.kill()
                probe.wait()
            server.close()
        return probe.returncode, out.splitlines(), err


class Handshake(Controller):
    def test_version_request_and_the_accepted_flag(self):
        for accepted in (1, 0):
            with self.subTest(accepted=accepted):
                status, lines, _ = self.converse(
                    ["version"], [(bytes.fromhex("00 05 56 00 02"), [package(V, bytes([accepted]))])])
                self.assertEqual(status, 0)
                self.assertEqual(lines, ["connect ok", "version %d" % accepted])

    def test_controller_version(self):
        reply = package(v, struct.pack(">IIII", 5, 11, 0, 1))
        self.assertEqual(reply.hex(" "), "00 13 76 00 00 00 05 00 00 00 0b 00 00 00 00 00 00 00 01")
        status, lines, _ = self.converse(["controller_version"], [(bytes.fromhex("00 03 76"), [reply])])
        self.assertEqual((status, lines[-1]), (0, "controller_version 5.11.0.1"))

    def test_the_follower_sequence(self):
        """input_int_register_0, the empty output setup at 125 Hz, start, the
        three-name output setup, one data package."""
        data = package(U, struct.pack(">BIII", 1, 2, 1, 3))
        self.assertEqual(data.hex(" "), "00 10 55 01 00 00 00 02 00 00 00 01 00 00 00 03")
        inputs = package(I, b"input_int_register_0,")
        self.assertEqual(len(inputs), 24)
        empty = package(O, struct.pack(">d", 125.0))
        self.assertEqual(empty.hex(" "), "00 0b 4f 40 5f 40 00 00 00 00 00")
        status, lines, _ = self.converse(
            ["version", "inputs:input_int_register_0", "outputs:125:", "start", "outputs:125:" + THREE.decode()[:-1],
             "data"],
            [(bytes.fromhex("00 05 56 00 02"), [package(V, b"\x01")]),
             (inputs, [package(I, b"\x01INT32")]),
             (empty, [package(O, b"\x01")]),
             (bytes.fromhex("00 03 53"), [package(S, b"\x01")]),
             (package(O, struct.pack(">d", 125.0) + THREE),
              [package(U, b"\x01"), package(O, b"\x02UINT32,UINT32,UINT32")]),
             (None, [data])])
        self.assertEqual(status, 0)
        self.assertEqual(lines, ["connect ok", "version 1", "inputs ok", "outputs 1 ", "start 1",
                                 "outputs 1 UINT32|UINT32|UINT32", "data 01000000020000000100000003"])


class Replies(Controller):
    def test_input_in_use_is_thrown(self):
        status, lines, _ = self.converse(
            ["inputs:input_int_register_0"],
            [(package(I, b"input_int_register_0,"), [package(I, b"\x00IN_USE")])])
        self.assertEqual((status, lines[-1]), (3, IN_USE_TEXT))

    def test_not_found_refuses_the_output_setup_and_keeps_the_types(self):
        status, lines, _ = self.converse(
            ["outputs:125:runtime_state,nothing,robot_status_bits"],
            [(package(O, struct.pack(">d", 125.0) + b"runtime_state,nothing,robot_status_bits,"),
              [package(O, b"\x00UINT32,NOT_FOUND,UINT32")])])
        self.assertEqual((status, lines[-1]), (0, "outputs 0 UINT32|NOT_FOUND|UINT32"))

    def test_a_reply_without_one_value_type_per_name_refuses_the_output_setup(self):
        names = b"runtime_state,safety_status_bits,robot_status_bits"
        for types, accepted in [(b"UINT32,UINT32,UINT32", 1), (b"UINT32,FOO,UINT32", 0), (b"UINT32,UINT32", 0),
                                (b"UINT32,UINT32,UINT32,UINT32", 0), (b"", 0)]:
            with self.subTest(types=types):
                status, lines, _ = self.converse(
                    ["outputs:125:" + names.decode()],
                    [(package(O, struct.pack(">d", 125.0) + names + b","), [package(O, b"\x01" + types)])])
                shown = types.decode().replace(",", "|")
                self.assertEqual((status, lines[-1]), (0, "outputs %d %s" % (accepted, shown)))

    def test_start_refused_then_accepted_and_pause(self):
        status, lines, err = self.converse(
            ["start", "start", "pause"],
            [(bytes.fromhex("00 03 53"), [package(S, b"\x00")]),
             (bytes.fromhex("00 03 53"), [package(S, b"\x01")]),
             (bytes.fromhex("00 03 50"), [package(P, b"\x01")])])
        self.assertEqual(status, 0)
        self.assertEqual(lines[1:], ["start 0", "start 1", "pause connected=0 started=0"])
        self.assertIn("Unable to start synchronization", err)

    def test_a_request_reads_past_text_messages_and_data_to_its_reply(self):
        status, lines, _ = self.converse(
            ["start", "version"],
            [(bytes.fromhex("00 03 53"), [text_message(b"hello"), package(U, b"\x01"), package(S, b"\x01")]),
             (bytes.fromhex("00 05 56 00 02"), [text_message(b"again"), package(V, b"\x01")])])
        self.assertEqual((status, lines[1:]), (0, ["start 1", "version 1"]))

    def test_receive_reads_one_package(self):
        status, lines, _ = self.converse(
            ["receive", "receive"],
            [(None, [text_message(b"first"), package(S, b"\x01")])])
        self.assertEqual((status, lines[1:]), (0, ["receive started=0", "receive started=1"]))

    def test_data_skips_text_and_unknown_packages(self):
        status, lines, _ = self.converse(
            ["data"],
            [(None, [text_message(b"note"), package(88, b"\x01\x02"), package(U, b"\x07\xAA")])])
        self.assertEqual((status, lines[-1]), (0, "data 07AA"))

    def test_empty_reply_payload_is_reported_and_changes_nothing(self):
        status, lines, err = self.converse(
            ["start", "outputs:125:timestamp"],
            [(bytes.fromhex("00 03 53"), [package(S)]),
             (package(O, struct.pack(">d", 125.0) + b"timestamp,"), [package(O)])])
        self.assertEqual((status, lines[1:]), (0, ["start 0", "outputs 0 "]))
        self.assertIn("without payload skipped", err)


class Losses(Controller):
    def test_end_of_stream_between_and_inside_packages_and_a_broken_size(self):
        cases = [
            ("between", [CLOSE], "error [RTDE][receive] connection closed by the controller"),
            ("inside the header", [b"\x00", CLOSE],
             "error [RTDE][receive] connection closed by the controller inside a package (1 of 3 bytes)"),
            ("inside the payload", [bytes.fromhex("00 10 55 01 00 00"), CLOSE],
             "error [RTDE][receive] connection closed by the controller inside a package (3 of 13 bytes)"),
            ("size below 3", [bytes.fromhex("00 02 55 01 02 03")],
             "error [RTDE][receive] package size 2 below 3: framing lost"),
        ]
        for name, replies, error in cases:
            with self.subTest(name):
                status, lines, _ = self.converse(["data", "data"], [(None, replies)])
                self.assertEqual((status, lines), (3, ["connect ok", error]))


    def test_a_reply_that_does_not_come_whole_ends_the_request_after_the_reply_limit(self):
        # The default of ten seconds once; the other cases with a short limit.
        cases = [
            ("nothing", [], "(0 of 3 bytes of a header)", None),
            ("part of the header", [b"\x00\x04"], "(2 of 3 bytes of a header)", 300),
            ("a header without its payload", [b"\x00\x04\x56"], "(0 of 1 bytes of a package)", 300),
        ]
        for name, replies, where, limit_ms in cases:
            with self.subTest(name):
                start = time.monotonic()
                status, lines, _ = self.converse(["version"], [(bytes.fromhex("00 05 56 00 02"), replies)], timeout=60,
                                                 reply_timeout_ms=limit_ms)
                shown_ms = 10000 if limit_ms is None else limit_ms
                self.assertEqual((status, lines),
                                 (3, ["connect ok",
                                      "error [RTDE][receive] no reply within %d ms %s" % (shown_ms, where)]))
                self.assertGreaterEqual(time.monotonic() - start, shown_ms / 1000.0 - 0.1)


class Commands(Controller):
    def check_send(self, step, payload):
        status, lines, _ = self.converse([step], [(package(U, payload), [])])
        self.assertEqual((status, lines[-1]), (0, "send ok"))

    def test_watchdog_sends_no_command(self):
        self.check_send("send:watchdog:2", struct.pack(">BI", 2, 0))

    def test_set_standard_digital_output(self):
        self.check_send("send:std_digital_out:1:15:5", struct.pack(">BIBB", 1, 13, 15, 5))

    def test_set_input_double_register(self):
        self.check_send("send:input_double:3:1.5", struct.pack(">BId", 3, 50, 1.5))

    def test_set_input_int_register(self):
        self.check_send("send:input_int:3:-7", struct.pack(">BIi", 3, 49, -7))

    def test_movej_values_then_async(self):
        values = [0.1, -0.2, 0.3, 0.4, 0.5, 0.6]
        self.check_send("send:movej:1:1:" + ",".join(str(x) for x in values),
                        struct.pack(">BI", 1, 1) + struct.pack(">6d", *values) + struct.pack(">i", 1))


if __name__ == "__main__":
    unittest.main()
