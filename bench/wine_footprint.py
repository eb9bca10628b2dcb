#!/usr/bin/env python3
"""Resident cost of tarvelon.exe under Wine, next to bench/idle_window.exe run the same way: one
prefix and virtual display of their own (BUILD_DIR/footprint), each program started on a fresh
wineserver, left to settle, then measured for a fixed time. Prints the CPU time (of the program's
process, and of every process of the prefix including wineserver) as seconds per hour and the peak
resident memory of the program's process, side by side and as a ratio, so that what Wine costs any
program cancels out.

tarvelon.exe runs with its query server switched on at a free port, a few slots polling that server,
and the simulated GPU driver library in the prefix's system directory.

  wine_footprint.py BUILD_DIR [--seconds 60] [--settle 10] [--slots 4] [--gpus 2]
"""

import argparse
import os
import shlex
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "tests", "wine", "wine-run")
KEY = r"HKEY_CURRENT_USER\Software\Tarvelon"
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")


def wine_environment(machine):
    subprocess.check_call([WINE_RUN, machine, "--setup"])
    env = dict(os.environ)
    text = subprocess.check_output([WINE_RUN, machine, "--env"], text=True)
    for word in shlex.split(text.replace("export ", "")):
        name, _, value = word.partition("=")
        env[name] = value
    return env


def run_quietly(args, env):
    # No pipes: a wineserver started by this command would hold them open after it ends.
    return subprocess.call(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


def stop_wine(env):
    run_quietly(["wineserver", "-k"], env)
    run_quietly(["wineserver", "-w"], env)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("0.0.0.0", 0))
        return probe.getsockname()[1]


