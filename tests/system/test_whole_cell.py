"""The whole cell on simulated hardware, with the demo's own scripts
(scripts/whole_cell.py, examples/robot_program.py), each case in its own
namespaces (tests/isolate): the robot program against the far end (the drive
in the segment simulator), an outage of the segment, a stop of the whole
machine, the loss of the robot."""
import os
import re
import signal
import sys
import threading
import time
import unittest
import xmlrpc.client

SOURCE = os.environ["CELL_SOURCE_DIR"]
BUILD = os.environ["CELL_BUILD_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
sys.path.insert(0, os.path.join(SOURCE, "examples"))

import whole_cell  # noqa: E402
from robot_program import Robot_Program  # noqa: E402

ERR = re.compile(r"^\[[^\]]* ERR:?\] ?(.*)$", re.M)

# ERR lines a sound run writes, per program: cellapp's attach retries before
# rtframe's segments exist, the end of cellapp's bus walk (no slave at the
# third position) and rtframe's retries of its logging queue while the
# per-user queue memory is taken by other runs on the same machine.
EXPECTED_ERR = {
    "cellapp": [r"^Failed to shmem_open No such file or directory$",
                r"^\[ondara\]\[main\] framework_thread :: m_framework\.init_ex\(\) exception -> Failed to shmem_open"],
    # The end of the bus walk; a reply lost and recovered by sending the
    # init command again (one that is never recovered says "after N sends").
    "busmaster": [r"^Error on auto_incr_slave_info_exec on slave at incr addr: 65534$",
                  r"^Attention: No Frame read$"],
    "rtframe": [r"^cannot open (reader|writer) queue, name :: /linux_framework_queue"],
}


def unexpected_errors(cell, marks=None):
    """ERR lines of every log (up to its mark) that no pattern expects."""
    found = []
    for name, process in cell.processes.items():
        log = process.log()
        if marks is not None:
            log = log[:marks[name]]
        for text in ERR.findall(log):
            if not any(re.search(pattern, text.strip()) for pattern in EXPECTED_ERR.get(name, [])):
                found.append("%s: %s" % (name, text))
    return found


def log_marks(cell):
    return {name: len(process.log()) for name, process in cell.processes.items()}


def units(position):
    return int(round(position * whole_cell.position_factor()))


class Cell_Case(unittest.TestCase):
    def setUp(self):
        self.cell = whole_cell.Whole_Cell(BUILD, os.environ.get("CELLAPP_INSTALL_NAME", "ondara"),
                                          say=lambda text: print(text, flush=True))
        try:
            self.cell.start()
        except BaseException:
            self.cell.stop()
            raise
        self.rpc = whole_cell.proxy()

    def tearDown(self):
        self.cell.stop()

    def assert_running(self, *names):
        for name in names:
            self.assertTrue(self.cell.processes[name].running(), "%s ended\n%s" % (name, self.cell.tails()))


class Demo_Scenario(Cell_Case):
    def test_the_robot_program_moves_the_drive(self):
        seen = {}

        def checkpoint(name):
            seen[name] = whole_cell.drive_position()

        lines = []
        Robot_Program(self.rpc, say=lines.append, checkpoint=checkpoint).run()
        # The far end: the drive's own position, in drive units.
        self.assertEqual(seen, {"homed": 0, "moved": units(100.0)}, "\n".join(lines))
        self.assertEqual(whole_cell.drive_position(), units(40.0))
        # Every call was printed with its answer.
        self.assertIn("move_to_target_pos(0, 100.0, 10.0, 50.0, 0, False) -> 0", lines)
        self.assertIn("get_ethercat_slave_vendor_id(1,) -> 134217818", lines)

        marks = log_marks(self.cell)
        statuses = self.cell.stop()
        self.assertEqual([name for name, _, _, _ in statuses],
                         ["axmand", "cellapp", "rtframe", "robotsim", "busmaster", "ecatsim"])
        for name, pid, status, expected in statuses:
            self.assertEqual(status, expected, "%s (pid %d)" % (name, pid))
        self.assertEqual(unexpected_errors(self.cell, marks), [])


class Outage(Cell_Case):
    """The segment simulator is killed while the axis is enabled and started
    again 5 s later: the bus comes back to OP and the robot program brings
    the axis back with XML-RPC calls alone."""

    def test_the_cell_survives_a_lost_segment(self):
        program = Robot_Program(self.rpc, say=lambda text: None)
        program.run()
        # The drive is in operation enabled when its segment goes.
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1]) & 0x6F, 0x27)
        pids = {name: process.pid for name, process in self.cell.processes.items()}
        rtframe = self.cell.processes["rtframe"]
        done_before = rtframe.log().count("open_master_comunication_channel ... DONE")

        # cellapp answers XML-RPC throughout.
        answers, stop = [], threading.Event()

        def ask():
            rpc = whole_cell.proxy(10.0)
            while not stop.is_set():
                try:
                    answers.append(rpc.get_version_number())
                except (OSError, xmlrpc.client.Error) as error:
                    answers.append(repr(error))
                time.sleep(0.2)

        asker = threading.Thread(target=ask)
        asker.start()
        try:
            busmaster = self.cell.processes["busmaster"]
            marks = log_marks(self.cell)
            self.assertEqual(self.cell.kill("ecatsim"), -signal.SIGKILL)
            time.sleep(5)
            # busmaster reports the lost frames and stops the cycle.
            self.assertTrue(busmaster.wait_for("Attention: No Cyclic frame read !!! -> consecutive_faults", 20),
                            self.cell.tails())
            self.assertNotIn("No Cyclic frame read", busmaster.log()[:marks["busmaster"]])
            self.assertTrue(rtframe.wait_for("[framework] [run_ex] master tick lost", 20), self.cell.tails())
            self.assertTrue(rtframe.wait_for("Try to restart.. ", 20), self.cell.tails())
            self.cell.restart_ecatsim()
            self.assertTrue(rtframe.wait_for("open_master_comunication_channel ... DONE", 60, done_before + 1),
                            self.cell.tails())
        finally:
            stop.set()
            asker.join()
        self.assertTrue(answers)
        self.assertEqual(set(answers), {"4.1.0"})
        self.assert_running("busmaster", "rtframe", "axmand", "cellapp", "robotsim")
        for name in ("axmand", "cellapp", "rtframe", "busmaster", "robotsim"):
            self.assertEqual(self.cell.processes[name].pid, pids[name])

        # Back in OP, with the same processes: detorque, reset, home, move.
        seen = {}
        Robot_Program(self.rpc, say=lambda text: None,
                      checkpoint=lambda name: seen.__setitem__(name, whole_cell.drive_position())).run(recover=True)
        self.assertEqual(seen, {"homed": 0, "moved": units(100.0)})
        for name in ("axmand", "cellapp", "rtframe", "busmaster", "robotsim"):
            self.assertEqual(self.cell.processes[name].pid, pids[name])


