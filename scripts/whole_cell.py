#!/usr/bin/env python3
"""The whole cell on simulated hardware, in namespaces of its own.

Starts, each after the previous one's readiness sign: ecatsim on one end of a
veth pair (position 1 the I/O adapter 0x8AD/1, position 2 the CiA 402 drive
0x0800005A/91200), busmaster on the other end, robotsim with its program
playing, cellapp (which identifies the drives and copies the descriptor),
rtframe on the copied descriptor (without -s: a lost bus is restarted) and
axmand -n 0; then waits for cellapp's status 3. Stops them in reverse order,
by process id, and reports each exit status.

Run it only inside private IPC, mount and network namespaces (scripts/demo
and the tests do so): it mounts a tmpfs on /opt for the install tree, makes
the veth pair ecat0/ecat1 and uses the fixed names of the cell.

    whole_cell.py --build DIR [--segment FILE] [--keep] [--show-frame] [--program FILE [ARGS...]]
"""
import argparse
import ctypes
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time
import xml.etree.ElementTree
import xmlrpc.client

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHOSEN = "/tmp/ondara_app_desc.xml"
XMLRPC_PORT = 44044
ECATSIM_CONTROL_PORT = 6011
ROBOT_CONTROL_PORT = 30005
LOG_DIR = "/tmp/cell"
ESCAPES = re.compile(r"\x1b\[[0-9;]*m")
# The level word of a warning or an error line in the programs' logs.
WARNING_OR_ERROR = re.compile(r"\b(WAR|ERR)\b")

# Readiness time-outs of the stages, in seconds. cellapp's scan sleeps 2 s
# before and after the descriptor is chosen; rtframe waits 1 + 5 + 5 s in its
# start-up and 1 s before OP; attaching retries every 1-2 s.
TIMEOUTS = {"segment up": 20, "busmaster listening": 20, "robot playing": 20, "cellapp serving": 30,
            "descriptor chosen": 60, "ready_to_start": 60, "bus in OP": 120, "axmand attached": 60, "status 3": 60}

# The signs of each program's readiness and the statuses each ends with when
# stopped by SIGTERM (busmaster and cellapp do not catch it).
EXPECTED_STATUS = {"ecatsim": 0, "busmaster": -signal.SIGTERM, "robotsim": 0, "cellapp": -signal.SIGTERM,
                   "rtframe": 0, "axmand": 0}


class Stage_Timeout(RuntimeError):
    pass


def _die_with_parent():
    # PR_SET_PDEATHSIG: SIGKILL when the driver ends without stopping the cell.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL, 0, 0, 0)


class Process:
    """One program with its log file; in a session of its own, so that a
    Ctrl-C reaches only the driver, which then stops the cell in order. With
    bound set, it is killed when the driver dies."""

    def __init__(self, name, command, log_name=None, bound=True):
        self.name = name
        self.command = command
        self.log_path = os.path.join(LOG_DIR, (log_name or name) + ".log")
        self.log_file = open(self.log_path, "wb")
        self.process = subprocess.Popen(command, stdout=self.log_file, stderr=subprocess.STDOUT,
                                        start_new_session=True, preexec_fn=_die_with_parent if bound else None)
        self.pid = self.process.pid
        self.status = None

    def log(self):
        with open(self.log_path, "rb") as f:
            return ESCAPES.sub("", f.read().decode(errors="replace"))

    def running(self):
        return self.process.poll() is None

    def wait_for(self, text, timeout, count=1):
        """True once the log holds the text count times; false after the
        time-out or when the program ended without it."""
        deadline = time.monotonic() + timeout
        while True:
            if self.log().count(text) >= count:
                return True
            if not self.running() or time.monotonic() > deadline:
                return self.log().count(text) >= count
            time.sleep(0.02)

    def wait_exit(self, timeout):
        try:
            self.status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        return self.status

    def stop(self, timeout=15.0):
        """SIGTERM, then SIGKILL after the time-out; the exit status as
        subprocess gives it (a negative number for a signal)."""
        if self.process.poll() is None:
            os.kill(self.pid, signal.SIGTERM)
            if self.wait_exit(timeout) is None:
                os.kill(self.pid, signal.SIGKILL)
                self.process.wait()
        self.status = self.process.returncode
        self.log_file.close()
        return self.status


def wait_until(predicate, timeout, interval=0.02):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


def tcp_listening(port):
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if int(fields[1].split(":")[1], 16) == port and fields[3] == "0A":
                return True
    return False


