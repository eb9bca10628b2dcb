"""History in the real program: a simulated GPU whose core temperature steps every 3 seconds shows
the same steps in the CSV log (written to a folder that did not exist, header first, CRLF), a
double-click on its tile opens its history window, where the mouse draws a line across the plots,
a drag across the newest tenth zooms in, Home returns to the span and the wheel zooms around the
cursor; Escape closes it, and the window's place is stored."""

import glob
import os
import shutil
import time

from wine_desktop import Desktop, check, main, wait_for

STEPS = [50, 60, 70, 80]
CONFIGURATION = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 steps coreTemp 3 %s
""" % " ".join(str(t) for t in STEPS)
HEADER = ("time,cpu_load_pct,cpu_mhz,processes,threads,phys_free_mb,virt_free_mb,net_io_mbit,"
          "gpu0_load_pct,gpu0_core_mhz,gpu0_mem_mhz,gpu0_free_mb,gpu0_fan_rpm,gpu0_core_c,gpu0_mem_c")


def log_lines(folder):
    files = glob.glob(os.path.join(folder, "tarvelon-*.csv"))
    if not files:
        return None
    with open(files[0], "rb") as log:
        return log.read().decode("utf-8").split("\r\n")[:-1]


def check_steps(lines):
    check(lines[0] == HEADER, "header %r" % lines[0])
    temperatures = [int(line.split(",")[13]) for line in lines[1:]]
    runs = []
    for value in temperatures:
        if runs and runs[-1][0] == value:
            runs[-1][1] += 1
        else:
            runs.append([value, 1])
    check(len(runs) >= 4, "at least four steps in %r" % temperatures)
    for (before, _), (after, _) in zip(runs, runs[1:]):
        check(STEPS[(STEPS.index(before) + 1) % len(STEPS)] == after, "step order in %r" % temperatures)
    # Each inner step stands about its 3 seconds (the panel's second and the library's may drift).
    check(all(2 <= count <= 4 for _, count in runs[1:-1]), "step lengths in %r" % temperatures)


PLOTTED = {(48, 128, 48), (96, 160, 96)}  # the average line and the band
CROSSING = (224, 224, 224)


def plotted_columns(desktop, rect):
    shot = desktop.screenshot()
    left, top, right, bottom = rect
    return sum(1 for x in range(left, right)
               if any(shot.pixel(x, y) in PLOTTED for y in range(top + 60, bottom)))


def check_plots(desktop, title):
    rect = tuple(int(v) for v in desktop.drive("rect", title).split())
    left, top, right, bottom = rect
    # The last 20 seconds of the 60-minute span take a few columns at its right end.
    hour = plotted_columns(desktop, rect)
    check(0 < hour < 12, "the hour's plotted columns: %d" % hour)
    x, y = (left + right) // 2, (top + bottom) // 2
    desktop.xdotool("mousemove", x, y)
    time.sleep(1.5)
    shot = desktop.screenshot()
    crossing = sum(1 for row in range(top + 60, bottom - 40) if shot.pixel(x, row) == CROSSING)
    check(crossing > (bottom - top) // 2, "a line across the plots under the mouse: %d rows" % crossing)
    # Six minutes of the hour: the plotted seconds take ten times the columns.
    desktop.drag((right - 9 - (right - left - 70) // 10, y), (right - 12, y), steps=4)
    zoomed = plotted_columns(desktop, rect)
    check(zoomed > 3 * hour, "zoomed in: %d columns, %d before" % (zoomed, hour))
    desktop.xdotool("key", "Home")
    time.sleep(1.5)
    check(plotted_columns(desktop, rect) < zoomed // 2, "Home returns to the hour")
    # The 1-minute span, half of it recorded; a notch back doubles the range around the cursor.
    desktop.drive("click", title, "1040")
    time.sleep(1.5)
    minute = plotted_columns(desktop, rect)
    desktop.xdotool("mousemove", x, y)
    desktop.xdotool("click", 5)
    time.sleep(1.5)
    wider = plotted_columns(desktop, rect)
    check(wider < minute * 3 // 4, "the wheel zooms out: %d columns, %d before" % (wider, minute))


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    folder = os.path.join(desktop.env["WINEPREFIX"], "drive_c", "tarvelon-log")
    shutil.rmtree(folder, ignore_errors=True)
    # Only this run's seconds on the plots.
    for archives in glob.glob(os.path.join(desktop.env["WINEPREFIX"], "drive_c", "users", "*", "AppData", "Local",
                                           "Tarvelon", "History")):
        shutil.rmtree(archives)
    desktop.reg_add("historyLogDirectory", "C:\\tarvelon-log\\days")
    with desktop.simulated_gpus(CONFIGURATION):
        desktop.start()
        left, top, _, _ = desktop.wait_panel_size(2 * 136, 112)
        days = os.path.join(folder, "days")
        wait_for(lambda: (lambda lines: lines and len(lines) > 16)(log_lines(days)), 40, "16 lines of the log")
        check_steps(log_lines(days))

        title = "History - Simulated GeForce"
        check(desktop.drive("visible", title, check_status=False) != "1", "history hidden at start")
        desktop.xdotool("mousemove", left + 136 + 60, top + 60)
        time.sleep(0.3)
        desktop.xdotool("click", "--repeat", 2, "--delay", 80, 1)
        wait_for(lambda: desktop.drive("visible", title, check_status=False) == "1", 15, "the history window")
        time.sleep(1.5)
        check_plots(desktop, title)
        desktop.xdotool("key", "Escape")
        wait_for(lambda: desktop.drive("visible", title, check_status=False) != "1", 15, "the window to close")
        values = desktop.reg_query()
        check(int(values["historyWindowWidth"][1], 16) >= 320, "stored width %r" % (values["historyWindowWidth"],))
    shutil.rmtree(folder, ignore_errors=True)


main(test)