class Recovery_During_Move(Cell_Case):
    """The robot program's recovery (detorque, reset, homing, move) started
    while the axis moves: the reset ends with the drive enabled again, so the
    homing and the move are done at the drive before they are reported."""

    def test_the_recovery_homes_and_moves_a_moving_axis(self):
        self.assertEqual(self.rpc.reset_axes(), 0)
        self.assertEqual(self.rpc.move_to_target_pos(0, 1000.0, 10.0, 50.0, 0, False), 0)
        deadline = time.monotonic() + 20
        while self.rpc.get_actual_pos(0) < 2.0:
            self.assertLess(time.monotonic(), deadline, "the axis does not move\n" + self.cell.tails())
            time.sleep(0.05)
        self.assertFalse(self.rpc.get_is_target_reached())

        seen, lines = {}, []
        try:
            Robot_Program(self.rpc, say=lines.append,
                          checkpoint=lambda name: seen.__setitem__(name, whole_cell.drive_position())).run(
                              recover=True)
        except Exception:
            print("\n".join(lines) + "\n" + self.cell.tails())
            raise
        self.assertEqual(seen, {"homed": 0, "moved": units(100.0)}, "\n".join(lines))
        self.assertEqual(whole_cell.drive_position(), units(40.0))
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1]) & 0x6F, 0x27)


