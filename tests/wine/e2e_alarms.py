"""The GPU temperature alarm in the real program: a simulated GPU at 85 degrees C with the alarm at 80
gives one tray balloon, not one per second, and the alert icon while it lasts. The tray is played by
the Wine driver, which logs every icon message the program sends it; what the balloon says is decided
and tested natively."""

import subprocess
import time

from wine_desktop import Desktop, check, main

CONFIGURATION = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 coreTemp 85
"""
NIM_ADD, NIM_MODIFY = 0, 1
NIF_ICON, NIF_INFO = 0x2, 0x10


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    desktop.reg_add("alarmGpuTempC", 80)
    tray = subprocess.Popen(["wine", desktop.driver, "tray-log", "30"], env=desktop.env, stdout=subprocess.PIPE,
                            text=True)
    try:
        check(tray.stdout.readline().strip() == "ready", "the driver's tray is up")
        with desktop.simulated_gpus(CONFIGURATION):
            desktop.start()
            desktop.wait_panel_size(2 * 136, 112)
            time.sleep(8)  # later ticks must stay quiet
        # Leaving the simulated GPUs ends the prefix's processes, the driver's tray with the program, so
        # the log holds the program's whole life.
        output = tray.communicate(timeout=120)[0]
        calls = [tuple(int(word, 16) for word in line.split()) for line in output.splitlines() if line.strip()]
    finally:
        desktop.stop()
        if tray.poll() is None:
            tray.kill()
    check(calls and calls[0][0] == NIM_ADD, "the icon was added first: %r" % calls)
    balloons = [call for call in calls if call[0] == NIM_MODIFY and call[1] & NIF_INFO]
    check(len(balloons) == 1, "one balloon, got %d of %r" % (len(balloons), calls))
    check(any(call[0] == NIM_MODIFY and call[1] & NIF_ICON for call in calls), "the icon changed to the alert one")


main(test)
