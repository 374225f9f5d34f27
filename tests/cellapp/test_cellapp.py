"""cellapp as a program: start-up and drive identification through busmaster
on a simulated segment, the XML-RPC methods through xmlrpc.client before the
application runs, bad calls, the program commands without RTDE packages and
the exits."""
import http.client
import os
import re
import socket
import struct
import threading
import time
import unittest
import xmlrpc.client

from cell_harness import CHOSEN, INSTALL_DIR, PORT, Cell, proxy, raw_request, wait_until, whole_chain, whole_cell

ADAPTER = "slave adapter device=dio vendor=2221 product=1\n"
SCHNEIDER = "device=cia402 profile=schneider vendor=134217818 product=91200\n"
CELL = ADAPTER + "slave drive " + SCHNEIDER

FIXED = [("get_commissioning_scaling_param", 1), ("get_pos_scaling_num", 1), ("get_vel_scaling_denom", 1),
         ("get_vel_scaling_num", 1), ("get_acc_scaling_denom", 1), ("get_acc_scaling_num", 1),
         ("get_digital_inputs_outputs", 1), ("move_to_pos_limit_switch", 0), ("move_to_neg_limit_switch", 0),
         ("read_last_warning", 0), ("send_halt_request", 0), ("activate_debug_mode", 0),
         ("get_positive_limit_switch_detected", 0), ("get_negative_limit_switch_detected", 0)]

# Guarded methods before the application runs: their defaults, no parameter read.
BEFORE_OP = [("get_axes_manager_status", (), 3), ("get_actual_pos", (0,), 0.0), ("get_actual_vel", (0,), 0.0),
             ("get_ax_status", (0,), -4), ("read_last_error", (0,), 0), ("get_is_target_reached", (), False),
             ("get_is_quick_stop_active", (0,), False), ("get_is_safety_active", (), False),
             ("get_limit_switch_detected", (), False), ("get_commissioning_vel", (0,), 0.0), ("get_commissioning_acc", (0,), 0.0),
             ("get_commissioning_homing_method", (0,), 0), ("get_commissioning_homing_vel", (0,), 0.0),
             ("get_commissioning_homing_acc", (0,), 0.0), ("get_commissioning_homing_switch_vel", (0,), 0.0)]

# Axis commands before the application runs: nothing is sent, the answer is
# a fault (never the 0 of a command sent).
NOT_SENT_BEFORE_OP = [("reset_axes", ()), ("detorque_axes", ()), ("send_quick_stop_request", ()),
                      ("do_homing", (0, 35.0, 1.0, 1.0, 1.0)), ("move_to_target_vel", (0, 1.0, 1.0)),
                      ("move_to_target_pos", (0, 1.0, 1.0, 1.0, 0, True))]

METHODS = ["get_version_number", "get_ethercat_online_slaves_number", "get_axes_manager_status", "get_ondara_id",
           "get_ethercat_xml_idx", "get_ethercat_slave_type", "get_ethercat_slave_vendor_id",
           "get_ethercat_slave_product_code", "reset_axes", "detorque_axes", "send_quick_stop_request", "do_homing",
           "move_to_target_vel", "move_to_target_pos", "move_to_pos_limit_switch", "move_to_neg_limit_switch",
           "get_actual_pos", "get_actual_vel", "get_ax_status", "get_ondara_program_status", "stop_ondara",
           "read_last_error", "read_last_warning", "send_halt_request", "get_commissioning_vel",
           "get_commissioning_acc", "get_commissioning_homing_method", "get_commissioning_homing_vel",
           "get_commissioning_homing_acc", "get_commissioning_homing_switch_vel",
           "get_commissioning_scaling_param", "get_pos_scaling_num", "get_vel_scaling_denom",
           "get_vel_scaling_num", "get_acc_scaling_denom", "get_acc_scaling_num", "get_is_target_reached",
           "get_is_quick_stop_active", "get_is_safety_active", "activate_debug_mode", "get_limit_switch_detected",
           "get_positive_limit_switch_detected", "get_negative_limit_switch_detected",
           "get_digital_inputs_outputs", "program_move_to_target_position", "program_move_to_target_velocity",
           "program_do_homing", "program_get_state"]

# Calls the library or the method refuses: wrong types, missing parameters,
# homing methods that do not fit a signed byte.
BAD_CALLS = [
    ("get_ethercat_slave_type", (1.0,)), ("get_ethercat_slave_type", ("1",)), ("get_ethercat_slave_type", (True,)),
    ("get_ethercat_slave_type", ()), ("get_ethercat_slave_vendor_id", (1.5,)),
    ("get_ethercat_slave_product_code", ()),
    ("program_move_to_target_position", (0, 1, 1.0, 1.0)), ("program_move_to_target_position", (0.0, 1.0, 1.0, 1.0)),
    ("program_move_to_target_position", (0, "1.0", 1.0, 1.0)), ("program_move_to_target_position", (0, 1.0, 1.0)),
    ("program_move_to_target_velocity", (0, 1.0, 1)), ("program_move_to_target_velocity", (False, 1.0, 1.0)),
    ("program_move_to_target_velocity", ()),
    ("program_do_homing", (0, 35.0, 1.0, 1.0, 1.0)), ("program_do_homing", (0, 35, 1.0, 1.0)),
    ("program_do_homing", (0, 300, 1.0, 1.0, 1.0)), ("program_do_homing", (0, -129, 1.0, 1.0, 1.0)),
    ("no_such_method", ()), ("system.methodHelp", ()),
]


def cellapp_log_after(cell, mark):
    return cell.cellapp.log()[mark:]


