"""The whole cell after the death of one of its processes, each case in its
own namespaces (tests/isolate), with the demo's scripts: a process that loses
its peer rejoins it when it comes back, or ends with an ERR line and status 1
so that it can be started again; then the robot program (--recover) homes
and moves the axis."""
import os
import signal
import subprocess
import sys
import time
import unittest
import xmlrpc.client

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_whole_cell import BUILD, ERR, Cell_Case, units  # noqa: E402
import whole_cell  # noqa: E402
from robot_program import Robot_Program, Unexpected  # noqa: E402

OP_ENABLED = 0x27  # status word bits 0-3, 5 and 6 of "operation enabled"
RTFRAME_DONE = "open_master_comunication_channel ... DONE"
RTFRAME_RESTART = "Try to restart.. "


def drive_enabled():
    reply = whole_cell.ecatsim_request("get 1 0x6041 0")
    return int(reply.split()[1], 0) & 0x6F == OP_ENABLED


def err_lines(process):
    return [text.strip() for text in ERR.findall(process.log())]


class Recovery_Case(Cell_Case):
    def program(self, name):
        return self.cell.processes[name]

    def wait_status_3(self, timeout=120):
        """cellapp's status 3 over a new connection (a new cellapp serves
        on a new socket)."""
        rpc = whole_cell.proxy(10.0)

        def status_3():
            try:
                return rpc.get_ondara_program_status() == 3
            except (OSError, xmlrpc.client.Error):
                return False

        self.assertTrue(whole_cell.wait_until(lambda: status_3() or not self.program("cellapp").running(), timeout,
                                              0.2) and self.program("cellapp").running(), self.cell.tails())
        self.rpc = whole_cell.proxy()

    def restart_cellapp(self):
        self.cell.restart("cellapp")
        self.wait_status_3()

    def restart_axmand(self):
        axmand = self.cell.restart("axmand")
        self.assertTrue(axmand.wait_for("[axes manager] cmd thread --> waiting new command", 60), self.cell.tails())

    def restart_rtframe(self):
        """rtframe started again, its bus in OP and its segments ready (the
        stale ready flag of the killed run is lowered before the bus is
        started)."""
        rtframe = self.cell.restart("rtframe")
        self.assertTrue(rtframe.wait_for(RTFRAME_DONE, 120), self.cell.tails())
        self.assertTrue(whole_cell.wait_until(whole_cell.framework_ready, 60), self.cell.tails())

    def restart_robotsim(self):
        robotsim = self.cell.restart("robotsim")
        self.assertTrue(robotsim.wait_for("[robotsim] ready", 20), self.cell.tails())
        self.assertTrue(whole_cell.robot_request("state 2 0 3").startswith("OK"))

    def assert_ended_with(self, name, text, timeout=60):
        """The program ends by itself with status 1 and an ERR line holding
        the text."""
        process = self.program(name)
        self.assertEqual(process.wait_exit(timeout), 1, "%s\n%s" % (name, self.cell.tails()))
        self.assertTrue(any(text in line for line in err_lines(process)), "%s: %s" % (name, err_lines(process)))

    def recover_and_move(self):
        seen = {}
        lines = []
        try:
            Robot_Program(self.rpc, say=lines.append,
                          checkpoint=lambda name: seen.__setitem__(name, whole_cell.drive_position())).run(recover=True)
        except Unexpected as error:
            self.fail("%s\n%s\n%s" % (error, "\n".join(lines), self.cell.tails(40)))
        self.assertEqual(seen, {"homed": 0, "moved": units(100.0)}, "\n".join(lines))


class Master_Restart(Recovery_Case):
    """busmaster killed: rtframe finds the master started again, and a stop
    ends rtframe while the master is gone."""

    def kill_busmaster(self):
        rtframe = self.program("rtframe")
        restarts = rtframe.log().count(RTFRAME_RESTART)
        self.assertEqual(self.cell.kill("busmaster"), -signal.SIGKILL)
        self.assertTrue(rtframe.wait_for(RTFRAME_RESTART, 30, restarts + 1), self.cell.tails())

    def test_a_master_started_again_is_reached(self):
        rtframe = self.program("rtframe")
        pids = {name: self.program(name).pid for name in ("rtframe", "axmand", "cellapp")}
        done = rtframe.log().count(RTFRAME_DONE)
        self.kill_busmaster()
        time.sleep(3)  # rtframe meets the dead master
        self.cell.restart("busmaster")
        self.assertTrue(rtframe.wait_for(RTFRAME_DONE, 120, done + 1), self.cell.tails())
        self.recover_and_move()
        for name, pid in pids.items():
            self.assertEqual(self.program(name).pid, pid)
            self.assertTrue(self.program(name).running(), name)
        # A stop still ends rtframe (cellapp first: its run ends with it).
        self.assertEqual(self.cell.kill("cellapp", signal.SIGTERM), -signal.SIGTERM)
        self.assertEqual(self.cell.kill("rtframe", signal.SIGTERM), 0)

    def test_a_stop_ends_rtframe_while_the_master_is_gone(self):
        self.kill_busmaster()
        time.sleep(3)  # rtframe meets the dead master
        rtframe = self.program("rtframe")
        os.kill(rtframe.pid, signal.SIGTERM)
        self.assertEqual(rtframe.wait_exit(10), 0, self.cell.tails())


