"""robotsim byte by byte: this script is an RTDE client built from the
protocol's tables with struct alone. It starts the simulator program, takes it
through every request and refusal, checks its replies and the rate of its
data packages, and commands it over its control socket."""
import os
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest

ROBOTSIM = os.environ["ROBOTSIM"]
PORT, CONTROL = 30004, 30005

V, v, M, U, O, I, S, P = 86, 118, 77, 85, 79, 73, 83, 80
THREE = b"runtime_state,safety_status_bits,robot_status_bits,"


def read_file(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def package(kind, payload=b""):
    return struct.pack(">HB", len(payload) + 3, kind) + payload


def read_exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise EOFError(data)
        data += chunk
    return data


def read_package(conn):
    header = read_exact(conn, 3)
    size = struct.unpack(">H", header[:2])[0]
    return header + read_exact(conn, size - 3)


class Client:
    def __init__(self, address="127.0.0.1"):
        self.sock = socket.create_connection((address, PORT), timeout=5)

    def send(self, kind, payload=b""):
        self.sock.sendall(package(kind, payload))

    def read(self):
        return read_package(self.sock)

    def request(self, kind, payload=b""):
        """The reply of the request's own type; other packages before it are returned too."""
        self.send(kind, payload)
        before = []
        while True:
            reply = self.read()
            if reply[2] == kind:
                return reply, before
            before.append(reply)

    def outputs(self, names, frequency=125.0):
        return self.request(O, struct.pack(">d", frequency) + names)[0]

    def next_data(self):
        while True:
            p = self.read()
            if p[2] == U:
                return p

    def close(self):
        self.sock.close()


class Simulator(unittest.TestCase):
    arguments = []

    def setUp(self):
        self.log = tempfile.NamedTemporaryFile(prefix="robotsim", suffix=".log", delete=False)
        self.sim = subprocess.Popen([ROBOTSIM, "--address", "127.0.0.1", "--port", str(PORT),
                                     "--control-port", str(CONTROL)] + self.arguments,
                                    stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while b"[robotsim] ready" not in read_file(self.log.name):
            self.assertIsNone(self.sim.poll(), "robotsim ended before it was ready")
            self.assertLess(time.monotonic(), deadline, "robotsim not ready")
            time.sleep(0.005)
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            client.close()
        self.sim.send_signal(signal.SIGTERM)
        self.assertEqual(self.sim.wait(timeout=20), 0)
        self.log.close()
        os.unlink(self.log.name)

    def client(self):
        c = Client()
        self.clients.append(c)
        return c

    def control(self, line):
        with socket.create_connection(("127.0.0.1", CONTROL), timeout=5) as c:
            c.sendall(line.encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = c.recv(200)
                if not chunk:
                    break
                reply += chunk
        return reply.decode().rstrip("\n")

    def ok(self, line):
        reply = self.control(line)
        self.assertTrue(reply.startswith("OK"), "%s -> %s" % (line, reply))
        return reply


class Requests(Simulator):
    def test_protocol_version(self):
        c = self.client()
        self.assertEqual(c.request(V, b"\x00\x02")[0].hex(" "), "00 04 56 01")
        self.assertEqual(c.request(V, b"\x00\x01")[0].hex(" "), "00 04 56 00")
        self.ok("refuse_version on")
        self.assertEqual(c.request(V, b"\x00\x02")[0].hex(" "), "00 04 56 00")

    def test_controller_version_as_configured(self):
        c = self.client()
        self.assertEqual(c.request(v)[0].hex(" "), "00 13 76 00 00 00 05 00 00 00 0b 00 00 00 00 00 00 00 01")
        self.ok("version 3 15 7 106")
        self.assertEqual(c.request(v)[0], package(v, struct.pack(">IIII", 3, 15, 7, 106)))

    def test_output_setup_replies_recipe_id_and_types(self):
        c = self.client()
        self.assertEqual(c.outputs(b"timestamp"), bytes.fromhex("00 0A 4F 01") + b"DOUBLE")
        self.assertEqual(c.outputs(THREE), package(O, b"\x02UINT32,UINT32,UINT32"))
        self.assertEqual(c.outputs(b"joint_mode,actual_tool_accelerometer,target_q,actual_digital_input_bits,"
                                   b"robot_mode"),
                         package(O, b"\x03VECTOR6INT32,VECTOR3D,VECTOR6D,UINT64,INT32"))
        self.assertEqual(c.outputs(b""), package(O, b"\x04"))

    def test_output_setup_refusals(self):
        c = self.client()
        self.assertEqual(c.outputs(b"runtime_state,no_such_name,"), package(O, b"\x00UINT32,NOT_FOUND"))
        self.ok("unknown robot_mode")
        self.assertEqual(c.outputs(b"robot_mode"), package(O, b"\x00NOT_FOUND"))
        self.assertEqual(c.request(S)[0], package(S, b"\x00"))  # no valid recipe
        reply, before = c.request(O, struct.pack(">d", 501.0) + b"timestamp")
        self.assertEqual(reply, package(O, b"\x00DOUBLE"))
        self.assertEqual([p[2] for p in before], [M])
        names = b",".join([b"output_double_register_%d" % (i % 48) for i in range(90)])
        self.assertGreater(len(names), 2048)
        reply, before = c.request(O, struct.pack(">d", 125.0) + names)
        self.assertEqual(reply, package(O, b"\x00"))
        self.assertIn(b"2048", before[0])

    def test_input_setup_and_in_use(self):
        first, second = self.client(), self.client()
        self.assertEqual(first.request(I, b"input_int_register_0,")[0],
                         bytes.fromhex("00 09 49 01") + b"INT32")
        self.assertEqual(second.request(I, b"input_int_register_0,input_double_register_1")[0],
                         bytes.fromhex("00 11 49 00") + b"IN_USE,DOUBLE")
        self.assertEqual(second.request(I, b"runtime_state")[0], package(I, b"\x00NOT_FOUND"))
        self.ok("hold_input input_double_register_2")
        self.assertEqual(second.request(I, b"input_double_register_2")[0],
                         bytes.fromhex("00 0A 49 00") + b"IN_USE")
        first.close()
        self.clients.remove(first)
        deadline = time.monotonic() + 5
        while self.control("clients") != "OK 1":
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.01)
        self.assertEqual(second.request(I, b"input_int_register_0")[0], package(I, b"\x01INT32"))

    def test_input_data_packages(self):
        c = self.client()
        c.request(I, b"input_int_register_5,input_double_register_7,standard_digital_output")
        c.send(U, struct.pack(">BidB", 1, -12, 2.5, 0x81))
        deadline = time.monotonic() + 5
        while self.control("get input_int_register_5") != "OK -12":
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.01)
        self.assertEqual(self.control("get input_double_register_7"), "OK 2.5")
        self.assertEqual(self.control("get standard_digital_output"), "OK 129")
        c.send(U, struct.pack(">Bi", 9, 1))
        complaint = c.read()
        self.assertEqual(complaint[2], M)
        self.assertIn(b"unknown input recipe id 9", complaint)

    def test_start_pause_and_refused_starts(self):
        c = self.client()
        c.outputs(THREE)
        self.ok("refuse_start 2")
        self.assertEqual(c.request(S)[0].hex(" "), "00 04 53 00")
        self.assertEqual(c.request(S)[0].hex(" "), "00 04 53 00")
        self.assertEqual(c.request(S)[0].hex(" "), "00 04 53 01")
        c.next_data()
        reply, _ = c.request(P)
        self.assertEqual(reply.hex(" "), "00 04 50 01")
        c.sock.settimeout(0.2)
        with self.assertRaises(socket.timeout):
            c.read()

    def test_unknown_package_type_gets_a_text_message(self):
        c = self.client()
        c.send(88, b"\x01")
        message = c.read()
        length = message[3]
        self.assertEqual(message[2], M)
        self.assertEqual(message[4:4 + length], b"unknown package type 88 ignored")


class Stream(Simulator):
    def test_data_package_layout(self):
        c = self.client()
        self.ok("state 2 1 3")
        c.outputs(THREE)
        c.request(S)
        self.assertEqual(c.next_data().hex(" "), "00 10 55 01 00 00 00 02 00 00 00 01 00 00 00 03")
        self.ok("set joint_mode -1 2 -3 4 -5 6")
        self.ok("set actual_tool_accelerometer 0.5 -1.25 9.75")
        self.ok("set actual_digital_input_bits 1099511627781")
        c.outputs(b"joint_mode,actual_tool_accelerometer,actual_digital_input_bits")
        self.assertEqual(c.next_data(), package(U, struct.pack(">B6i3dQ", 2, -1, 2, -3, 4, -5, 6, 0.5, -1.25, 9.75,
                                                                 1099511627781)))

    def check_rate(self, frequency, seconds):
        """The controller's own timestamps are one period apart (a late
        package is skipped, never sent twice); the arrivals keep the pace."""
        c = self.client()
        c.outputs(b"timestamp", frequency)
        c.request(S)
        c.next_data()
        start = time.monotonic()
        stamps = []
        while time.monotonic() - start < seconds:
            stamps.append(struct.unpack(">d", c.next_data()[4:12])[0])
        gaps = sorted(b - a for a, b in zip(stamps, stamps[1:]))
        self.assertAlmostEqual(gaps[len(gaps) // 2], 1.0 / frequency, delta=0.05 / frequency)
        self.assertAlmostEqual(len(stamps) / seconds, frequency, delta=frequency * 0.2)

    def test_rate_500_hz(self):
        self.check_rate(500.0, 2.0)

    def test_rate_125_hz(self):
        self.check_rate(125.0, 2.0)

    def test_setup_while_started_replaces_the_recipe(self):
        c = self.client()
        c.outputs(b"runtime_state")
        c.request(S)
        c.next_data()
        reply, before = c.request(O, struct.pack(">d", 250.0) + b"timestamp,robot_mode")
        self.assertEqual(reply, package(O, b"\x02DOUBLE,INT32"))
        self.assertTrue(all(p == package(U, struct.pack(">BI", 1, 1)) for p in before if p[2] == U))
        for _ in range(5):
            p = c.next_data()
            self.assertEqual((len(p), p[3]), (3 + 1 + 8 + 4, 2))

    def test_several_clients_each_with_its_own_recipe(self):
        a, b = self.client(), self.client()
        a.outputs(b"runtime_state", 500.0)
        b.outputs(b"robot_mode,safety_mode", 125.0)
        a.request(S)
        b.request(S)
        self.assertEqual(a.next_data(), package(U, struct.pack(">BI", 1, 1)))
        self.assertEqual(b.next_data(), package(U, struct.pack(">Bii", 1, 7, 1)))

    def test_script_one_step_per_package_and_hold(self):
        c = self.client()
        c.outputs(THREE, 500.0)
        self.ok("hold")
        c.request(S)
        self.ok("script 1,0,1 2,0,3*3 2,16,3 4,8,1")
        self.ok("resume")
        states = [struct.unpack(">III", c.next_data()[4:16]) for _ in range(8)]
        self.assertEqual(states, [(1, 0, 1), (2, 0, 3), (2, 0, 3), (2, 0, 3), (2, 16, 3), (4, 8, 1), (4, 8, 1),
                                  (4, 8, 1)])
        self.ok("hold")
        sent = self.ok("count")
        c.sock.settimeout(0.3)
        rest = 0
        try:
            while True:
                c.next_data()
                rest += 1
        except socket.timeout:
            pass
        self.assertLessEqual(rest, 2)  # in flight when the stream was held
        self.assertEqual(self.ok("count"), sent)

    def test_stamp_is_the_send_time(self):
        c = self.client()
        self.ok("stamp 3")
        c.outputs(b"output_double_register_3", 500.0)
        c.request(S)
        c.next_data()
        for _ in range(20):
            p = c.next_data()
            stamp = struct.unpack(">d", p[4:12])[0]
            self.assertLess(abs(time.clock_gettime(time.CLOCK_MONOTONIC) - stamp), 0.05)


class Faults(Simulator):
    def streaming(self):
        c = self.client()
        c.outputs(THREE, 500.0)
        c.request(S)
        c.next_data()
        return c

    def drain_to_end(self, c):
        """Whole packages until the end of the stream; then the bytes of a cut package."""
        rest = b""
        while True:
            header = c.sock.recv(3)
            if len(header) < 3:
                return rest + header
            size = struct.unpack(">H", header[:2])[0]
            body = b""
            while len(body) < size - 3:
                chunk = c.sock.recv(size - 3 - len(body))
                if not chunk:
                    return header + body
                body += chunk

    def test_close_between_packages(self):
        c = self.streaming()
        self.ok("close between")
        self.assertEqual(self.drain_to_end(c), b"")

    def test_close_inside_a_package(self):
        c = self.streaming()
        self.ok("hold")
        self.ok("close inside")
        cut = self.drain_to_end(c)
        self.assertEqual(cut[:3], bytes.fromhex("00 10 55"))
        self.assertLess(len(cut), 16)

    def test_odd_packages(self):
        c = self.streaming()
        self.ok("hold")
        self.ok("state 2 16 3")
        for kind in ("short", "oversized", "unknown", "tiny"):
            self.ok("send " + kind)
        c.sock.settimeout(2)
        seen = []
        while len(seen) < 4:
            header = read_exact(c.sock, 3)
            if header == bytes.fromhex("00 02 55"):
                seen.append(header)
                continue
            p = header + read_exact(c.sock, struct.unpack(">H", header[:2])[0] - 3)
            if p[2] == U and len(p) == 16:
                continue  # in flight before the hold
            seen.append(p)
        self.assertEqual(seen, [package(U, b"\x01" + bytes(4)),
                                package(U, struct.pack(">BIII", 1, 2, 16, 3) + b"\x5A" * 8),
                                package(88, b"\x01\x02\x03\x04"),
                                bytes.fromhex("00 02 55")])

    def test_text_messages_now_and_before_a_reply(self):
        c = self.client()
        # A reply shows the simulator has taken the connection: "text" goes
        # to the sessions it has.
        self.assertEqual(c.request(V, b"\x00\x02")[0], package(V, b"\x01"))
        self.ok("text hello there")
        self.assertEqual(c.read(), package(M, b"\x0bhello there\x08robotsim\x03"))
        self.ok("text_before_reply in between")
        reply, before = c.request(V, b"\x00\x02")
        self.assertEqual(before, [package(M, b"\x0ain between\x08robotsim\x03")])
        self.assertEqual(reply, package(V, b"\x01"))

    def test_control_errors(self):
        for line in ("", "bogus", "state 1 2", "state a b c", "set runtime_state", "set nothing 1",
                     "send huge", "stamp 48", "refuse_version maybe", "hold_input runtime_state",
                     "script 1,2", "script 1,2,3*0", "script 1,2,3*x", "script 1,2,3*2000000"):
            with self.subTest(line=line):
                self.assertTrue(self.control(line).startswith("ERR"))


class Dump(Simulator):
    arguments = ["--dump", "/tmp/robotsim.dump"]

    def test_every_package_received_is_dumped(self):
        c = self.client()
        c.request(V, b"\x00\x02")
        c.outputs(b"timestamp")
        c.send(U, b"\x05\x01")
        c.read()  # the complaint about recipe 5
        lines = read_file("/tmp/robotsim.dump", "r").splitlines()
        self.assertEqual(lines, ["1 00 05 56 00 02",
                                 "1 " + package(O, struct.pack(">d", 125.0) + b"timestamp").hex(" ").upper(),
                                 "1 00 05 55 05 01"])


class Log(Simulator):
    arguments = ["--log-traffic"]

    def test_traffic_is_logged_in_the_log_format(self):
        c = self.client()
        c.request(V, b"\x00\x02")
        expected = [b" INF\x1b[0m] [robotsim] <- client 1: 00 05 56 00 02\n",
                    b" INF\x1b[0m] [robotsim] -> client 1: 00 04 56 01\n"]
        deadline = time.monotonic() + 5  # a line is written once its package is out
        while not all(line in read_file(self.log.name) for line in expected):
            self.assertLess(time.monotonic(), deadline, read_file(self.log.name))
            time.sleep(0.005)


if __name__ == "__main__":
    unittest.main()