class Before_The_Application_Runs(unittest.TestCase):
    """busmaster without a bus: every scan finds no slave, the status stays 1."""

    @classmethod
    def setUpClass(cls):
        cls.cell = Cell(interface="no_such_if")
        cls.cell.start_cellapp()
        assert cls.cell.cellapp.wait_for("slaves on network"), cls.cell.cellapp.log()
        cls.rpc = proxy()

    @classmethod
    def tearDownClass(cls):
        code = cls.cell.cellapp.stop()
        cls.cell.close()
        assert code == -15, "cellapp ended by itself with %s" % code

    def test_scans_again_every_two_seconds(self):
        self.assertTrue(self.cell.cellapp.wait_for("[ondara][main] :: 0 slaves on network", 10, count=2))
        self.assertIn("[ondara][main] :: xml file name is %s/etc/rtframe/.xml" % INSTALL_DIR, self.cell.cellapp.log())
        self.assertEqual(self.rpc.get_ondara_program_status(), 1)
        self.assertFalse(os.path.exists(CHOSEN))

    def test_fixed_answers(self):
        for method, answer in FIXED:
            with self.subTest(method=method):
                result = getattr(self.rpc, method)()
                self.assertEqual(result, answer)
                self.assertIs(type(result), int)

    def test_identity(self):
        self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        self.assertEqual(self.rpc.get_ondara_id(), "")
        self.assertEqual(self.rpc.get_ondara_program_status(), 1)

    def test_bus_answers_before_a_match(self):
        rpc = self.rpc
        self.assertEqual(rpc.get_ethercat_online_slaves_number(), 0)
        self.assertEqual(rpc.get_ethercat_xml_idx(), -1)
        self.assertEqual(rpc.get_ethercat_slave_type(0), 0, "entries not reached keep the adapter's row")
        self.assertEqual(rpc.get_ethercat_slave_vendor_id(4), 2221)
        self.assertEqual(rpc.get_ethercat_slave_product_code(4), 1)
        # Slave indexes outside 0-4: an error line and the default.
        mark = len(self.cell.cellapp.log())
        for method, default in [("get_ethercat_slave_type", 0), ("get_ethercat_slave_vendor_id", 2221),
                                ("get_ethercat_slave_product_code", 1)]:
            for slave in (-1, 5, 1000):
                with self.subTest(method=method, slave=slave):
                    self.assertEqual(getattr(rpc, method)(slave), default)
        self.assertTrue(wait_until(lambda: cellapp_log_after(self.cell, mark).count("no slave index") == 9, 5),
                        cellapp_log_after(self.cell, mark))

    def test_guarded_methods_answer_their_defaults(self):
        for method, params, default in BEFORE_OP:
            with self.subTest(method=method):
                start = time.monotonic()
                result = getattr(self.rpc, method)(*params)
                self.assertEqual(result, default)
                self.assertIs(type(result), type(default))
                self.assertLess(time.monotonic() - start, 1.0, "no completion wait before the application runs")

    def test_axis_commands_are_faults_before_the_application_runs(self):
        for method, params in NOT_SENT_BEFORE_OP:
            with self.subTest(method=method):
                with self.assertRaises(xmlrpc.client.Fault) as raised:
                    getattr(self.rpc, method)(*params)
                self.assertIn("not sent", raised.exception.faultString)

    def test_introspection_and_multicall(self):
        names = self.rpc.system.listMethods()
        self.assertEqual(sorted(n for n in names if not n.startswith("system.")), sorted(METHODS))
        self.assertEqual(len(METHODS), 48)
        self.assertIn("system.multicall", names)
        for method in METHODS:
            self.assertEqual(self.rpc.system.methodHelp(method), "")
        multicall = xmlrpc.client.MultiCall(self.rpc)
        multicall.get_version_number()
        multicall.get_ethercat_slave_type("x")
        results = multicall()
        self.assertEqual(results[0], "4.1.0")
        with self.assertRaises(xmlrpc.client.Fault):
            results[1]

    def test_bad_calls_are_faults_and_the_next_call_is_answered(self):
        for method, params in BAD_CALLS:
            with self.subTest(method=method, params=params):
                with self.assertRaises(xmlrpc.client.Fault):
                    getattr(self.rpc, method)(*params)
                self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        self.assertEqual(self.rpc.program_get_state(), 0, "no bad call reached the program state machine")

    def test_malformed_and_silent_connections(self):
        reply = raw_request(b"<?xml version=\"1.0\"?><methodCall><methodName>get_version_number")
        self.assertTrue(reply == "" or "faultCode" in reply, reply)
        reply = raw_request(b"not xml at all")
        self.assertTrue(reply == "" or "faultCode" in reply, reply)
        with socket.create_connection(("127.0.0.1", PORT)) as silent:
            self.assertEqual(self.rpc.get_version_number(), "4.1.0")
            self.assertEqual(self.rpc.get_ondara_program_status(), 1)
            silent.sendall(b"POST /RPC2 HTTP/1.0\r\n")
            self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        self.assertEqual(self.rpc.get_version_number(), "4.1.0")

    def test_program_commands_without_packages(self):
        start = time.monotonic()
        self.assertEqual(self.rpc.program_get_state(), 0)
        self.assertLess(time.monotonic() - start, 0.5, "a state request never waits")
        for method, params in [("program_move_to_target_position", (0, 1.0, 1.0, 1.0)),
                               ("program_move_to_target_velocity", (0, 1.0, 1.0)),
                               ("program_do_homing", (0, 35, 1.0, 1.0, 1.0))]:
            with self.subTest(method=method):
                start = time.monotonic()
                with self.assertRaises(xmlrpc.client.Fault) as fault:
                    getattr(self.rpc, method)(*params)
                self.assertGreaterEqual(time.monotonic() - start, 0.9)
                self.assertIn("withdrawn", fault.exception.faultString)
                self.assertEqual(self.rpc.program_get_state(), 0)

    def test_stop_before_the_application_runs(self):
        mark = len(self.cell.cellapp.log())
        self.assertEqual(self.rpc.stop_ondara(), 0)
        self.assertIn("[OndaraXmlRpc][stop_ondara] :: stopping ONDARA!", cellapp_log_after(self.cell, mark))
        self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        self.assertIsNone(self.cell.cellapp.process.poll())