def udp_bound(port):
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            if int(line.split()[1].split(":")[1], 16) == port:
                return True
    return False


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def ecatsim_request(command, timeout=2.0):
    """One command on the segment simulator's control socket; its reply."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(timeout)
        s.sendto(command.encode(), ("127.0.0.1", ECATSIM_CONTROL_PORT))
        return s.recv(65536).decode().strip()


def robot_request(command, timeout=5.0):
    """One command on the robot simulator's control socket; its reply line."""
    with socket.create_connection(("127.0.0.1", ROBOT_CONTROL_PORT), timeout) as s:
        s.sendall((command + "\n").encode())
        reply = b""
        while not reply.endswith(b"\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
        return reply.decode().strip()


def drive_position():
    """The drive's position actual value (0x6064) in the simulator, drive units."""
    reply = ecatsim_request("get 1 0x6064 0")
    if not reply.startswith("OK "):
        raise RuntimeError("ecatsim: get 1 0x6064 0: " + reply)
    return int(reply.split()[1], 0)


def position_factor(axis=0, quantity="pos"):
    """Drive units per user unit of the axis, as the chosen descriptor gives
    it (the default of axmngr_0_ax_<axis>_<quantity>_raw_per_unit; quantity
    pos, vel or acc)."""
    name = "axmngr_0_ax_%d_%s_raw_per_unit" % (axis, quantity)
    for element in xml.etree.ElementTree.parse(CHOSEN).getroot().iter("virtual_io"):
        if element.get("name_virtual") == name:
            return float(element.get("default_value"))
    raise RuntimeError("%s: no %s" % (CHOSEN, name))


def framework_ready():
    """rtframe's ready_to_start, read from its info segment (the word after
    the segment's mutex and eleven counters)."""
    mutex_size = 40 if struct.calcsize("P") == 8 else 24
    try:
        with open("/dev/shm/linux_framework_info", "rb") as f:
            f.seek(mutex_size + 44)
            word = f.read(4)
    except OSError:
        return False
    return len(word) == 4 and struct.unpack("=I", word)[0] == 1


def proxy(timeout=60.0):
    return xmlrpc.client.ServerProxy("http://127.0.0.1:%d" % XMLRPC_PORT, transport=_Timeout_Transport(timeout))


class _Timeout_Transport(xmlrpc.client.Transport):
    def __init__(self, timeout):
        super().__init__()
        self.timeout = timeout

    def make_connection(self, host):
        connection = super().make_connection(host)
        connection.timeout = self.timeout
        return connection


class Whole_Cell:
    """The six programs of the cell. start() runs the stages in order and
    records the time from launch to each; stop() ends them in reverse order."""

    def __init__(self, build, install_name="ondara", say=None, bound=True, segment=None):
        self.build = build
        # The simulated segment: the example cell unless another is given.
        self.segment = segment or os.path.join(SOURCE, "examples", "cellapp", "segment.cfg")
        self.bound = bound  # the programs die with the driver (not for a cell that is kept)
        self.install_name = install_name
        self.install_dir = "/opt/" + install_name
        self.say = say or (lambda text: None)
        self.processes = {}
        self.order = []
        self.stage_times = {}
        self.launch = None
        self.veth = False
        self.restarts = 1

    def program(self, *parts):
        return os.path.join(self.build, *parts)

    def start_process(self, name, command):
        process = Process(name, command, bound=self.bound)
        self.processes[name] = process
        self.order.append(name)
        self.say("%-10s started, pid %d, log %s" % (name, process.pid, process.log_path))
        return process

    def stage(self, name, predicate, process=None):
        if not wait_until(predicate, TIMEOUTS[name]):
            tail = ""
            if process is not None:
                tail = "\n".join(process.log().splitlines()[-20:])
            raise Stage_Timeout("stage '%s' did not come up within %d s\n%s" % (name, TIMEOUTS[name], tail))
        self.stage_times[name] = time.monotonic() - self.launch
        self.say("%-24s after %6.2f s" % (name + ":", self.stage_times[name]))

    def install_tree(self):
        if not os.path.ismount("/opt"):
            run("mount", "-t", "tmpfs", "cell-opt", "/opt")
        shutil.rmtree(self.install_dir, ignore_errors=True)
        shutil.copytree(os.path.join(SOURCE, "examples", "cellapp", "etc"), os.path.join(self.install_dir, "etc"))
        if os.path.exists(CHOSEN):
            os.unlink(CHOSEN)

    def veth_pair(self):
        run("ip", "link", "add", "ecat0", "type", "veth", "peer", "name", "ecat1")
        self.veth = True
        run("ip", "link", "set", "ecat0", "up")
        run("ip", "link", "set", "ecat1", "up")
        wait_until(lambda: all("LOWER_UP" in subprocess.run(["ip", "-o", "link", "show", i], capture_output=True,
                                                             text=True).stdout for i in ("ecat0", "ecat1")), 10)

    def ecatsim_command(self):
        return [self.program("sim", "ethercat", "ecatsim"), "ecat1", self.segment, "--blocking", "--priority", "60"]

    def kill(self, name, number=signal.SIGKILL):
        """Sends a signal to one program and waits for its end; its status."""
        process = self.processes[name]
        os.kill(process.pid, number)
        return process.wait_exit(30)

    def restart(self, name, command=None):
        """The program started again, with its command (or another), in place
        of one that ended, as whatever supervises the cell does: its log is
        <name>-<n>.log."""
        old = self.processes[name]
        if old.running():
            raise RuntimeError("%s still runs" % name)
        old.log_file.close()
        self.restarts += 1
        process = Process(name, command or old.command, "%s-%d" % (name, self.restarts), self.bound)
        self.processes[name] = process
        self.say("%-10s started again, pid %d, log %s" % (name, process.pid, process.log_path))
        return process

    def restart_ecatsim(self):
        """A new segment simulator in place of one that ended (a power cycle
        of the whole segment)."""
        ecatsim = self.restart("ecatsim")
        if not ecatsim.wait_for("ecatsim ready on", TIMEOUTS["segment up"]):
            raise Stage_Timeout("stage 'segment up' did not come up again within %d s" % TIMEOUTS["segment up"])
        return ecatsim

    def start(self):
        os.makedirs(LOG_DIR, exist_ok=True)
        self.launch = time.monotonic()
        self.install_tree()
        self.veth_pair()

        ecatsim = self.start_process("ecatsim", self.ecatsim_command())
        self.stage("segment up", lambda: "ecatsim ready on" in ecatsim.log() or not ecatsim.running(), ecatsim)
        self.check_running(ecatsim)

        config = os.path.join(LOG_DIR, "ecm_system_cfg.xml")
        with open(config, "w") as f:
            f.write("<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>ecat0</EtherCATNetInterface>"
                    "<EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
                    "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>\n")
        # Soft real-time: a late cycle of a busy machine does not stop the bus.
        busmaster = self.start_process("busmaster", [self.program("busmaster", "busmaster"), "-c", config,
                                                     "-s", "5"])
        self.stage("busmaster listening", lambda: udp_bound(500) or not busmaster.running(), busmaster)
        self.check_running(busmaster)

        robotsim = self.start_process("robotsim", [self.program("sim", "robot", "robotsim"), "--address",
                                                   "127.0.0.1", "--port", "30004", "--control-port",
                                                   str(ROBOT_CONTROL_PORT)])
        self.stage("robot playing", lambda: "[robotsim] ready" in robotsim.log() or not robotsim.running(), robotsim)
        self.check_running(robotsim)
        reply = robot_request("state 2 0 3")  # program playing and running
        if not reply.startswith("OK"):
            raise RuntimeError("robotsim: state 2 0 3: " + reply)

        cellapp = self.start_process("cellapp", [self.program("cellapp", "cellapp")])
        self.stage("cellapp serving", lambda: tcp_listening(XMLRPC_PORT) or not cellapp.running(), cellapp)
        self.check_running(cellapp)
        self.stage("descriptor chosen",
                   lambda: "ethercat_master_preliminary_info_exchange terminated" in cellapp.log()
                   or not cellapp.running(), cellapp)
        self.check_running(cellapp)

        rtframe = self.start_process("rtframe", [self.program("rtframe", "rtframe"), "-c", CHOSEN])
        self.stage("ready_to_start", lambda: framework_ready() or not rtframe.running(), rtframe)
        self.check_running(rtframe)
        # ready_to_start does not wait for the master: the bus may still be
        # on its way to OP (retried on a busy machine).
        self.stage("bus in OP", lambda: "open_master_comunication_channel ... DONE" in rtframe.log()
                   or not rtframe.running(), rtframe)
        self.check_running(rtframe)

        axmand = self.start_process("axmand", [self.program("axmand", "axmand"), "-n", "0"])
        self.stage("axmand attached", lambda: self.axmand_attached() or not axmand.running(), axmand)
        self.check_running(axmand)

        rpc = proxy()
        self.stage("status 3", lambda: rpc.get_ondara_program_status() == 3 or not cellapp.running(), cellapp)
        self.check_running(cellapp)
        return self

    def axmand_attached(self):
        return "[axes manager] cmd thread --> waiting new command" in self.processes["axmand"].log()

    def check_running(self, process):
        if not process.running():
            raise RuntimeError("%s ended with status %s\n%s" % (process.name, process.process.returncode,
                                                                "\n".join(process.log().splitlines()[-20:])))

    def stop_order(self):
        """Reverse order of start, but cellapp before rtframe: a cellapp
        whose framework run ends exits by itself."""
        order = list(reversed(self.order))
        if "cellapp" in order and "rtframe" in order and order.index("cellapp") > order.index("rtframe"):
            order.remove("cellapp")
            order.insert(order.index("rtframe"), "cellapp")
        return order

    def stop(self):
        """Stops every program (stop_order()); a list of (name, pid, status,
        expected status)."""
        statuses = []
        for name in self.stop_order():
            process = self.processes[name]
            status = process.stop()
            statuses.append((name, process.pid, status, EXPECTED_STATUS[name]))
            self.say("%-10s pid %-7d exit status %s%s" % (name, process.pid, status_text(status),
                                                          "" if status == EXPECTED_STATUS[name] else
                                                          "   (expected %s)" % status_text(EXPECTED_STATUS[name])))
        self.order = []
        if self.veth:
            subprocess.run(["ip", "link", "del", "ecat0"], check=False, stderr=subprocess.DEVNULL)
            self.veth = False
        return statuses

    def tails(self, lines=20):
        """The last lines of each log, after the last warnings and errors
        that came before them (a cause is often far from the end)."""
        text = ""
        for name, process in self.processes.items():
            log = process.log().splitlines()
            earlier = [line for line in log[:-lines] if WARNING_OR_ERROR.search(line)][-lines:]
            text += "---- %s (%s) ----\n" % (name, process.log_path)
            if earlier:
                text += "%s\n---- %s, its last %d lines ----\n" % ("\n".join(earlier), name, lines)
            text += "\n".join(log[-lines:]) + "\n"
        return text


def show_frame(build):
    """A framework client beside the cell: the drive's inputs as rtframe
    publishes them, and the control word that axmand writes as the
    simulated drive receives it over the wire."""
    print("---- the process image: a framework client and the simulated drive ----", flush=True)
    watch = subprocess.run([os.path.join(build, "tools", "frame_watch", "frame_watch"), "--seconds", "1",
                            "--period-ms", "500", "--show", "is_ethercat_master_online",
                            "--show", "axmngr_0_ax_0_status_word", "--show", "axmngr_0_ax_0_actual_pos"],
                           capture_output=True, text=True, timeout=30)
    print(watch.stdout.strip(), flush=True)
    print("ecatsim, drive outputs (control word):   %s" % ecatsim_request("outputs 1"), flush=True)
    print("ecatsim, drive status word (0x6041):     %s" % ecatsim_request("get 1 0x6041 0"), flush=True)
    print("ecatsim, drive position (0x6064):        %s (drive units, %g per position unit)"
          % (ecatsim_request("get 1 0x6064 0"), position_factor()), flush=True)
    return watch.returncode == 0


def status_text(status):
    if status is not None and status < 0:
        return "%d (%s)" % (status, signal.Signals(-status).name)
    return str(status)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="build folder holding the programs")
    parser.add_argument("--install-name", default="ondara")
    parser.add_argument("--segment", help="segment file of ecatsim (default examples/cellapp/segment.cfg)")
    parser.add_argument("--keep", action="store_true", help="leave the cell running")
    parser.add_argument("--show-frame", action="store_true", help="show the process image once the cell is up")
    parser.add_argument("--program", nargs=argparse.REMAINDER, default=[],
                        help="a robot program and its arguments, run once the cell is up")
    args = parser.parse_args(argv)

    def on_signal(number, frame):
        raise KeyboardInterrupt("signal %d" % number)

    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, on_signal)

    cell = Whole_Cell(os.path.abspath(args.build), args.install_name, say=lambda text: print(text, flush=True),
                      bound=not args.keep, segment=args.segment and os.path.abspath(args.segment))
    ok = False
    try:
        cell.start()
        ok = True
        if args.program:
            print("---- %s ----" % " ".join(args.program), flush=True)
            ok = subprocess.run([sys.executable] + args.program).returncode == 0
            print("---- robot program %s ----" % ("done" if ok else "FAILED"), flush=True)
        if ok and args.show_frame:
            ok = show_frame(cell.build)
    except (Stage_Timeout, RuntimeError, OSError, xmlrpc.client.Error) as error:
        print("FAILED: %s" % error, flush=True)
    except KeyboardInterrupt:
        ok = False
        print("interrupted: stopping the cell", flush=True)
    # The stop runs to its end whatever arrives meanwhile.
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_IGN)
    if args.keep and ok:
        pids = " ".join(str(cell.processes[name].pid) for name in cell.stop_order())
        print("The cell keeps running. A robot program inside it:\n"
              "  nsenter -t %d -n -i -m python3 %s/examples/robot_program.py\n"
              "Stop it, in this order (cellapp before rtframe):\n  for p in %s; do kill $p; done"
              % (cell.processes["cellapp"].pid, SOURCE, pids), flush=True)
        return 0
    statuses = cell.stop()
    clean = all(status == expected for _, _, status, expected in statuses)
    if not (ok and clean):
        print(cell.tails(), flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