def seed_prefix(env, build, port, slots, gpus):
    """The registry key of tarvelon.exe and the simulated GPU library, in the prefix."""
    drive = os.path.join(env["WINEPREFIX"], "drive_c")
    system = os.path.join(drive, "windows", "system32")
    for name in ("nvapi.dll", "simulated-gpus.txt"):
        if os.path.exists(os.path.join(system, name)):
            os.remove(os.path.join(system, name))
    if gpus > 0:
        shutil.copyfile(os.path.join(build, "tests", "nvapi.dll"), os.path.join(system, "nvapi.dll"))
        with open(os.path.join(system, "simulated-gpus.txt"), "w") as out:
            out.write("physical %d\n" % gpus)
    lines = ["REGEDIT4", "", "[-%s]" % KEY, "", "[%s]" % KEY,
             '"networkServerEnabled"=dword:00000001',
             '"networkServerPort"=dword:%08x' % port]
    for slot in range(slots):
        name = "networkServerList_%02d_" % slot
        lines += ['"%sActive"=dword:00000001' % name, '"%sEnabled"=dword:00000001' % name,
                  '"%sHostname"="127.0.0.1"' % name, '"%sPort"=dword:%08x' % (name, port),
                  '"%sHighLatency"=dword:00000000' % name]
    with open(os.path.join(drive, "footprint.reg"), "w", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")
    if run_quietly(["wine", "reg", "import", "C:\\footprint.reg"], env) != 0:
        sys.exit("wine reg import failed")


def prefix_processes(prefix):
    """{(pid, start time): (cpu ticks, command line)} of every process that runs in the prefix."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if ("WINEPREFIX=%s" % prefix).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
        except OSError:
            continue
        # After the command name: state is field 3, utime 14, stime 15, starttime 22 (1-based).
        found[(int(entry), fields[19])] = (int(fields[11]) + int(fields[12]), command)
    return found


def thread_ticks(pid):
    """{thread id: cpu ticks} of one process."""
    ticks = {}
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ticks[int(tid)] = int(fields[11]) + int(fields[12])
    except OSError:
        pass
    return ticks


def status_kb(pid, name):
    """A "Name: value" line of the process's status (kB for memory); -1 when it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(name + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def find_program(prefix, exe_name, deadline):
    while time.monotonic() < deadline:
        for (pid, _), (_, command) in prefix_processes(prefix).items():
            if exe_name.lower() in command.lower() and "wine-preloader" not in command.split(" ")[0]:
                return pid
        time.sleep(0.2)
    return None


def query_answers(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.settimeout(2)
        client.sendto(bytes([1, 7, 0x31]), ("127.0.0.1", port))
        try:
            reply = client.recv(8192)
        except socket.timeout:
            return False
        return len(reply) >= 3 and reply[1] == 7 and reply[2] == 0x32


def measure(env, exe, seconds, settle):
    prefix = env["WINEPREFIX"]
    stop_wine(env)
    program = subprocess.Popen(["wine", exe], env=env, cwd=os.path.dirname(exe), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pid = find_program(prefix, os.path.basename(exe), time.monotonic() + 60)
    if pid is None:
        stop_wine(env)
        sys.exit("%s did not start" % exe)
    time.sleep(settle)
    before = prefix_processes(prefix)
    threads_before = thread_ticks(pid)
    started = time.monotonic()
    time.sleep(seconds)
    after = prefix_processes(prefix)
    threads_after = thread_ticks(pid)
    elapsed = time.monotonic() - started
    alive = any(key[0] == pid for key in after)
    result = {"elapsed": elapsed, "alive": alive, "pid": pid}
    if alive:
        program_key = next(key for key in after if key[0] == pid)
        result["program_cpu"] = (after[program_key][0] - before.get(program_key, (0, ""))[0]) / TICKS_PER_SECOND
        result["tree_cpu"] = sum(ticks - before.get(key, (0, ""))[0] for key, (ticks, _) in after.items()) \
            / TICKS_PER_SECOND
        result["threads"] = status_kb(pid, "Threads")
        result["thread_cpu"] = [(ticks - threads_before.get(tid, 0)) / TICKS_PER_SECOND
                                for tid, ticks in sorted(threads_after.items())]
        result["hwm_kb"] = status_kb(pid, "VmHWM")
        result["tree_rss_kb"] = sum(max(status_kb(key[0], "VmRSS"), 0) for key in after)
        result["processes"] = len(after)
    return result, program


def finish(env, program):
    stop_wine(env)
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        program.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the windows build tree")
    parser.add_argument("--seconds", type=float, default=60.0, help="measured time per program")
    parser.add_argument("--settle", type=float, default=10.0, help="time after start before measuring")
    parser.add_argument("--slots", type=int, default=4, help="server slots polling the program's own server")
    parser.add_argument("--gpus", type=int, default=2, help="simulated GPUs")
    options = parser.parse_args()

    build = os.path.abspath(options.build)
    programs = [os.path.join(build, "bench", "idle_window.exe"), os.path.join(build, "tarvelon.exe")]
    for path in programs:
        if not os.path.exists(path):
            sys.exit("%s is not built" % path)
    machine = os.path.join(build, "footprint")
    os.makedirs(machine, exist_ok=True)
    env = wine_environment(machine)
    port = free_udp_port()
    seed_prefix(env, build, port, options.slots, options.gpus)

    results = []
    try:
        for exe in programs:
            result, program = measure(env, exe, options.seconds, options.settle)
            if exe.endswith("tarvelon.exe"):
                result["answers"] = result["alive"] and query_answers(port)
            finish(env, program)
            if not result["alive"]:
                sys.exit("%s ended during the measurement" % exe)
            results.append(result)
    finally:
        run_quietly([WINE_RUN, machine, "--shutdown"], env)

    idle, tarvelon = results
    per_hour = 3600.0

    def row(label, key, scale, unit):
        a = idle[key] * scale / idle["elapsed"] if scale else idle[key]
        b = tarvelon[key] * scale / tarvelon["elapsed"] if scale else tarvelon[key]
        ratio = "%.2f" % (b / a) if a > 0 else "-"
        digits = 1 if scale else 0
        print("%-34s %14.*f %14.*f %8s   %s" % (label, digits, a, digits, b, ratio, unit))

    print("Wine, %.0f s each after %.0f s to settle; tarvelon.exe: server on port %d, %d slots polling it, "
          "%d simulated GPUs; server answered: %s" % (options.seconds, options.settle, port, options.slots,
                                                      options.gpus, "yes" if tarvelon["answers"] else "NO"))
    print("%-34s %14s %14s %8s" % ("", "idle_window.exe", "tarvelon.exe", "ratio"))
    row("CPU, program's process", "program_cpu", per_hour, "s/hour")
    row("CPU, all processes of the prefix", "tree_cpu", per_hour, "s/hour")
    row("threads of the program", "threads", 0, "")
    row("peak memory, program (VmHWM)", "hwm_kb", 0, "kB")
    row("memory, all processes (VmRSS)", "tree_rss_kb", 0, "kB")
    print("CPU s/hour of tarvelon.exe's threads in the order they were made (user-interface, sampler,\n"
          "server IPv4, server IPv6, client manager, poll threads): %s"
          % " ".join("%.1f" % (cpu * per_hour / tarvelon["elapsed"]) for cpu in tarvelon["thread_cpu"]))
    extra = (tarvelon["program_cpu"] / tarvelon["elapsed"] - idle["program_cpu"] / idle["elapsed"]) * per_hour
    print("tarvelon.exe's own share: %.1f CPU s/hour, %d kB peak memory beyond the idle program"
          % (extra, tarvelon["hwm_kb"] - idle["hwm_kb"]))


main()
