"""tarvelon.exe --gpu-processes beside a running panel, against the stand-in kernel-thunk library with scripted
process statistics: two running programs (render.exe, encode.exe) use the simulated NVIDIA library's card,
found among the adapters by its PCI bus, and an AMD card. The CSV has a row per GPU and busy process, by GPU
then load, each with its own process id and name; memory counts the card's own segments only. A missing
FILE is a bad command line (1), a FILE in a folder that does not exist cannot be written (4). The query server
announces the processes question and answers it with one datagram a GPU naming the same programs."""

import os
import shutil
import socket
import struct
import subprocess
import time

from wine_desktop import Desktop, check, main, record_text, udp_query, wait_for

NVIDIA = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
"""

# The adapters' own engines run what the scripted processes run, so that no share is left for
# processes that could not be opened.
DESK = """adapter 0 name NVIDIA GeForce RTX 3080
adapter 0 address 1 0 0
adapter 0 node 0 1 20
adapter 0 segment 0 0 1073741824
adapter 1 name AMD Radeon RX 6800
adapter 1 vendor 0x1002
adapter 1 address 3 0 0
adapter 1 dedicated 17179869184
adapter 1 segment 0 0 4294967296
adapter 1 segment 1 1 1073741824
adapter 1 node 0 1 40
adapter 1 node 1 6 10
process render.exe adapter 0 node 0 20
process render.exe adapter 1 node 0 40
process render.exe adapter 1 segment 0 536870912
process encode.exe adapter 1 node 1 10
process encode.exe adapter 1 segment 1 1073741824
process ghost.exe adapter 1 node 0 90
"""


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def process_answer(port, sequence):
    """The processes question {1, sequence, 0x33}: each GPU's datagram as {gpu index: [(pid, flags, load,
    memory, name)]}, gathered for a second."""
    answer = {}
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.settimeout(1.0)
        client.sendto(bytes([1, sequence, 0x33]), ("127.0.0.1", port))
        try:
            while True:
                reply = client.recvfrom(8192)[0]
                check(reply[1] == sequence and reply[2] == 0x34 and len(reply) == 16 + 80 * reply[5],
                      "a whole process reply %r" % reply[:16])
                answer[reply[3]] = [struct.unpack_from("<IBBxxQ", reply, 16 + 80 * k) +
                                    (record_text(reply[32 + 80 * k:96 + 80 * k]),) for k in range(reply[5])]
        except socket.timeout:
            return answer


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    tests = os.path.join(build, "tests")
    desk = os.path.join(tests, "gpu-processes-desk.txt")
    with open(desk, "w") as out:
        out.write(DESK)
    desktop.env["TARVELON_D3DKMT_DLL"] = windows_path(os.path.join(tests, "simulated_d3dkmt.dll"))
    desktop.env["TARVELON_SIMULATED_D3DKMT"] = windows_path(desk)
    # Two programs that stay a while: the driver waiting for a window that never comes.
    programs = []
    for name in ("render.exe", "encode.exe"):
        shutil.copyfile(os.path.join(tests, "win_driver.exe"), os.path.join(tests, name))
    target = os.path.join(desktop.env["WINEPREFIX"], "drive_c", "gpu-processes.csv")
    port = desktop.server_on()
    with desktop.simulated_gpus(NVIDIA):
        desktop.start()
        for name in ("render.exe", "encode.exe"):
            programs.append(subprocess.Popen(["wine", os.path.join(tests, name), "wait-window", "never", "60"],
                                             env=desktop.env, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL))
        time.sleep(3)  # the programs are up

        if os.path.exists(target):
            os.remove(target)
        started = time.monotonic()
        result = desktop.wine(desktop.exe, "--gpu-processes", "C:\\gpu-processes.csv", check_status=False)
        check(result.returncode == 0, "exit code %d" % result.returncode)
        check(time.monotonic() - started >= 1, "two samples a second apart")
        check(desktop.running(), "the panel runs on")
        with open(target, "rb") as written:
            text = written.read().decode("utf-8")
        lines = text.split("\r\n")
        check(lines[-1] == "", "CRLF line ends in %r" % text)
        check(lines[0] == "gpu,pci_bus,pci_slot,pid,process,load_pct,memory_mb", "header %r" % lines[:1])
        rows = [line.split(",") for line in lines[1:-1]]
        check([row[:3] + row[4:5] + row[6:] for row in rows] ==
              [["0", "1", "0", "render.exe", "0"], ["1", "3", "0", "render.exe", "512"],
               ["1", "3", "0", "encode.exe", "0"]], "rows %r" % rows)
        # Loads are measured over the command's own second: a point either way.
        loads = [int(row[5]) for row in rows]
        check(all(abs(load - wanted) <= 1 for load, wanted in zip(loads, (20, 40, 10))), "loads %r" % loads)
        pids = [row[3] for row in rows]
        check(all(pid.isdigit() and int(pid) > 0 for pid in pids) and pids[0] == pids[1] != pids[2],
              "each program its own process id: %r" % pids)

        reply = wait_for(lambda: udp_query(port), 30, "a full reply")
        check(reply[4] == 1, "the full reply announces the processes question: %r" % reply[:7])
        # The first question has the sampler read them; a later one gets them.
        def amd_programs():
            listed = process_answer(port, 9).get(1, [])
            return listed if len(listed) == 2 else None
        listed = wait_for(amd_programs, 30, "the AMD card's two programs")
        check([(entry[4], entry[3]) for entry in listed] == [("render.exe", 536870912), ("encode.exe", 0)],
              "the AMD card's programs %r" % listed)
        check(listed[0][0] == int(pids[1]) and listed[1][0] == int(pids[2]), "their ids %r" % listed)

        check(desktop.wine(desktop.exe, "--gpu-processes", check_status=False).returncode == 1, "no FILE: 1")
        result = desktop.wine(desktop.exe, "--gpu-processes", "C:\\no-such-folder\\gpu.csv", check_status=False)
        check(result.returncode == 4, "a folder that does not exist: exit %d" % result.returncode)
        for program in programs:
            program.kill()
        desktop.stop()
    os.remove(desk)
    for name in ("render.exe", "encode.exe"):
        os.remove(os.path.join(tests, name))


main(test)
