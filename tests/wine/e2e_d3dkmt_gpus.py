"""tarvelon.exe with every GPU of a desk: the simulated NVIDIA library's card, and the stand-in kernel-thunk
library (TARVELON_D3DKMT_DLL) reporting that same card, an AMD card, an Intel GPU with a 128 MB carve-out and
the Basic Render Driver. The query server sends the NVIDIA card first and then the Intel and the AMD GPU by
PCI bus, each figure exactly; the Intel GPU unplugged leaves at once, the AMD GPU keeps its figures, and its
history exported after the move shows the seconds from before it."""

import os
import time

from wine_desktop import Desktop, check, gpu_name, host_record, main, udp_query, wait_for

NVIDIA = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
"""

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "d3dkmt-desk.txt")) as script:
    DESK = script.read()

# GpuRecord bytes 86 on: load, core boost/current/percent, memory boost/current/percent, total, free,
# used percent, fan / 32, core and memory temperature.
AMD = (40, 2400, 2105, 87, 2000, 1000, 50, 16384, 12288, 25, 46, 65, 0)
INTEL = (30, 0, 0, 0, 0, 0, 0, 16384, 14336, 13, 0, 0, 0)


def figures(record):
    return (record[86], int.from_bytes(record[88:90], "little"), int.from_bytes(record[90:92], "little"),
            record[92], int.from_bytes(record[94:96], "little"), int.from_bytes(record[96:98], "little"),
            record[98], int.from_bytes(record[100:102], "little"), int.from_bytes(record[102:104], "little"),
            record[104], record[105], record[106], record[107])


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def gpus(reply):
    return [reply[131 + 108 * i:131 + 108 * (i + 1)] for i in range((len(reply) - 131) // 108)]


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    port = desktop.server_on()
    desk = os.path.join(build, "tests", "d3dkmt-desk.txt")
    with open(desk, "w") as out:
        out.write(DESK)
    desktop.env["TARVELON_D3DKMT_DLL"] = windows_path(os.path.join(build, "tests", "simulated_d3dkmt.dll"))
    desktop.env["TARVELON_SIMULATED_D3DKMT"] = windows_path(desk)
    with desktop.simulated_gpus(NVIDIA):
        desktop.start()

        def three_gpus():
            reply = udp_query(port)
            # The loads need two samples: wait for the second.
            return reply if reply is not None and len(gpus(reply)) == 3 and gpus(reply)[2][86] != 0 else None
        reply = wait_for(three_gpus, 20, "three GPU records with their loads")
        check(host_record(reply).gpuCount == 3, "gpuCount %d" % host_record(reply).gpuCount)
        nvidia, intel, amd = gpus(reply)
        check(gpu_name(nvidia) == "Simulated GeForce" and nvidia[2] == 1, "the NVIDIA library's card first, once")
        check((gpu_name(intel), intel[2], intel[3]) == ("Intel(R) UHD Graphics 770", 0, 2), "Intel GPU second")
        check((gpu_name(amd), amd[2], amd[3]) == ("AMD Radeon RX 6800", 3, 0), "AMD card third")
        check(figures(amd) == AMD, "AMD figures %r" % (figures(amd),))
        check(figures(intel) == INTEL, "Intel figures %r" % (figures(intel),))
        check(intel[4] == 1 and amd[4] == 1 and intel[0] == 0, "filled, change flag 0")

        time.sleep(3)  # seconds of history before the move
        with open(desk, "a") as out:
            out.write("adapter 2 gone\n")
        unplugged = time.monotonic()
        unplugged_at = time.time()

        def two_gpus():
            reply = udp_query(port)
            return reply if reply is not None and len(gpus(reply)) == 2 else None
        reply = wait_for(two_gpus, 10, "the Intel GPU to leave")
        check(time.monotonic() - unplugged < 4, "gone within a pass, not at the minute's rescan")
        check(host_record(reply).gpuCount == 2, "gpuCount 2 after the unplug")
        amd = gpus(reply)[1]
        check(gpu_name(amd) == "AMD Radeon RX 6800" and figures(amd) == AMD, "AMD figures after the move")

        time.sleep(6)  # the history thread writes every 5 seconds
        target = os.path.join(desktop.env["WINEPREFIX"], "drive_c", "d3dkmt-export.csv")
        if os.path.exists(target):
            os.remove(target)
        result = desktop.wine(desktop.exe, "--export-history", "local/gpu1", "5", "C:\\d3dkmt-export.csv",
                              check_status=False)
        check(result.returncode == 0, "export exit code %d" % result.returncode)
        with open(target, "rb") as written:
            lines = written.read().decode("utf-8").split("\r\n")[:-1]
        check(lines[0].startswith("time,gpu1_load_pct,"), "header %r" % lines[:1])
        rows = [(time.mktime(time.strptime(line.split(",")[0], "%Y-%m-%d %H:%M:%S")), line.split(",")[1])
                for line in lines[1:]]
        check([load for second, load in rows if second < unplugged_at - 1][-2:] == ["40", "40"],
              "the AMD GPU's seconds from before the move in %r" % rows)
        check([load for _, load in rows[-3:]] == ["40"] * 3, "its seconds after the move in %r" % rows)
        desktop.stop()
    os.remove(desk)


main(test)
