"""The GPU temperature alarm in the real program: a simulated GPU at 85 degrees C with the alarm at 80
gives one tray balloon (Shell_NotifyIconW NIM_MODIFY, seen through Wine's systray trace), not one
per second. What the balloon says is decided and tested natively."""

import subprocess
import tempfile
import time

from wine_desktop import Desktop, check, main, wait_for

CONFIGURATION = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 coreTemp 85
"""


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    desktop.reg_add("alarmGpuTempC", 80)
    env = dict(desktop.env, WINEDEBUG="+systray")
    with tempfile.TemporaryFile(mode="w+") as log:
        with desktop.simulated_gpus(CONFIGURATION):
            desktop.program = subprocess.Popen(["wine", desktop.exe], env=env, stdout=log, stderr=log)
            desktop.wait_panel_size(2 * 136, 112)
            time.sleep(8)  # the limit counts after two ticks; later ticks must stay quiet
        log.seek(0)
        calls = [line for line in log.read().splitlines() if "Shell_NotifyIconW dwMessage" in line]
    check(calls and calls[0].endswith("dwMessage = 0, nid->cbSize=956"), "the icon was added first: %r" % calls)
    balloons = [line for line in calls if "dwMessage = 1," in line]
    check(len(balloons) == 1, "one balloon, got %d" % len(balloons))


main(test)
