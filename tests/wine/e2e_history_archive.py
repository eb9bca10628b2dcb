"""History that outlives the program: the exe runs with a simulated GPU, is killed hard, stays down a
while and runs again; --export-history, run beside the running panel, writes both sides of the
downtime with a gap between (a row a second), the minutes tier with its _min/_avg/_max columns, and
exits 2 for a tile without history."""

import glob
import os
import shutil
import time

from wine_desktop import Desktop, check, main

CONFIGURATION = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 steps coreTemp 2 50 60 70
"""
DOWN_SECONDS = 10


def history_folders(prefix):
    return glob.glob(os.path.join(prefix, "drive_c", "users", "*", "**", "Tarvelon", "History"), recursive=True)


def export(desktop, tile, minutes):
    target = os.path.join(desktop.env["WINEPREFIX"], "drive_c", "export.csv")
    if os.path.exists(target):
        os.remove(target)
    result = desktop.wine(desktop.exe, "--export-history", tile, str(minutes), "C:\\export.csv", check_status=False)
    if not os.path.exists(target):
        return result.returncode, []
    with open(target, "rb") as written:
        return result.returncode, written.read().decode("utf-8").split("\r\n")[:-1]


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    for folder in history_folders(desktop.env["WINEPREFIX"]):
        shutil.rmtree(folder)
    with desktop.simulated_gpus(CONFIGURATION):
        desktop.start()
        time.sleep(14)
        killed = time.time()
        desktop.stop()  # the process and its wineserver, with no chance to write anything more
        time.sleep(DOWN_SECONDS)
        desktop.start()
        time.sleep(12)

        code, lines = export(desktop, "local/gpu0", 5)
        check(code == 0, "export exit code %d" % code)
        check(lines[0].startswith("time,gpu0_load_pct,gpu0_core_mhz,"), "header %r" % lines[:1])
        seconds = [time.mktime(time.strptime(line.split(",")[0], "%Y-%m-%d %H:%M:%S")) for line in lines[1:]]
        gaps = [(after - before, before) for before, after in zip(seconds, seconds[1:]) if after - before > 1]
        check(len(gaps) == 1, "one gap in %r" % gaps)
        length, before = gaps[0]
        check(length > DOWN_SECONDS, "the gap (%d s) spans the downtime" % length)
        # Written every 5 seconds: a kill loses at most that (and a second for the clocks' phases).
        check(before >= killed - 7, "the last second kept %.0f s before the kill" % (killed - before))
        check(seconds.index(before) >= 8 and len(seconds) - seconds.index(before) >= 6,
              "seconds on both sides in %r" % seconds)
        check({line.split(",")[6] for line in lines[1:]} >= {"50", "60", "70"}, "the steps of the core temperature")

        code, lines = export(desktop, "local", 61)
        check(code == 0, "minutes export exit code %d" % code)
        check(lines[0].startswith("time,cpu_load_pct_min,cpu_load_pct_avg,cpu_load_pct_max,cpu_mhz_min,"),
              "minutes header %r" % lines[:1])
        check(len(lines) >= 2, "a minute row")

        code, _ = export(desktop, "gpu-box:7000/gpu0", 5)
        check(code == 2, "unknown tile exit code %d" % code)
        desktop.stop()


main(test)
