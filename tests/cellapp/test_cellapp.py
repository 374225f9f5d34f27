"""cellapp as a program: start-up and drive identification through busmaster
on a simulated segment, the XML-RPC methods through xmlrpc.client before the
application runs, bad calls, the program commands without RTDE packages and
the exits."""
import os
import socket
import time
import unittest
import xmlrpc.client

from cell_harness import CHOSEN, INSTALL_DIR, PORT, Cell, proxy, raw_request, wait_until

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
             ("get_limit_switch_detected", (), False), ("reset_axes", (), 0), ("detorque_axes", (), 0),
             ("send_quick_stop_request", (), 0), ("do_homing", (0, 35.0, 1.0, 1.0, 1.0), 0),
             ("move_to_target_vel", (0, 1.0, 1.0), 0), ("move_to_target_pos", (0, 1.0, 1.0, 1.0, 0, True), 0),
             ("get_commissioning_vel", (0,), 0.0), ("get_commissioning_acc", (0,), 0.0),
             ("get_commissioning_homing_method", (0,), 0), ("get_commissioning_homing_vel", (0,), 0.0),
             ("get_commissioning_homing_acc", (0,), 0.0), ("get_commissioning_homing_switch_vel", (0,), 0.0)]

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
                 "[ondara][main] :: ethercat_master_preliminary_info_exchange terminated",
                 "[ondara][main] framework_thread :: try m_framework.init_ex()"]
        at = 0
        for line in lines:
            found = log.find(line, at)
            self.assertGreaterEqual(found, 0, "%s\nmissing or out of order in\n%s" % (line, log))
            at = found
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


if __name__ == "__main__":
    unittest.main()
