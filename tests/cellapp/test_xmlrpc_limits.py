"""cellapp's XML-RPC server against clients that misbehave, through raw
sockets and Python's xmlrpc.client: requests too large or nested too deep, a
NUL byte in the body, a flood of connections, connections that stay silent or
never finish their request. After each, cellapp still runs and a normal call
is answered. cellapp runs before OP, without a bus (as in test_cellapp.py)."""
import os
import resource
import select
import socket
import time
import unittest
import xmlrpc.client

from cell_harness import PORT, Cell, proxy, wait_until

# The limits cellapp states.
MAX_REQUEST_BYTES = 256 * 1024
MAX_CONNECTIONS = 256
FD_SETSIZE = 1024
DEFAULT_IDLE_S = 30.0
SHORT_IDLE_S = 2.0

CLOSED = "closed"
NO_REACTION = "no reaction"


def header(length, version="1.0", extra=""):
    return ("POST /RPC2 HTTP/%s\r\nContent-Type: text/xml\r\n%sContent-length: %d\r\n\r\n"
            % (version, extra, length)).encode()


def call_body(param_xml=b""):
    return (b'<?xml version="1.0"?>\r\n<methodCall><methodName>get_version_number</methodName>\r\n<params><param>'
            + param_xml + b"</param></params></methodCall>\r\n")


def nested_arrays(levels):
    """A parameter of arrays nested levels deep around one int: the call
    nests 3 * levels + 5 elements."""
    return call_body(b"<value><array><data>" * levels + b"<value><int>1</int></value>"
                     + b"</data></array></value>" * levels)


def request(body):
    return header(len(body)) + body


def outcome(reply):
    """CLOSED, NO_REACTION, "fault: <text>" or the answer's value."""
    if reply is None:
        return NO_REACTION
    if reply == b"":
        return CLOSED
    head, _, body = reply.partition(b"\r\n\r\n")
    try:
        return xmlrpc.client.loads(body.decode())[0][0]
    except xmlrpc.client.Fault as fault:
        return "fault: " + fault.faultString


def exchange(chunks, timeout=10.0):
    """Sends the chunks on a new connection, then reads until the server
    closes it. The bytes read (b"" when it closed without a reply), or None
    when it neither answered nor closed within the timeout."""
    with socket.create_connection(("127.0.0.1", PORT), timeout) as s:
        try:
            for chunk in chunks:
                s.sendall(chunk)
        except (BrokenPipeError, ConnectionResetError):
            pass  # closed while sending: whatever came before is read below
        reply = b""
        try:
            while True:
                data = s.recv(65536)
                if not data:
                    return reply
                reply += data
        except ConnectionResetError:
            return reply
        except socket.timeout:
            return None


def readable(s, timeout):
    poller = select.poll()
    poller.register(s, select.POLLIN)
    return bool(poller.poll(timeout * 1000))


def closed_by_server(s):
    """True once the server has closed s (end of stream or reset)."""
    if not readable(s, 0):
        return False
    try:
        return s.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b""
    except ConnectionResetError:
        return True


