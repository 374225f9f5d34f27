#!/usr/bin/env python3
"""A robot program for the cell, as a robot's program would call cellapp:
one XML-RPC connection (Python's standard xmlrpc.client), blocking
positional calls, doubles where the method table lists them.

It waits for the application to run (status 3), reads the bus
identification and the version, resets the axes, homes axis 0, moves it to
100.0, reads its state, then hands a move to the program-command state
machine while the robot program plays and waits until that machine waits
again. Every call and answer is printed; the exit status is 1 at the first
unexpected answer (2 when cellapp cannot be reached).

    robot_program.py [--url http://127.0.0.1:44044] [--recover]

--recover first detorques the axes (after an outage the drive may hold a
fault or be switched off; "reset_axes" then brings it back, and is called
again while the axes manager refuses it, as it does until the detorque has
ended or while the drive still reports a fault). Before it hands
over the program move it takes the program-command state machine out of the
fault state that the outage's axis error may have left it in: state requests
("program_get_state") let it go back to stopped, where a command is taken
again (a command handed over in the fault state is dropped on the way).
"""
import argparse
import sys
import time
import xmlrpc.client

AXIS = 0
TARGET = 100.0
PROGRAM_TARGET = 40.0
NEAR = 0.5  # position units
WAIT = 60.0  # seconds for a status, a homing or a move

# The program state ids of the program-command state machine.
PROGRAM_WAITING = 2
PROGRAM_FAULT = 5


class Unexpected(Exception):
    pass


class Robot_Program:
    def __init__(self, rpc, say=print, checkpoint=None):
        self.rpc = rpc
        self.say = say
        # Called with "homed" and "moved" once those steps are done: a test
        # looks at the far end there.
        self.checkpoint = checkpoint or (lambda name: None)

    def call(self, method, *params, quiet=False):
        answer = getattr(self.rpc, method)(*params)
        if not quiet:
            self.say("%s%r -> %r" % (method, params, answer))
        return answer

    def expect(self, method, params, check, what):
        answer = self.call(method, *params)
        if not check(answer):
            raise Unexpected("%s%r answered %r, expected %s" % (method, params, answer, what))
        return answer

    def equal(self, method, params, value):
        return self.expect(method, params, lambda a: a == value and type(a) is type(value), repr(value))

    def near(self, method, params, value):
        return self.expect(method, params, lambda a: isinstance(a, float) and abs(a - value) <= NEAR,
                           "%r +- %r" % (value, NEAR))

    def poll(self, method, params, value, timeout=WAIT, interval=0.1):
        """Calls until the answer is the value; prints the first answer and
        the last one."""
        return self.poll_until(method, params, lambda answer: answer == value, repr(value), timeout, interval)

    def poll_until(self, method, params, done, what, timeout=WAIT, interval=0.1):
        deadline = time.monotonic() + timeout
        answer = self.call(method, *params)
        polls = 1
        while not done(answer):
            if time.monotonic() > deadline:
                raise Unexpected("%s%r still answered %r after %.0f s, expected %s" % (method, params, answer,
                                                                                      timeout, what))
            time.sleep(interval)
            answer = self.call(method, *params, quiet=True)
            polls += 1
        if polls > 1:
            self.say("%s%r -> %r (after %d calls)" % (method, params, answer, polls))
        return answer

    def wait_running(self):
        self.poll("get_ondara_program_status", (), 3)

    def identification(self):
        self.equal("get_ethercat_online_slaves_number", (), 2)
        self.equal("get_ethercat_xml_idx", (), 1)
        self.equal("get_ethercat_slave_type", (1,), 1)
        self.equal("get_ethercat_slave_vendor_id", (1,), 134217818)
        self.equal("get_ethercat_slave_product_code", (1,), 91200)
        self.equal("get_version_number", (), "4.1.0")

    def reset_axes(self, again_while_refused):
        deadline = time.monotonic() + WAIT
        while True:
            try:
                return self.equal("reset_axes", (), 0)
            except xmlrpc.client.Fault as fault:
                if not again_while_refused or "refused" not in fault.faultString or time.monotonic() > deadline:
                    raise
                self.say("reset_axes() -> fault %r; again" % fault.faultString)
                time.sleep(0.1)

    def move_axis(self, recover=False):
        self.reset_axes(again_while_refused=recover)
        # Homing on the current position (method 35): zero search velocity,
        # acceleration, switch search velocity.
        self.equal("do_homing", (AXIS, 35.0, 10.0, 50.0, 10.0), 0)
        self.poll("get_is_target_reached", (), True)
        self.near("get_actual_pos", (AXIS,), 0.0)
        self.checkpoint("homed")
        self.equal("move_to_target_pos", (AXIS, TARGET, 10.0, 50.0, 0, False), 0)
        self.poll("get_is_target_reached", (), True)
        self.near("get_actual_pos", (AXIS,), TARGET)
        self.checkpoint("moved")
        self.equal("get_ax_status", (AXIS,), 27)  # working: enabled, in its operation mode
        self.equal("get_axes_manager_status", (), 1)  # operational

    def program_move(self):
        """A move handed to the program-command state machine while the
        robot program plays: it resets, executes, and waits again."""
        self.expect("program_move_to_target_position", (AXIS, PROGRAM_TARGET, 10.0, 50.0),
                    lambda a: isinstance(a, int) and 0 <= a <= 7, "a program state id")
        self.poll("program_get_state", (), PROGRAM_WAITING)
        self.near("get_actual_pos", (AXIS,), PROGRAM_TARGET)

    def leave_program_fault(self):
        """Each state request lets a faulted program-command state machine
        go back to stopped at the next RTDE packet."""
        self.poll_until("program_get_state", (), lambda answer: answer != PROGRAM_FAULT, "a state other than fault")

    def run(self, recover=False):
        self.wait_running()
        self.identification()
        if recover:
            self.equal("detorque_axes", (), 0)
        self.move_axis(recover)
        if recover:
            self.leave_program_fault()
        self.program_move()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--url", default="http://127.0.0.1:44044")
    parser.add_argument("--recover", action="store_true", help="detorque the axes first")
    args = parser.parse_args(argv)
    rpc = xmlrpc.client.ServerProxy(args.url)
    try:
        Robot_Program(rpc, say=lambda text: print(text, flush=True)).run(args.recover)
    except Unexpected as error:
        print("UNEXPECTED: %s" % error, flush=True)
        return 1
    except xmlrpc.client.Fault as fault:
        print("UNEXPECTED fault: %s" % fault, flush=True)
        return 1
    except OSError as error:
        print("cannot reach cellapp at %s: %s" % (args.url, error), flush=True)
        return 2
    except KeyboardInterrupt:
        print("robot program interrupted", flush=True)
        return 130
    print("robot program done", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