class Start_Up(unittest.TestCase):
    """The cell of the install tree: adapter and one Schneider drive."""

    def setUp(self):
        self.cell = Cell(segment=CELL)

    def tearDown(self):
        self.cell.close()

    def test_identifies_the_drive_and_copies_its_descriptor(self):
        cellapp = self.cell.start_cellapp()
        rpc = proxy()
        seen = []
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and 2 not in seen:
            status = rpc.get_ondara_program_status()
            if not seen or seen[-1] != status:
                seen.append(status)
            time.sleep(0.02)
        self.assertEqual(seen, [1, 2], cellapp.log())
        log = cellapp.log()
        lines = ["[ondara][main] :: Entered in eth_preliminary_info_exchange...",
                 "[ondara][main] :: Opening connection with master...",
                 "get_slave_information_incr_read -> address_slave = 1, vendor_id = 2221, product_code = 1",
                 "get_slave_information_incr_read -> address_slave = 2, vendor_id = 134217818, product_code = 91200",
                 "[ondara][main] :: 2 slaves on network",
                 "[ondara][main] :: xml file name is %s/etc/rtframe/134217818_91200.xml" % INSTALL_DIR,
                 "[ondara][main] :: starting with 1 axes",
                 "[ondara][main] :: ethercat_master_preliminary_info_exchange terminated"]
        at = 0
        for line in lines:
            found = log.find(line, at)
            self.assertGreaterEqual(found, 0, "%s\nmissing or out of order in\n%s" % (line, log))
            at = found
        # The framework thread, started once the axes are known, logs beside
        # the main thread's last line.
        self.assertGreater(log.find("[ondara][main] framework_thread :: try m_framework.init_ex()"),
                           log.find("[ondara][main] :: starting with 1 axes"), log)
        with open(CHOSEN, "rb") as copy, open(INSTALL_DIR + "/etc/rtframe/134217818_91200.xml", "rb") as source:
            self.assertEqual(copy.read(), source.read())
        self.assertEqual(rpc.get_ethercat_online_slaves_number(), 2)
        self.assertEqual(rpc.get_ethercat_xml_idx(), 1)
        self.assertEqual(rpc.get_ethercat_slave_type(0), 0)
        self.assertEqual(rpc.get_ethercat_slave_type(1), 1)
        self.assertEqual(rpc.get_ethercat_slave_vendor_id(1), 134217818)
        self.assertEqual(rpc.get_ethercat_slave_product_code(1), 91200)
        # Without rtframe the attach fails every 2 s and the status stays 2.
        self.assertTrue(cellapp.wait_for("[ondara][main] framework_thread :: m_framework.init_ex() exception -> ",
                                         10, count=2), cellapp.log())
        self.assertEqual(rpc.get_ondara_program_status(), 2)
        self.assertEqual(rpc.get_axes_manager_status(), 3)
        self.assertEqual(cellapp.stop(), -15)

    def test_a_failed_copy_is_reported_and_the_scan_repeats(self):
        os.makedirs(CHOSEN)  # a folder where the copy must go: the rename fails
        cellapp = self.cell.start_cellapp()
        self.assertTrue(cellapp.wait_for("[ondara][main] :: 2 slaves on network", 20, count=2), cellapp.log())
        log = cellapp.log()
        self.assertIn("cannot copy %s/etc/rtframe/134217818_91200.xml to %s" % (INSTALL_DIR, CHOSEN), log)
        self.assertEqual(proxy().get_ondara_program_status(), 1)
        self.assertEqual(proxy().get_ethercat_xml_idx(), -1)
        self.assertNotIn("framework_thread", log)
        self.assertEqual(cellapp.stop(), -15)
        os.rmdir(CHOSEN)


class Bus_Identification(unittest.TestCase):
    """Buses in a table: the chosen descriptor or a scan every 2 s."""

    BUSES = [
        ("two Schneider drives", ADAPTER + "slave d1 " + SCHNEIDER + "slave d2 " + SCHNEIDER, 0, 3),
        ("an Infranor drive", ADAPTER + "slave d1 device=cia402 profile=infranor vendor=130 product=768\n", 3, 2),
        ("the adapter alone", ADAPTER, None, 1),
        ("an unknown drive", ADAPTER + "slave d1 device=cia402 profile=generic\n", None, 2),
        ("six slaves", ADAPTER + "".join("slave d%d %s" % (i, SCHNEIDER) for i in range(1, 6)), None, 6),
    ]

    def test_buses(self):
        for what, segment, index, slaves in self.BUSES:
            with self.subTest(bus=what):
                cell = Cell(segment=segment)
                try:
                    cellapp = cell.start_cellapp()
                    rpc = proxy()
                    if index is not None:
                        self.assertTrue(cellapp.wait_for("ethercat_master_preliminary_info_exchange terminated", 60),
                                        cellapp.log())
                        self.assertIn("[ondara][main] :: starting with %d axes" % (slaves - 1), cellapp.log())
                        self.assertEqual(rpc.get_ethercat_xml_idx(), index)
                        self.assertTrue(wait_until(lambda: rpc.get_ondara_program_status() == 2, 5))
                    else:
                        line = "[ondara][main] :: %d slaves on network" % slaves
                        self.assertTrue(cellapp.wait_for(line, 60, count=2), cellapp.log())
                        self.assertNotIn("starting with", cellapp.log())
                        self.assertEqual(rpc.get_ethercat_xml_idx(), -1)
                        self.assertEqual(rpc.get_ondara_program_status(), 1)
                        self.assertEqual(rpc.get_version_number(), "4.1.0")
                    self.assertEqual(rpc.get_ethercat_online_slaves_number(), slaves)
                    self.assertEqual(cellapp.stop(), -15)
                finally:
                    cell.close()


class Exits(unittest.TestCase):
    def test_no_master(self):
        cell = Cell(master=False)
        try:
            cellapp = cell.start_cellapp(wait_port=False)
            self.assertEqual(cellapp.wait_exit(), 1, cellapp.log())
            self.assertIn("[ondara][main] :: ethercat_master_preliminary_info_exchange :: preliminary_hook error",
                          cellapp.log())
        finally:
            cell.close()

    def test_port_taken(self):
        cell = Cell(interface="no_such_if")
        taken = socket.socket()
        try:
            taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            taken.bind(("0.0.0.0", PORT))
            taken.listen(1)
            cellapp = cell.start_cellapp(wait_port=False)
            self.assertEqual(cellapp.wait_exit(), 1, cellapp.log())
            self.assertIn("cannot bind the XML-RPC port 44044", cellapp.log())
        finally:
            taken.close()
            cell.close()

    def test_unsafe_start_up_script_is_not_run(self):
        cell = Cell(interface="no_such_if")
        script_dir = "/tmp/%s/bin" % os.path.basename(INSTALL_DIR)
        try:
            os.makedirs(script_dir, exist_ok=True)
            os.chmod("/tmp/" + os.path.basename(INSTALL_DIR), 0o755)
            os.chmod(script_dir, 0o755)
            script = script_dir + "/create_link.sh"
            for mode, runs in [(0o777, False), (0o755, True)]:
                with self.subTest(mode=oct(mode)):
                    with open(script, "w") as f:
                        f.write("#!/bin/sh\ntouch /tmp/script_ran\necho linked\n")
                    os.chmod(script, mode)
                    if os.path.exists("/tmp/script_ran"):
                        os.unlink("/tmp/script_ran")
                    cellapp = cell.start_cellapp()
                    self.assertEqual(os.path.exists("/tmp/script_ran"), runs)
                    self.assertEqual("start-up script not run" in cellapp.log(), not runs, cellapp.log())
                    self.assertEqual(cellapp.stop(), -15)
        finally:
            cell.close()