class Framework_Restart(Recovery_Case):
    """rtframe killed and started again: axmand and cellapp, still on the old
    run, end with status 1 (axmand's command thread without spinning on its
    failing wait); started again they join the new run."""

    def test_the_clients_of_the_old_run_end_and_the_new_ones_move_the_axis(self):
        self.assertEqual(self.cell.kill("rtframe"), -signal.SIGKILL)
        self.restart_rtframe()
        self.assert_ended_with("axmand", "the framework run this manager attached to has ended")
        self.assert_ended_with("cellapp", "-> Esco dal programma")
        # A command thread that retries the failed wait without a pause logs
        # it thousands of times a second.
        stopped = [line for line in err_lines(self.program("axmand")) if "has stopped!!" in line]
        self.assertLessEqual(len(stopped), 5, stopped[:10])
        self.restart_axmand()
        self.restart_cellapp()
        self.recover_and_move()


class Framework_Stop(Recovery_Case):
    """rtframe stopped: cellapp, whose run ended, ends with status 1 and an
    ERR line, as axmand does."""

    def test_the_clients_end(self):
        self.assertEqual(self.cell.kill("rtframe", signal.SIGTERM), 0)
        self.assertEqual(self.program("axmand").wait_exit(60), 1, self.cell.tails())
        self.assert_ended_with("cellapp", "-> Esco dal programma")


class Cellapp_Restart(Recovery_Case):
    """A new cellapp after the old one ended takes the command channel, leaves
    the running bus as it found it, and its commands reach the axis."""

    def setUp(self):
        super().setUp()
        self.first_cellapp = self.program("cellapp")

    def cell_log_of_first_run(self):
        return self.first_cellapp.log()

    def new_cellapp_moves_the_axis(self):
        self.restart_cellapp()
        # Its bus scan found the bus in OP and only read it: no start, no stop.
        log = self.program("cellapp").log()
        self.assertIn("[ondara][main] :: Opening connection with master...", self.cell_log_of_first_run())
        self.assertNotIn("[ondara][main] :: Opening connection with master...", log)
        self.assertIn("ethercat_master_preliminary_info_exchange terminated", log)
        self.recover_and_move()

    def test_after_cellapp_was_killed(self):
        self.assertEqual(self.cell.kill("cellapp"), -signal.SIGKILL)
        self.new_cellapp_moves_the_axis()

    def test_after_the_robot_was_lost(self):
        self.assertEqual(self.cell.kill("robotsim"), -signal.SIGKILL)
        self.assertEqual(self.program("cellapp").wait_exit(30), 1, self.cell.tails())
        self.restart_robotsim()
        self.new_cellapp_moves_the_axis()


class Robot_Refuses_Start(Recovery_Case):
    """A robot controller that keeps refusing the RTDE start ends cellapp and
    rtde_follow with status 1 after the start time-out."""

    def test_a_refused_start_ends_cellapp_and_rtde_follow(self):
        self.assertEqual(self.cell.kill("cellapp"), -signal.SIGKILL)
        self.assertTrue(whole_cell.robot_request("refuse_start 1000000").startswith("OK"))
        self.cell.restart("cellapp", [self.cell.program("cellapp", "cellapp"), "--rtde-start-timeout", "3"])
        self.assert_ended_with("cellapp", "the controller refused to start RTDE", 90)

        follow = subprocess.run([os.path.join(BUILD, "tools", "rtde_follow", "rtde_follow"), "--start-timeout", "2"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(follow.returncode, 1, follow.stdout)
        self.assertIn("the controller refused to start RTDE", follow.stdout)


# Each program killed with SIGKILL during a move, and the README's way back:
# the program started again (a new run of rtframe needs new clients too),
# then the robot program with --recover. The drive stands disabled from the
# kill until the recovery wherever the kill breaks its chain of command.
KILL_DURING_MOVE = {
    "busmaster": {"disabled": True},
    "rtframe": {"disabled": True},
    "axmand": {"disabled": True},
    "cellapp": {"disabled": False},
}


class Kill_During_Move(Recovery_Case):
    def kill_during_move(self, name):
        Robot_Program(self.rpc, say=lambda text: None).run()
        self.assertTrue(drive_enabled())
        start = whole_cell.drive_position()
        self.assertEqual(self.rpc.move_to_target_pos(0, 100.0, 10.0, 50.0, 0, False), 0)
        self.assertTrue(whole_cell.wait_until(lambda: abs(whole_cell.drive_position() - start) > units(1.0), 20),
                        "the move did not start")
        self.assertEqual(self.cell.kill(name), -signal.SIGKILL)

        if KILL_DURING_MOVE[name]["disabled"]:
            self.assertTrue(whole_cell.wait_until(lambda: not drive_enabled(), 10), self.cell.tails())
        self.come_back(name)
        if KILL_DURING_MOVE[name]["disabled"]:
            self.assertFalse(drive_enabled())
        self.recover_and_move()

    def come_back(self, name):
        if name == "busmaster":
            done = self.program("rtframe").log().count(RTFRAME_DONE)
            self.cell.restart("busmaster")
            self.assertTrue(self.program("rtframe").wait_for(RTFRAME_DONE, 120, done + 1), self.cell.tails())
        elif name == "rtframe":
            self.restart_rtframe()
            for client in ("axmand", "cellapp"):
                self.assertEqual(self.program(client).wait_exit(60), 1, self.cell.tails())
            self.restart_axmand()
            self.restart_cellapp()
        elif name == "axmand":
            # Nothing serves the command channel: an axis command is a fault,
            # never a 0 for a command that did not reach the manager.
            with self.assertRaises(xmlrpc.client.Fault) as raised:
                self.rpc.reset_axes()
            self.assertIn("not sent", raised.exception.faultString)
            self.restart_axmand()
        else:
            self.restart_cellapp()


for _name in KILL_DURING_MOVE:
    setattr(Kill_During_Move, "test_%s" % _name, lambda self, name=_name: self.kill_during_move(name))


if __name__ == "__main__":
    unittest.main()
