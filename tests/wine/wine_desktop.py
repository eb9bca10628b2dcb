"""The desktop the end-to-end tests drive: a Wine prefix with its virtual display, the real
tarvelon.exe, the registry read and written with `wine reg`, screenshots read pixel by pixel, mouse
input through xdotool, and dialogs driven through win_driver.exe."""

import collections
import contextlib
import os
import re
import shlex
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = r"HKCU\Software\Tarvelon"
SCREEN = (1280, 1024)

# Colours of the panel.
BODY = (176, 176, 176)
HOST_HEADER = (128, 128, 128)
GPU_HEADER = (48, 128, 48)
WARNING_BODY = (176, 160, 160)
BLACK = (0, 0, 0)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.25)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Desktop:
    """One Wine prefix (one registry, one wineserver) on the build tree's display."""

    def __init__(self, build, prefix=None):
        self.build = os.path.abspath(build)
        self.env = dict(os.environ)
        for word in shlex.split(subprocess.check_output(
                [os.path.join(HERE, "wine-run"), self.build, "--env"], text=True).replace("export ", "")):
            name, _, value = word.partition("=")
            self.env[name] = value
        subprocess.check_call([os.path.join(HERE, "wine-run"), self.build, "--setup"])
        if prefix is not None:
            # A second machine: a copy of the build tree's prefix with its own registry and wineserver.
            if not os.path.exists(os.path.join(prefix, "system.reg")):
                shutil.copytree(self.env["WINEPREFIX"], prefix, symlinks=True, dirs_exist_ok=True)
            self.env["WINEPREFIX"] = prefix
        self.exe = os.path.join(self.build, "tarvelon.exe")
        self.driver = os.path.join(self.build, "tests", "win_driver.exe")
        self.program = None

    # --- processes -------------------------------------------------------------------------------
    def run(self, *args, timeout=60, check_status=True):
        # Output goes through files, not pipes: a wineserver or explorer started by this command lives on
        # with the command's pipes and would keep them open forever.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.run(list(args), env=self.env, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                     timeout=timeout)
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(process.args, process.returncode,
                                                 out.read().decode("utf-8", "replace"),
                                                 err.read().decode("utf-8", "replace"))
        if check_status and result.returncode != 0:
            raise Failure("%s failed (%d): %s" % (" ".join(args), result.returncode, result.stderr.strip()))
        return result

    def wine(self, *args, **kwargs):
        return self.run("wine", *args, **kwargs)

    def start(self, minimised=False):
        # minimised: started as a shortcut set to "Minimized" starts it (the show command SW_SHOWMINNOACTIVE).
        command = ["wine", "start", "/min", "/wait", "/unix", self.exe] if minimised else ["wine", self.exe]
        self.program = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_for(self.panel_rect, 60, "the panel window")
        return self.program

    def start_with_traced_tray(self, log):
        """Starts the program with Wine's tray traced (+systray) into the file log. Wine's shell is started by
        the first program of the prefix that needs it, with that program's tracing: the prefix is stopped
        first, and no other program may run until the shell has traced the icon added."""
        self.stop()
        with open(log, "ab") as out:
            self.program = subprocess.Popen(["wine", self.exe], env=dict(self.env, WINEDEBUG="+systray"),
                                            stdout=out, stderr=out)
        wait_for(lambda: "trace:systray:add_icon" in read_text(log), 60, "Wine's shell to trace the icon added")
        return self.program

    def running(self):
        return self.program is not None and self.program.poll() is None

    def stop(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
        self.run("wineserver", "-k", check_status=False)
        if self.program is not None:
            try:
                self.program.wait(timeout=20)
            except subprocess.TimeoutExpired:
                pass
        self.program = None

    @contextlib.contextmanager
    def simulated_gpus(self, configuration):
        """The simulated driver library and its configuration in the prefix's system directory, and gone
        again afterwards, so that no later test of the prefix finds GPUs it did not ask for."""
        system = os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "system32")
        installed = (os.path.join(system, "nvapi.dll"), os.path.join(system, "simulated-gpus.txt"))
        shutil.copyfile(os.path.join(self.build, "tests", "nvapi.dll"), installed[0])
        with open(installed[1], "w") as out:
            out.write(configuration)
        try:
            yield
        finally:
            self.stop()
            for path in installed:
                if os.path.exists(path):
                    os.remove(path)

    # --- registry --------------------------------------------------------------------------------
    def reg_delete(self):
        self.wine("reg", "delete", KEY, "/f", check_status=False)

    def reg_add(self, name, value):
        kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        self.wine("reg", "add", KEY, "/v", name, "/t", kind, "/d", str(value), "/f")

    def reg_query(self, key=KEY):
        """Every value of the key (Tarvelon's own unless told) as {name: (type, text)}; None when the
        key is missing."""
        result = self.wine("reg", "query", key, check_status=False)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.replace("\r", "").splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def watch_tray(self, seconds, action):
        """The panel's icon changes while a tray that win_driver plays for seconds watches it and
        action() runs: a list of "balloon", "icon" and "modify", after "added" once the icon came to it."""
        watched = {}
        watcher = threading.Thread(target=lambda: watched.update(
            out=self.drive("tray-watch", str(seconds), check_status=False, timeout=seconds + 60)))
        watcher.start()
        time.sleep(3)  # the watching tray is up and holds the icon
        action()
        watcher.join()
        return watched.get("out", "").split()

    def server_on(self):
        """The query server switched on at a free loopback port; returns the port."""
        port = free_udp_port()
        self.reg_add("networkServerEnabled", 1)
        self.reg_add("networkServerPort", port)
        return port

    def check_stored_position(self, position, message):
        values = self.reg_query()
        check(values["windowPosX"][1] == hex(position[0]) and values["windowPosY"][1] == hex(position[1]),
              "%s: %s, %s" % (message, values["windowPosX"], values["windowPosY"]))

    # --- windows and dialogs ---------------------------------------------------------------------
    def drive(self, *args, check_status=True, timeout=60):
        return self.run("wine", self.driver, *args, check_status=check_status, timeout=timeout).stdout.strip()

    def panel_rect(self):
        result = self.run("wine", self.driver, "panel", check_status=False)
        if result.returncode != 0:
            return None
        left, top, right, bottom = (int(v) for v in result.stdout.split())
        return left, top, right - left, bottom - top

    def slot_line(self, status):
        """The first server list line once it shows the status, else None; Refresh rebuilds the list."""
        self.drive("click", "Network Setup", "1037")
        line = self.drive("list", "Network Setup", "1020").split("\n")[0]
        return line if "> %s [" % status in line else None

    def reported_server_name(self, line):
        """The host name the server of the list line sent, from its details box."""
        self.drive("select", "Network Setup", "1020", str(line))
        self.drive("click", "Network Setup", "1036")
        details = self.drive("box", "Network Server Details")
        for text in details.replace("\r", "\n").split("\n"):
            if text.startswith("Reported servername : "):
                return text[len("Reported servername : "):]
        raise Failure("no reported server name in %r" % details)

    def wait_panel_size(self, width, height, timeout=30):
        return wait_for(lambda: (lambda r: r if r and r[2:] == (width, height) else None)(self.panel_rect()),
                        timeout, "a %dx%d panel" % (width, height))

    # --- input -----------------------------------------------------------------------------------
    def xdotool(self, *args):
        self.run("xdotool", *[str(a) for a in args])

    def drag(self, start, end, steps=12):
        self.xdotool("mousemove", start[0], start[1])
        time.sleep(0.3)
        self.xdotool("mousedown", 1)
        time.sleep(0.3)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i // steps
            y = start[1] + (end[1] - start[1]) * i // steps
            self.xdotool("mousemove", x, y)
            time.sleep(0.1)
        time.sleep(0.3)
        self.xdotool("mouseup", 1)
        time.sleep(0.5)

    # --- pixels ----------------------------------------------------------------------------------
    def screenshot(self):
        with tempfile.TemporaryFile() as out:
            subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL, check=True)
            out.seek(0)
            raw = out.read()
        return Screenshot(raw, *SCREEN)