class Robot_Address(unittest.TestCase):
    def test_address_file(self):
        cases = [("robot-10.0.0.7-\n", "Robot IP address: 10.0.0.7\n"),
                 ("robot-10.0.0.7\n", "Robot IP address: 10.0.0.7\n"),
                 ("robot- 10.0.0.7 \r\n", "Robot IP address: 10.0.0.7\n"),
                 ("robot\n", "holds no address"),
                 (None, "cannot open %s/etc/ip_addr.txt" % INSTALL_DIR)]
        for content, expected in cases:
            with self.subTest(content=content):
                cell = Cell(interface="no_such_if")
                try:
                    path = INSTALL_DIR + "/etc/ip_addr.txt"
                    if content is None:
                        os.unlink(path)
                    else:
                        with open(path, "w") as f:
                            f.write(content)
                    cellapp = cell.start_cellapp()
                    self.assertIn(expected, cellapp.log())
                    self.assertEqual(cellapp.stop(), -15)
                finally:
                    cell.close()


AXIS = 0
# Program state ids.
STOPPED, RESTORE, WAITING, EXECUTE, PAUSED, FAULT, QUICKSTOP = 0, 1, 2, 3, 4, 5, 6


def units(position):
    return int(round(position * whole_cell.position_factor()))


class In_Op(unittest.TestCase):
    """One whole chain in OP for every case: the methods against the drive
    and the program commands on the packages of robotsim."""

    @classmethod
    def setUpClass(cls):
        cls.statuses = []
        stop = threading.Event()

        def follow():  # the application status as it rises, from the first answer
            rpc = proxy(5.0)
            while not stop.is_set():
                try:
                    status = rpc.get_ondara_program_status()
                except OSError:
                    time.sleep(0.02)
                    continue
                if not cls.statuses or cls.statuses[-1] != status:
                    cls.statuses.append(status)
                if status == 3:
                    return
                time.sleep(0.02)

        follower = threading.Thread(target=follow)
        follower.start()
        try:
            cls.cell = whole_chain()
            follower.join(10)
        finally:
            stop.set()
            follower.join()
        cls.rpc = proxy()

    @classmethod
    def tearDownClass(cls):
        cls.cell.stop()

    def run(self, result=None):
        """A case that fails prints each log's last warnings, errors and lines."""
        failed = len(result.failures) + len(result.errors) if result is not None else 0
        outcome = super().run(result)
        if result is not None and len(result.failures) + len(result.errors) > failed:
            print(self.cell.tails(), flush=True)
        return outcome

    def setUp(self):
        # No fault cause in the drive, robot program playing, the program
        # machine stopped, the axis enabled and the manager at rest. Tried
        # again while the bus is brought back after a stall of a busy machine.
        deadline = time.monotonic() + 90
        while True:
            self.assertTrue(whole_cell.ecatsim_request("fault 1 0").startswith("OK"))
            self.assertTrue(whole_cell.ecatsim_request("warning 1 off").startswith("OK"))
            self.robot("state 1 0 1")
            stopped = wait_until(lambda: self.rpc.program_get_state() == STOPPED, 3)
            if not stopped:
                # After a quick stop or a reset the machine waits for an
                # acknowledged command before it follows a stopped program:
                # a move by nought, followed to its end, gives it one.
                self.rpc.move_to_target_pos(AXIS, 0.0, 10.0, 100.0, 0, True)
                wait_until(lambda: self.rpc.get_is_target_reached(), 10)
                stopped = wait_until(lambda: self.rpc.program_get_state() == STOPPED, 10)
            self.robot("state 2 0 3")
            # Enabled and standing: idle (8), or working in the mode of its
            # last procedure (26, 27).
            # A manager that is not operational refuses the quick stop; the
            # reset then brings it back.
            self.answers_0("send_quick_stop_request")
            if stopped and self.answers_0("reset_axes") and wait_until(
                    lambda: self.rpc.get_ax_status(AXIS) in (8, 26, 27) and self.rpc.get_axes_manager_status() == 1
                    and self.rpc.get_actual_vel(AXIS) == 0.0, 5):
                return
            self.assertLess(time.monotonic(), deadline, "the cell did not come back to rest\n" + self.cell.tails())

    def answers_0(self, method):
        """True when the command answered 0, False when the manager refused it."""
        try:
            return getattr(self.rpc, method)() == 0
        except xmlrpc.client.Fault as fault:
            self.assertIn("the axes manager refused the command", fault.faultString)
            return False

    def robot(self, command):
        self.assertTrue(whole_cell.robot_request(command).startswith("OK"), command)

    def pause_program(self):
        """The robot pauses its program; the machine follows to paused."""
        self.robot("state 4 0 1")
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == PAUSED, 30))

    def play_program(self):
        self.robot("state 2 0 3")

    def log(self, name):
        return self.cell.processes[name].log()

    def wait_position(self, position, timeout=60):
        return wait_until(lambda: abs(self.rpc.get_actual_pos(AXIS) - position) < 0.01, timeout, )

    def test_start_up_statuses(self):
        self.assertEqual(self.statuses, [1, 2, 3])
        log = self.log("cellapp")
        for line in ["[ondara][main] :: 2 slaves on network", "[ondara][main] :: starting with 1 axes",
                     "[rtde_interface][start_rtde] : RTDE started!"]:
            self.assertIn(line, log)
        with open(CHOSEN, "rb") as copy, open(INSTALL_DIR + "/etc/rtframe/134217818_91200.xml", "rb") as source:
            self.assertEqual(copy.read(), source.read())

    def test_bus_answers(self):
        for method, params, answer in [("get_ethercat_online_slaves_number", (), 2), ("get_ethercat_xml_idx", (), 1),
                                       ("get_ethercat_slave_type", (1,), 1),
                                       ("get_ethercat_slave_vendor_id", (1,), 134217818),
                                       ("get_ethercat_slave_product_code", (1,), 91200),
                                       ("get_version_number", (), "4.1.0")]:
            with self.subTest(method=method):
                self.assertEqual(getattr(self.rpc, method)(*params), answer)

    def test_reset_answers_once_completed(self):
        axmand = self.cell.processes["axmand"]
        self.assertEqual(self.rpc.detorque_axes(), 0)
        # The manager refuses a reset until the detorque has ended (status 3).
        self.assertTrue(wait_until(lambda: self.rpc.get_axes_manager_status() == 3 and
                                   self.rpc.get_ax_status(AXIS) == 0, 10))
        before = axmand.log().count("[State_Reset]  reset completed")
        self.assertEqual(self.rpc.reset_axes(), 0)
        # The manager's answer came before the method's.
        self.assertEqual(axmand.log().count("[State_Reset]  reset completed"), before + 1)
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == 8, 5))

    def test_a_command_the_manager_refuses_is_a_fault(self):
        """A lasting drive fault keeps the manager from being operational: it
        refuses the reset (the fault comes back) and the quick stop, and
        neither is answered as done."""
        self.assertTrue(whole_cell.ecatsim_request("fault 1 0x7300").startswith("OK"))
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == -4, 10))
        for method in ("reset_axes", "send_quick_stop_request"):
            with self.subTest(method=method):
                with self.assertRaises(xmlrpc.client.Fault) as raised:
                    getattr(self.rpc, method)()
                self.assertEqual(raised.exception.faultString,
                                 "%s: [OndaraXmlRpc][%s] :: the axes manager refused the command" % (method, method))
                self.assertNotEqual(self.rpc.get_axes_manager_status(), 1)

    def test_quick_stop_answers_once_completed_and_is_reported(self):
        axmand = self.cell.processes["axmand"]
        self.assertEqual(self.rpc.move_to_target_vel(AXIS, 2.0, 50.0), 0)
        self.assertTrue(wait_until(lambda: abs(self.rpc.get_actual_vel(AXIS) - 2.0) < 0.01, 20))
        # The velocity command's answer is taken first: the quick stop's wait
        # is for the quick stop's own answer.
        self.assertTrue(wait_until(lambda: self.rpc.get_is_target_reached(), 10))
        done = "quick_stop_request() ->   go to STATE_QUICK_STOP_ACTIVE"
        before = axmand.log().count(done)
        self.assertEqual(self.rpc.send_quick_stop_request(), 0)
        self.assertEqual(axmand.log().count(done), before + 1)
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == 23, 5))
        mark = len(self.log("cellapp"))
        self.assertIs(self.rpc.get_is_quick_stop_active(AXIS), True)
        self.assertTrue(wait_until(lambda: "[Ondara][GetIsQuickStopActive] : quickstop active: 1"
                                   in self.log("cellapp")[mark:], 5))
        self.assertTrue(wait_until(lambda: self.rpc.get_actual_vel(AXIS) == 0.0, 20))

    def test_homing_and_moves_answer_at_once_then_complete(self):
        axmand = self.cell.processes["axmand"]
        self.assertEqual(self.rpc.do_homing(AXIS, 35.9, 10.0, 50.0, 10.0), 0)  # homes with method 35
        self.assertTrue(wait_until(lambda: self.rpc.get_is_target_reached(), 30))
        self.assertIn("param :: axmngr_0_ax_0_homing_method m_value INT8_FSM:: 35", axmand.log())
        self.assertEqual(whole_cell.drive_position(), 0)
        # (position, 5th parameter, relative, position reached); 2 s or more each.
        moves = [(20.0, 0, False, 20.0), (-25.0, "anything", True, -5.0), (40.0, [1.5, "x"], True, 35.0),
                 (10.0, 2.5, False, 10.0)]
        for position, fifth, relative, reached in moves:
            with self.subTest(position=position, relative=relative):
                finished = axmand.log().count("procedure is finished")
                self.assertEqual(self.rpc.move_to_target_pos(AXIS, position, 10.0, 100.0, fifth, relative), 0)
                self.assertNotEqual(whole_cell.drive_position(), units(reached), "answered at once")
                self.assertTrue(wait_until(lambda: self.rpc.get_is_target_reached(), 60))
                self.assertEqual(whole_cell.drive_position(), units(reached))
                self.assertGreater(axmand.log().count("procedure is finished"), finished)
                self.assertTrue(self.wait_position(reached, 5))

    def test_velocity(self):
        self.assertEqual(self.rpc.move_to_target_vel(AXIS, 5.0, 50.0), 0)
        self.assertTrue(wait_until(lambda: abs(self.rpc.get_actual_vel(AXIS) - 5.0) < 0.01, 20))
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x606C 0").split()[1]),
                         int(round(5.0 * whole_cell.position_factor(AXIS, "vel"))))

    def test_detorque(self):
        self.assertEqual(self.rpc.detorque_axes(), 0)
        self.assertTrue(wait_until(lambda: self.rpc.get_axes_manager_status() == 3 and
                                   self.rpc.get_ax_status(AXIS) == 0, 10))
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1]) & 0x0F, 0, "no torque")
        # A homing on the detorqued axis is refused: never reported reached.
        axmand = self.cell.processes["axmand"]
        refused = axmand.log().count("post ok, answer is -1")
        self.assertEqual(self.rpc.do_homing(AXIS, 35.0, 10.0, 50.0, 10.0), 0)
        self.assertTrue(wait_until(lambda: axmand.log().count("post ok, answer is -1") > refused, 5))
        self.assertFalse(wait_until(lambda: self.rpc.get_is_target_reached(), 1))

    def test_commissioning_values_come_from_the_drive(self):
        # (object of the simulated drive, value, method, answer); the
        # Schneider class has no velocity resolution (10^0).
        cases = [("0x607F", 3000, "get_commissioning_vel", 3000.0), ("0x60C5", 1234, "get_commissioning_acc", 1234.0),
                 ("0x6098", 17, "get_commissioning_homing_method", 17)]
        for index, value, method, answer in cases:
            with self.subTest(method=method):
                kept = whole_cell.ecatsim_request("get 1 %s 0" % index).split()[1]
                self.assertTrue(whole_cell.ecatsim_request("set 1 %s 0 %d" % (index, value)).startswith("OK"))
                try:
                    result = getattr(self.rpc, method)(AXIS)
                finally:
                    whole_cell.ecatsim_request("set 1 %s 0 %s" % (index, kept))
                self.assertEqual(result, answer)
                self.assertIs(type(result), type(answer))

    def test_bad_calls_send_nothing_to_the_axes(self):
        calls = BAD_CALLS + [("do_homing", (0, 35, 1.0, 1.0, 1.0)), ("do_homing", (0, 300.0, 1.0, 1.0, 1.0)),
                             ("move_to_target_vel", (0, "1.0", 1.0)), ("move_to_target_pos", (0, 1.0, 1.0, 1.0, 0, 1)),
                             ("move_to_target_pos", (0, 1.0, 1.0, 1.0, 0)), ("get_actual_pos", (0.0,))]
        axmand = self.cell.processes["axmand"]
        commands = axmand.log().count("new command receive")
        for method, params in calls:
            with self.subTest(method=method, params=params):
                with self.assertRaises(xmlrpc.client.Fault):
                    getattr(self.rpc, method)(*params)
                self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        time.sleep(0.5)
        self.assertEqual(axmand.log().count("new command receive"), commands)
        self.assertEqual(self.rpc.program_get_state(), STOPPED)

    def test_unsafe_motion_values_are_faults_and_move_nothing(self):
        # (method, parameters, words of the fault): values that reached the
        # drive as 0 or as its largest raw value, and program commands on an
        # axis that ended the reading of the robot's packages.
        nan, inf = float("nan"), float("inf")
        calls = [
            ("move_to_target_vel", (AXIS, inf, 50.0), "velocity inf is not finite"),
            ("move_to_target_vel", (AXIS, nan, 50.0), "velocity nan is not finite"),
            ("move_to_target_vel", (AXIS, 5.0, -inf), "acceleration -inf is not finite"),
            ("move_to_target_vel", (AXIS, -5.0, -50.0), "acceleration -50 is negative"),
            ("move_to_target_pos", (AXIS, nan, 10.0, 100.0, 0, False), "position nan is not finite"),
            ("move_to_target_pos", (AXIS, 1.0, inf, 100.0, 0, True), "velocity inf is not finite"),
            ("move_to_target_pos", (AXIS, 1.0, -10.0, 100.0, 0, True), "velocity -10 is negative"),
            ("move_to_target_pos", (AXIS, 1.0, 10.0, -100.0, 0, True), "acceleration -100 is negative"),
            ("do_homing", (AXIS, 35.0, nan, 50.0, 10.0), "zero search velocity nan is not finite"),
            ("do_homing", (AXIS, 35.0, 10.0, -50.0, 10.0), "acceleration -50 is negative"),
            ("do_homing", (AXIS, 35.0, 10.0, 50.0, inf), "switch search velocity inf is not finite"),
            ("program_move_to_target_velocity", (AXIS, inf, 50.0), "velocity inf is not finite"),
            ("program_move_to_target_velocity", (AXIS, 5.0, -50.0), "acceleration -50 is negative"),
            ("program_move_to_target_position", (AXIS, nan, 20.0, 100.0), "position nan is not finite"),
            ("program_move_to_target_position", (AXIS, 30.0, -20.0, 100.0), "velocity -20 is negative"),
            ("program_do_homing", (AXIS, 35, 10.0, nan, 10.0), "acceleration nan is not finite"),
            ("program_move_to_target_velocity", (1, 5.0, 50.0), "axis 1 out of range (1 axes)"),
            ("program_move_to_target_position", (-1, 30.0, 20.0, 100.0), "axis -1 is negative"),
            ("program_do_homing", (127, 35, 10.0, 50.0, 10.0), "axis 127 out of range (1 axes)"),
            # Direct commands on an axis outside the bus, and commands of
            # every axis called with parameters they do not take.
            ("do_homing", (-1, 35.0, 10.0, 50.0, 10.0), "do_homing: axis -1 is negative"),
            ("do_homing", (2147483647, 35.0, 10.0, 50.0, 10.0), "axis 2147483647 out of range (1 axes)"),
            ("move_to_target_vel", (-1, 5.0, 50.0), "move_to_target_vel: axis -1 is negative"),
            ("move_to_target_vel", (2147483647, 5.0, 50.0), "axis 2147483647 out of range (1 axes)"),
            ("move_to_target_pos", (1, 1.0, 10.0, 100.0, 0, False), "move_to_target_pos: axis 1 out of range"),
            ("move_to_target_pos", (-1, 1.0, 10.0, 100.0, 0, True), "axis -1 is negative"),
            ("reset_axes", (0,), "reset_axes: takes no parameters (1 given)"),
            ("detorque_axes", (AXIS,), "detorque_axes: takes no parameters (1 given)"),
            ("send_quick_stop_request", (0, 1), "send_quick_stop_request: takes no parameters (2 given)"),
        ]
        axmand = self.cell.processes["axmand"]
        commands = axmand.log().count("new command receive")
        position = whole_cell.drive_position()
        for method, params, words in calls:
            with self.subTest(method=method, params=params):
                with self.assertRaises(xmlrpc.client.Fault) as fault:
                    getattr(self.rpc, method)(*params)
                self.assertIn(words, fault.exception.faultString)
                self.assertEqual(self.rpc.get_version_number(), "4.1.0")
        time.sleep(0.5)
        self.assertEqual(axmand.log().count("new command receive"), commands, "no command reached the axes")
        self.assertEqual(self.rpc.program_get_state(), STOPPED)
        self.assertEqual(whole_cell.drive_position(), position)
        self.assertTrue(self.cell.processes["cellapp"].running(), self.log("cellapp"))
        # The robot's packages are still read: a valid command runs.
        self.assertIn(self.rpc.program_move_to_target_velocity(AXIS, 5.0, 50.0), (STOPPED, RESTORE, EXECUTE))
        self.assertTrue(wait_until(lambda: self.drive_moves_at(5.0), 30), self.cell.tails())

    def transitions_since(self, mark, settled=False):
        """The program machine's transitions logged after mark; settled drops
        a leading execute --> waiting (a running command that completed after
        the mark, before the case's first action)."""
        log = self.log("cellapp")[mark:]
        transitions = re.findall(r"Executing  transition :: (\w+) --> (\w+)", log)
        if settled and transitions[:1] == [("execute", "waiting")]:
            transitions = transitions[1:]
        return transitions

    def test_a_position_command_waits_for_the_robot_program_to_play(self):
        self.robot("state 1 0 1")
        mark = len(self.log("cellapp"))
        self.assertEqual(self.rpc.program_move_to_target_position(AXIS, 30.0, 20.0, 100.0), STOPPED)
        time.sleep(0.5)
        self.assertEqual(self.rpc.program_get_state(), STOPPED, "pending until the program plays")
        self.play_program()
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == WAITING, 60))
        self.assertEqual(self.transitions_since(mark), [("stopped", "restore"), ("restore", "execute"),
                                                        ("execute", "waiting")])
        log = self.log("cellapp")[mark:]
        self.assertIn("[State_Restore][IN] : n_attempts = 0", log)
        self.assertIn("[State_Restore][OUT] : n_attempts = 1", log)
        self.assertEqual(whole_cell.drive_position(), units(30.0))
        # Pause and play: a completed position command does not run again.
        mark = len(self.log("cellapp"))
        self.pause_program()
        self.play_program()
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == WAITING, 20))
        self.assertEqual(self.transitions_since(mark), [("waiting", "paused"), ("paused", "waiting")])

    def test_a_drive_fault_ends_in_fault_then_stopped_on_a_state_request(self):
        self.assertIn(self.rpc.program_move_to_target_velocity(AXIS, 5.0, 50.0), (STOPPED, RESTORE, EXECUTE))
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == EXECUTE, 30))
        mark = len(self.log("cellapp"))
        self.assertTrue(whole_cell.ecatsim_request("fault 1 0x7300").startswith("OK"))
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == FAULT, 20))
        self.assertIn("[State_Fault][entering] : Fault detected!", self.log("cellapp")[mark:])
        # The request flag was lowered on entering; a later state request leads out.
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == STOPPED, 20))
        self.assertEqual(self.transitions_since(mark), [("execute", "fault"), ("fault", "stopped")])

    def test_a_lasting_drive_fault_ends_the_restore_after_four_resets(self):
        self.assertTrue(whole_cell.ecatsim_request("fault 1 0x7300").startswith("OK"))
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == -4, 10))
        mark = len(self.log("cellapp"))
        position = whole_cell.drive_position()
        self.assertIn(self.rpc.program_move_to_target_position(AXIS, 30.0, 20.0, 100.0), (STOPPED, RESTORE))
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == FAULT, 60))
        log = self.log("cellapp")[mark:]
        self.assertEqual(re.findall(r"\[State_Restore\]\[IN\] : n_attempts = (\d+)", log), ["0", "1", "2", "3"])
        self.assertIn("[State_Restore][OUT] : n_attempts = 4", log)
        # The state requests of the polls above lead on to stopped.
        transitions = self.transitions_since(mark)
        self.assertEqual(transitions[:2], [("stopped", "restore"), ("restore", "fault")])
        self.assertIn(transitions[2:], ([], [("fault", "stopped")]))
        self.assertEqual(whole_cell.drive_position(), position, "nothing moved")

    def drive_velocity(self):
        """The drive's velocity actual value (0x606C) in the simulator, drive units."""
        return int(whole_cell.ecatsim_request("get 1 0x606C 0").split()[1])

    def drive_moves_at(self, velocity):
        raw = velocity * whole_cell.position_factor(AXIS, "vel")
        return abs(self.drive_velocity() - raw) <= max(1.0, abs(raw) * 0.001)

    def drive_status_word(self):
        return int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1])

    def pause_and_play_a_velocity_command(self, acceleration, completed):
        """A program velocity command of 5.0, paused after it completed (at
        speed, the machine waiting) or while the drive still accelerates
        (executing), then played again: the drive moves once more."""
        self.assertIn(self.rpc.program_move_to_target_velocity(AXIS, 5.0, acceleration), (STOPPED, RESTORE, EXECUTE))
        if completed:
            self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == WAITING and self.drive_moves_at(5.0),
                                       30), self.cell.tails())
        else:
            self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == EXECUTE and self.drive_velocity() > 0,
                                       30), self.cell.tails())
        mark = len(self.log("cellapp"))
        self.pause_program()
        self.assertTrue(wait_until(lambda: self.drive_velocity() == 0, 30), self.cell.tails())
        self.play_program()
        if completed:
            self.assertTrue(wait_until(lambda: self.drive_moves_at(5.0), 30), self.cell.tails())
            self.assertEqual(self.transitions_since(mark)[:3], [("waiting", "paused"), ("paused", "waiting"),
                                                                ("waiting", "execute")])
        else:
            self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == EXECUTE and self.drive_velocity() > 0,
                                       30), self.cell.tails())
            self.assertEqual(self.transitions_since(mark), [("execute", "paused"), ("paused", "execute")])
            self.assertFalse(self.drive_moves_at(5.0), "accelerating again from standstill")

    def test_a_completed_velocity_command_resumes_after_play(self):
        self.pause_and_play_a_velocity_command(50.0, completed=True)

    def test_a_velocity_command_still_accelerating_resumes_after_play(self):
        # 20 s to reach the velocity: the pause comes long before.
        self.pause_and_play_a_velocity_command(0.25, completed=False)

    def test_a_completed_position_command_is_not_sent_again_after_play(self):
        self.assertIn(self.rpc.program_move_to_target_position(AXIS, 30.0, 20.0, 100.0), (STOPPED, RESTORE, EXECUTE))
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == WAITING, 60))
        self.assertEqual(whole_cell.drive_position(), units(30.0))
        mark = len(self.log("cellapp"))
        self.pause_program()
        self.play_program()
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == WAITING, 30))
        # A second pause closes the record: a command issued again would have
        # shown as a visit to execute before it.
        self.pause_program()
        self.assertEqual(self.transitions_since(mark), [("waiting", "paused"), ("paused", "waiting"),
                                                        ("waiting", "paused")])
        self.assertEqual(whole_cell.drive_position(), units(30.0))

    def test_a_drive_warning_quick_stops_until_a_state_request_with_the_program_stopped(self):
        self.assertIn(self.rpc.program_move_to_target_velocity(AXIS, 5.0, 50.0), (STOPPED, RESTORE, EXECUTE))
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() in (EXECUTE, WAITING) and
                                   self.drive_moves_at(5.0), 30), self.cell.tails())
        mark = len(self.log("cellapp"))
        self.assertEqual(whole_cell.ecatsim_request("warning 1 on"), "OK")
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == QUICKSTOP, 20), self.cell.tails())
        self.assertIn("[State_Quickstop][entering] : Quickstop", self.log("cellapp")[mark:])
        # A warning without a limit switch: the axes are quick stopped.
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == 23 and self.drive_velocity() == 0 and
                                   self.drive_status_word() & 0x6F == 0x07, 30),
                        "quick stop active\n" + self.cell.tails())
        # The warning gone, the state stays: the polls above were state
        # requests, but the program plays and no command is pending.
        self.assertEqual(whole_cell.ecatsim_request("warning 1 off"), "OK")
        self.assertTrue(wait_until(lambda: self.drive_status_word() & 0x80 == 0, 5))
        held = time.monotonic() + 1.0
        while time.monotonic() < held:
            self.assertEqual(self.rpc.program_get_state(), QUICKSTOP)
            time.sleep(0.05)
        # A stopped program and a state request lead to stopped, detorqued.
        self.robot("state 1 0 1")
        self.assertTrue(wait_until(lambda: self.rpc.program_get_state() == STOPPED, 20), self.cell.tails())
        transitions = self.transitions_since(mark, settled=True)
        self.assertIn(transitions, ([("execute", "quickstop"), ("quickstop", "stopped")],
                                    [("waiting", "quickstop"), ("quickstop", "stopped")]))
        self.assertTrue(wait_until(lambda: self.rpc.get_ax_status(AXIS) == 0 and self.drive_status_word() & 0x0F == 0,
                                   20), "no torque")


