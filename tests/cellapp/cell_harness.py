"""Processes of a test cell in the test's own namespaces (tests/isolate): the
install tree of cellapp on a private /opt, a veth pair with ecatsim on one
end, busmaster on the other, and cellapp itself, each with its log file; or
the whole chain of the demo (scripts/whole_cell.py): robotsim playing,
rtframe on the copied descriptor and axmand besides."""
import os
import re
import sys
import shutil
import socket
import subprocess
import time

SOURCE = os.environ["CELL_SOURCE_DIR"]
INSTALL_NAME = os.environ["CELLAPP_INSTALL_NAME"]
INSTALL_DIR = "/opt/" + INSTALL_NAME
BUSMASTER = os.environ["BUSMASTER"]
ECATSIM = os.environ["ECATSIM"]
CELLAPP = os.environ["CELLAPP"]
CHOSEN = "/tmp/ondara_app_desc.xml"
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import whole_cell  # noqa: E402
ESCAPES = re.compile(r"\x1b\[[0-9;]*m")
PORT = whole_cell.XMLRPC_PORT


def run(*command):
    subprocess.run(command, check=True)


def install_tree():
    """The example install tree on a fresh tmpfs at /opt."""
    if not os.path.ismount("/opt"):
        run("mount", "-t", "tmpfs", "cell-opt", "/opt")
    shutil.rmtree(INSTALL_DIR, ignore_errors=True)
    shutil.copytree(os.path.join(SOURCE, "examples", "cellapp", "etc"), os.path.join(INSTALL_DIR, "etc"))
    if os.path.exists(CHOSEN):
        os.unlink(CHOSEN)


class Process:
    def __init__(self, name, command):
        self.name = name
        self.log_path = "/tmp/%s.log" % name
        self.log_file = open(self.log_path, "wb")
        self.process = subprocess.Popen(command, stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as f:
            return ESCAPES.sub("", f.read().decode(errors="replace"))

    def wait_for(self, text, timeout=20.0, count=1):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.log().count(text) >= count:
                return True
            if self.process.poll() is not None:
                return self.log().count(text) >= count
            time.sleep(0.05)
        return False

    def wait_exit(self, timeout=20.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log_file.close()
        return self.process.returncode


tcp_listening = whole_cell.tcp_listening
udp_bound = whole_cell.udp_bound


def wait_until(predicate, timeout=20.0):
    return whole_cell.wait_until(predicate, timeout, 0.05)


class Cell:
    """ecatsim on a veth pair (when a segment is given), busmaster and cellapp."""

    def __init__(self, segment=None, master=True, interface="ecat0", master_arguments=()):
        self.processes = []
        self.veth = False
        try:
            self.set_up(segment, master, interface, list(master_arguments))
        except BaseException:
            self.close()
            raise

    def set_up(self, segment, master, interface, master_arguments):
        install_tree()
        if segment is not None:
            run("ip", "link", "add", "ecat0", "type", "veth", "peer", "name", "ecat1")
            self.veth = True
            run("ip", "link", "set", "ecat0", "up")
            run("ip", "link", "set", "ecat1", "up")
            wait_until(lambda: all("LOWER_UP" in subprocess.run(["ip", "-o", "link", "show", i], capture_output=True,
                                                                 text=True).stdout for i in ("ecat0", "ecat1")), 5)
            with open("/tmp/segment.cfg", "w") as f:
                f.write(segment)
            # Sleeping between frames as the whole cell's does: a simulator
            # that busy-polls at a real-time priority uses up the real-time
            # budget of its processor and falls silent for the throttled rest
            # of each second, which a real segment never does.
            self.ecatsim = self.start("ecatsim", [ECATSIM, "ecat1", "/tmp/segment.cfg", "--blocking"])
            if not self.ecatsim.wait_for("ready", 10):
                raise RuntimeError("ecatsim not ready:\n" + self.ecatsim.log())
        if master:
            with open("/tmp/ecm_system_cfg.xml", "w") as f:
                f.write("<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>%s</EtherCATNetInterface>"
                        "<EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
                        "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>\n"
                        % interface)
            self.busmaster = self.start("busmaster", [BUSMASTER, "-c", "/tmp/ecm_system_cfg.xml"] + master_arguments)
            if not wait_until(lambda: udp_bound(500), 10):
                raise RuntimeError("busmaster not ready:\n" + self.busmaster.log())

    def start(self, name, command):
        process = Process(name, command)
        self.processes.append(process)
        return process

    def start_cellapp(self, wait_port=True, arguments=()):
        self.cellapp = self.start("cellapp", [CELLAPP] + list(arguments))
        if wait_port and not wait_until(lambda: tcp_listening(PORT) or self.cellapp.process.poll() is not None, 20):
            raise RuntimeError("cellapp does not serve XML-RPC:\n" + self.cellapp.log())
        return self.cellapp

    def close(self):
        for process in reversed(self.processes):
            process.stop()
        if self.veth:
            subprocess.run(["ip", "link", "del", "ecat0"], check=False)


def proxy(timeout=30.0):
    return whole_cell.proxy(timeout)


def raw_request(body, timeout=5.0):
    """Sends one HTTP POST with the body as is; the reply text, or "" when the
    server closed the connection without one."""
    with socket.create_connection(("127.0.0.1", PORT), timeout) as s:
        s.sendall(("POST /RPC2 HTTP/1.0\r\nContent-Type: text/xml\r\nContent-length: %d\r\n\r\n" % len(body)).encode()
                  + body)
        reply = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
        return reply.decode(errors="replace")



def whole_chain(segment=None):
    """The whole cell, started stage by stage as the demo starts it (on the
    example segment unless a segment file is given); stop() ends it."""
    cell = whole_cell.Whole_Cell(os.environ["CELL_BUILD_DIR"], INSTALL_NAME, say=lambda text: print(text, flush=True),
                                 segment=segment)
    try:
        cell.start()
    except BaseException:
        cell.stop()
        raise
    return cell