class Screenshot:
    def __init__(self, raw, width, height):
        self.raw, self.width, self.height = raw, width, height

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.raw[at:at + 3])

    def host_body(self, rect, row):
        """The body colour of the first panel of a row (0: the local host) at font size 12."""
        return self.pixel(rect[0] + 133, rect[1] + 112 * row + 60)

    def save(self, path):
        subprocess.run(["convert", "-size", "%dx%d" % (self.width, self.height), "-depth", "8",
                        "rgb:-", path], input=self.raw, check=False)


def read_text(path):
    with open(path, errors="replace") as text:
        return text.read()


def tray_balloons(log):
    """How many balloons the traced shell was given: modifies of the icon with NIF_INFO (0x10) in their flags.
    Icon and tip changes are modifies too, without it."""
    flags = re.findall(r"modify_icon id=\S+ hwnd=\S+ flags=([0-9a-fA-F]+)", read_text(log))
    return sum(1 for value in flags if int(value, 16) & 0x10)


def udp_query(port, host="127.0.0.1", sequence=7, family=socket.AF_INET, timeout=3.0):
    """One query {1, sequence, 0x31}; returns the reply bytes or None."""
    with socket.socket(family, socket.SOCK_DGRAM) as client:
        client.settimeout(timeout)
        client.sendto(bytes([1, sequence, 0x31]), (host, port))
        try:
            return client.recvfrom(8192)[0]
        except socket.timeout:
            return None


def record_text(raw):
    """A record's text field: UTF-16LE up to its terminating 0 unit."""
    return raw.decode("utf-16-le").split("\0", 1)[0]


def host_name_of(reply):
    """The hostName text of the HostRecord in a full reply."""
    return record_text(reply[7 + 2:7 + 82])


# The HostRecord that follows a full reply's 7-byte header, 124 bytes, its fields named as in the record.
HostRecord = collections.namedtuple("HostRecord", [
    "changed", "hostName", "cpuCount", "cpuLoad", "cpuMhz", "cpuMaxFreqPct", "processCount", "threadCount",
    "physTotalMb", "physFreeMb", "physUsedPct", "pageTotalMb", "pageFreeMb", "pageUsedPct", "netIoMbit",
    "gpuCount"])
HOST_RECORD_LAYOUT = struct.Struct("<Bx80sHBxHBxHH2xIIB3xIIBxHB3x")


def host_record(reply):
    fields = HOST_RECORD_LAYOUT.unpack_from(reply, 7)
    return HostRecord(fields[0], record_text(fields[1]), *fields[2:])


def gpu_name(record):
    """The gpuName text of a 108-byte GpuRecord."""
    return record_text(record[6:86])


def main(test):
    """Runs test(build_dir), reporting a Failure as a failed test (exit 1)."""
    build = sys.argv[1]
    try:
        test(build)
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    print("passed")