class Frame_Loss(Cell_Case):
    """A tenth of the frames lost at random for 10 s while the axis is
    enabled: busmaster (soft real-time, as the cell runs it) keeps its cycle
    and the slaves stay in OP."""

    def test_the_slaves_stay_in_op(self):
        Robot_Program(self.rpc, say=lambda text: None).run()
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1]) & 0x6F, 0x27)
        marks = log_marks(self.cell)
        self.assertTrue(whole_cell.ecatsim_request("drop_fraction 0.1").startswith("OK"))
        try:
            time.sleep(10)
        finally:
            whole_cell.ecatsim_request("drop_fraction 0")
        for position in (0, 1):
            self.assertIn("08 00", whole_cell.ecatsim_request("read %d 0x130 2" % position), self.cell.tails())
        self.assertEqual(int(whole_cell.ecatsim_request("get 1 0x6041 0").split()[1]) & 0x6F, 0x27)
        since = self.cell.processes["busmaster"].log()[marks["busmaster"]:]
        for text in ("No Cyclic frame read", "Error on DC wait period !!!\n", "cyclic end"):
            self.assertNotIn(text, since)
        self.assertNotIn("Try to restart.. ", self.cell.processes["rtframe"].log()[marks["rtframe"]:])
        self.assert_running("busmaster", "rtframe", "axmand", "cellapp", "robotsim", "ecatsim")


class Machine_Stop(Cell_Case):
    """Every process of the cell held at once for 150 ms, three times during a
    move, as a stop of the whole machine (a virtual machine whose host holds
    its processors) holds them: no watchdog takes it for a lost peer, the
    slaves stay in OP and the move ends at its target."""

    def hold_every_process(self, seconds):
        pids = [process.pid for process in self.cell.processes.values()]
        try:
            for pid in pids:
                os.kill(pid, signal.SIGSTOP)
            time.sleep(seconds)
        finally:
            # Every process goes on, also after a failed stop, so that the
            # cell's end can stop them.
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGCONT)
                except ProcessLookupError:
                    pass

    def test_a_move_rides_through(self):
        Robot_Program(self.rpc, say=lambda text: None).run()
        marks = log_marks(self.cell)
        self.assertEqual(self.rpc.move_to_target_pos(0, 0.0, 10.0, 50.0, 0, False), 0)
        for _ in range(3):
            time.sleep(0.7)
            self.hold_every_process(0.15)
        self.assertTrue(whole_cell.wait_until(self.rpc.get_is_target_reached, 30), self.cell.tails())
        self.assertEqual(whole_cell.drive_position(), 0)
        for position in (0, 1):
            self.assertIn("08 00", whole_cell.ecatsim_request("read %d 0x130 2" % position), self.cell.tails())
        self.assertNotIn("Try to restart.. ", self.cell.processes["rtframe"].log()[marks["rtframe"]:])
        self.assert_running("busmaster", "rtframe", "axmand", "cellapp", "robotsim", "ecatsim")


class Robot_Loss(Cell_Case):
    def test_the_watchdog_ends_cellapp(self):
        cellapp = self.cell.processes["cellapp"]
        self.assertEqual(self.cell.kill("robotsim"), -signal.SIGKILL)
        killed = time.monotonic()
        # 25 framework cycles of 4 ms, and a margin for a loaded machine.
        self.assertEqual(cellapp.wait_exit(10), 1, cellapp.log())
        self.assertLess(time.monotonic() - killed, 5.0)
        self.assertIn("[ondara][main] :: Watchdog scaduto -> Esco dal programma", cellapp.log())
        time.sleep(1)
        self.assert_running("busmaster", "rtframe", "axmand", "ecatsim")


if __name__ == "__main__":
    unittest.main()