class Commissioning_With_Resolution(unittest.TestCase):
    """A chain whose drive is of a class with resolutions (a Festo drive),
    brought into operation and moved; the commissioning velocity is the drive's maximum velocity scaled by its
    velocity resolution, the acceleration is not scaled by its own."""

    def test_velocity_is_scaled_by_the_drive_resolution(self):
        cell = whole_chain(os.path.join(whole_cell.SOURCE, "examples", "cellapp", "festo_segment.cfg"))
        try:
            rpc = proxy()
            self.assertEqual(rpc.get_ethercat_xml_idx(), 4)
            self.assertEqual(rpc.get_ethercat_slave_vendor_id(1), 29)
            # The drive runs on the variant's ENI and descriptor: enabled, and a move reaches its target.
            # (The move is sent once the manager rests: a command it gets on its way there is refused.)
            self.assertEqual(rpc.reset_axes(), 0)
            self.assertTrue(wait_until(lambda: rpc.get_ax_status(AXIS) == 8 and rpc.get_axes_manager_status() == 1, 20),
                            cell.tails())
            self.assertEqual(rpc.move_to_target_pos(AXIS, 5.0, 10.0, 100.0, 0, False), 0)
            self.assertTrue(wait_until(lambda: whole_cell.drive_position() == units(5.0), 60), cell.tails())
            # 0x2FF3 (REAL32) is set by its bits.
            maximum = struct.unpack("<I", struct.pack("<f", 3000.0))[0]
            # (objects set in the drive, method, answer, log line)
            cases = [
                ([("0x2FF3", 0, maximum), ("0x2FF4", 2, 1)], "get_commissioning_vel", 300.0,
                 "[Ondara][GetCommissioningVel] : velocity resolution = 1"),
                ([("0x2FF3", 0, maximum), ("0x2FF4", 2, 0)], "get_commissioning_vel", 3000.0,
                 "[Ondara][GetCommissioningVel] : velocity resolution = 0"),
                ([("0x2FF3", 0, maximum), ("0x2FF4", 2, -1)], "get_commissioning_vel", 30000.0,
                 "[Ondara][GetCommissioningVel] : velocity resolution = -1"),
                ([("0x60C5", 0, 1234), ("0x2FF4", 3, 2)], "get_commissioning_acc", 1234.0,
                 "[Ondara][GetCommissioningAcc] : maximum acceleration = 1234"),
            ]
            for objects, method, answer, line in cases:
                with self.subTest(objects=objects, method=method):
                    for index, sub, value in objects:
                        self.assertTrue(whole_cell.ecatsim_request("set 1 %s %d %d" % (index, sub, value))
                                        .startswith("OK"))
                    mark = len(cell.processes["cellapp"].log())
                    result = getattr(rpc, method)(AXIS)
                    self.assertEqual(result, answer)
                    self.assertIs(type(result), float)
                    self.assertIn(line + "\n", cell.processes["cellapp"].log()[mark:])
        finally:
            statuses = cell.stop()
        for name, pid, status, expected in statuses:
            self.assertEqual(status, expected, name)