def wait_closed(s, timeout, trickle=None):
    """Waits for the server to close s, sending trickle (bytes) every 0.2 s
    meanwhile; True when it closed within the timeout."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if trickle is not None:
            try:
                s.sendall(trickle)
            except (BrokenPipeError, ConnectionResetError):
                return True
        if readable(s, 0.2) and closed_by_server(s):
            return True
    return False


def server_sockets():
    """(state, client port) of every connection on the server's port:
    "01" established (accepted or queued), "03" handshake not completed,
    "08" closed by the client and not yet by the server."""
    sockets = []
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            local, remote, state = line.split()[1:4]
            if int(local.split(":")[1], 16) == PORT and state != "0A":
                sockets.append((state, int(remote.split(":")[1], 16)))
    return sockets


def connect_in_turn():
    """A connection whose server side has completed its handshake: the
    server takes connections made so in the order they were made."""
    s = socket.create_connection(("127.0.0.1", PORT), 10)
    port = s.getsockname()[1]
    if not wait_until(lambda: ("01", port) in server_sockets() or closed_by_server(s), 20):
        s.close()
        raise AssertionError("the server side of connection %d never completed its handshake" % port)
    return s


def answered_on(s):
    """A call on the open connection s: its answer, or CLOSED."""
    body = call_body()
    try:
        s.sendall(header(len(body), "1.1") + body)
        reply = b""
        while b"</methodResponse>" not in reply:
            data = s.recv(65536)
            if not data:
                return CLOSED
            reply += data
    except (BrokenPipeError, ConnectionResetError):
        return CLOSED
    return outcome(reply)


class Limits_Case(unittest.TestCase):
    ARGUMENTS = ()

    @classmethod
    def setUpClass(cls):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
        cls.cell = Cell(interface="no_such_if")
        cls.cell.start_cellapp(arguments=cls.ARGUMENTS)
        assert cls.cell.cellapp.wait_for("slaves on network"), cls.cell.cellapp.log()

    @classmethod
    def tearDownClass(cls):
        code = cls.cell.cellapp.stop()
        cls.cell.close()
        assert code == -15, "cellapp ended by itself with %s" % code

    def call(self, method="get_version_number", timeout=10.0):
        with proxy(timeout) as rpc:
            return getattr(rpc, method)()

    def assert_serving(self):
        """cellapp runs and answers a normal call on a new connection."""
        self.assertIsNone(self.cell.cellapp.process.poll(), self.cell.cellapp.log()[-4000:])
        self.assertEqual(self.call(), "4.1.0")
        self.assertIsNone(self.cell.cellapp.process.poll())

    def descriptors(self):
        pid = self.cell.cellapp.process.pid
        return [int(fd) for fd in os.listdir("/proc/%d/fd" % pid)]


class Hostile_Clients(Limits_Case):
    """cellapp with its default limits."""

    def test_nesting_deeper_than_the_limit_is_refused_before_parsing(self):
        cases = [(19, "4.1.0"),  # 62 nested elements
                 (20, "fault"),  # 65
                 (5000, "fault"),  # within the size limit
                 (100000, CLOSED)]  # 4 MiB: refused by its size first
        for levels, expected in cases:
            with self.subTest(levels=levels):
                result = outcome(exchange([request(nested_arrays(levels))]))
                if expected == "fault":
                    self.assertTrue(str(result).startswith("fault: "), result)
                    self.assertIn("64", result)
                else:
                    self.assertEqual(result, expected)
                self.assert_serving()

    def test_requests_larger_than_the_limit_are_refused_and_closed(self):
        big_string = b"<value><string>" + b"x" * (200 * 1024) + b"</string></value>"
        cases = [
            ("a call of 200 KiB", [request(call_body(big_string))], "4.1.0"),
            ("a body over the limit", [request(call_body(b"<value><string>" + b"x" * MAX_REQUEST_BYTES
                                                         + b"</string></value>"))], CLOSED),
            ("a header that never ends", [b"POST /RPC2 HTTP/1.0\r\nX-Filler: "] + [b"y" * 65536] * 128, CLOSED),
            ("a length of 2 GiB", [header(2147483647)] + [b"<" * 65536] * 16, CLOSED),
            ("a length without digits", [header(0).replace(b": 0", b": many") + call_body()], CLOSED),
        ]
        for name, chunks, expected in cases:
            with self.subTest(case=name):
                self.assertEqual(outcome(exchange(chunks)), expected)
                self.assert_serving()

    def test_a_nul_byte_in_the_body_is_answered(self):
        body = call_body(b"<value><string>a\x00b</string></value>")
        cases = [("in one piece", [request(body)]),
                 ("header first", [header(len(body)), body]),
                 ("NUL at the start", [request(b"\x00" + body[1:])])]
        for name, chunks in cases:
            with self.subTest(case=name):
                result = outcome(exchange(chunks))
                self.assertTrue(result == CLOSED or str(result).startswith("fault: "), result)
                self.assert_serving()

    def test_a_flood_of_connections_is_capped_below_fd_setsize(self):
        # No connection of the earlier cases is left.
        self.assertTrue(wait_until(lambda: not [c for c in server_sockets() if c[0] in ("01", "08")], 20))
        flood = []
        try:
            for _ in range(FD_SETSIZE + 100):
                flood.append(connect_in_turn())
            self.assertIsNone(self.cell.cellapp.process.poll(), self.cell.cellapp.log()[-4000:])
            self.assertLess(max(self.descriptors()), FD_SETSIZE)
            # The newest are closed as soon as they are taken.
            for s in flood[MAX_CONNECTIONS:]:
                self.assertTrue(wait_closed(s, 10))
            # A new client meanwhile is refused at once, not left waiting.
            try:
                self.call()
                refused = None
            except (OSError, xmlrpc.client.ProtocolError) as error:
                refused = error
            self.assertIsNotNone(refused, "a call was answered beyond the cap")
            self.assertNotIsInstance(refused, socket.timeout)
            # Those held are served.
            for s in flood[:MAX_CONNECTIONS]:
                self.assertEqual(answered_on(s), "4.1.0")
        finally:
            for s in flood:
                s.close()
        self.assertTrue(wait_until(lambda: self.answers(), 20))
        self.assert_serving()

    def answers(self):
        try:
            return self.call() == "4.1.0"
        except (OSError, xmlrpc.client.ProtocolError):
            return False

    def test_a_silent_connection_is_closed_after_thirty_seconds(self):
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", PORT), 10) as silent:
            self.assertEqual(self.call(), "4.1.0")
            self.assertTrue(wait_closed(silent, DEFAULT_IDLE_S + 60))
            self.assertGreaterEqual(time.monotonic() - start, DEFAULT_IDLE_S - 0.5)
        self.assert_serving()


class Idle_Connections(Limits_Case):
    """cellapp with a short idle limit."""

    ARGUMENTS = ("--xmlrpc-idle-timeout", str(SHORT_IDLE_S))

    def test_silent_slow_and_stalled_requests_are_closed(self):
        body = call_body()
        cases = [("silent", b"", None),
                 ("a header sent a byte at a time", b"POST /RPC2 HTTP/1.1\r\n", b"X"),
                 ("a body that stops", header(len(body)) + body[:20], None),
                 ("a body sent a byte at a time", header(len(body) * 100) + body, b" ")]
        for name, start, trickle in cases:
            with self.subTest(case=name):
                with socket.create_connection(("127.0.0.1", PORT), 10) as s:
                    s.sendall(start)
                    self.assertTrue(wait_closed(s, 30, trickle))
                self.assert_serving()

    def test_a_kept_alive_connection_lives_on_between_calls(self):
        body = call_body()
        with socket.create_connection(("127.0.0.1", PORT), 10) as s:
            # Calls half the idle limit apart for three times the limit.
            for _ in range(int(3 * SHORT_IDLE_S / (SHORT_IDLE_S / 2))):
                s.sendall(header(len(body), "1.1") + body)
                reply = b""
                while b"</methodResponse>" not in reply:
                    data = s.recv(65536)
                    self.assertNotEqual(data, b"", "closed between calls")
                    reply += data
                self.assertEqual(outcome(reply), "4.1.0")
                self.assertFalse(wait_closed(s, SHORT_IDLE_S / 2))
            # Then silent: closed after the limit.
            self.assertTrue(wait_closed(s, 30))
        self.assert_serving()


if __name__ == "__main__":
    unittest.main()