class Exits_In_Op(unittest.TestCase):
    """Each exit with a chain of its own: cellapp ends, the others run on."""

    def setUp(self):
        self.cell = whole_chain()
        self.cellapp = self.cell.processes["cellapp"]

    def tearDown(self):
        self.cell.stop()

    def others_run_on(self):
        time.sleep(1)
        for name in ("ecatsim", "busmaster", "robotsim", "rtframe", "axmand"):
            self.assertTrue(self.cell.processes[name].running(), name)

    def test_stop_ondara_closes_the_connection_and_exits_0(self):
        with self.assertRaises((ConnectionError, xmlrpc.client.ProtocolError, http.client.RemoteDisconnected,
                                OSError)):
            proxy().stop_ondara()
        self.assertEqual(self.cellapp.wait_exit(20), 0, self.cellapp.log())
        self.assertIn("[OndaraXmlRpc][stop_ondara] :: stopping ONDARA!", self.cellapp.log())
        self.others_run_on()

    def test_a_held_robot_stream_ends_cellapp_through_its_watchdog(self):
        self.assertTrue(whole_cell.robot_request("hold").startswith("OK"))
        held = time.monotonic()
        # 25 framework cycles of 4 ms, and a margin for a loaded machine.
        self.assertEqual(self.cellapp.wait_exit(10), 1, self.cellapp.log())
        self.assertLess(time.monotonic() - held, 5.0)
        self.assertIn("[ondara][main] :: Watchdog scaduto -> Esco dal programma", self.cellapp.log())
        self.others_run_on()


if __name__ == "__main__":
    unittest.main()
