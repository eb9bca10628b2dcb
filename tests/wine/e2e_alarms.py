"""The GPU temperature alarm in the real program: a simulated GPU at 85 degrees C with the alarm at 80
gives one tray balloon, not one per second, as Wine's traced shell shows. What the balloon says is
decided and tested natively."""

import os
import re
import tempfile
import time

from wine_desktop import Desktop, check, main, read_text, tray_balloons, wait_for

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
    with tempfile.TemporaryDirectory() as directory, desktop.simulated_gpus(CONFIGURATION):
        log = os.path.join(directory, "systray.log")
        desktop.start_with_traced_tray(log)
        desktop.wait_panel_size(2 * 136, 112)
        # The limit counts after two ticks; later ticks must stay quiet.
        wait_for(lambda: tray_balloons(log) > 0, 30, "the balloon")
        time.sleep(5)
        calls = re.findall(r"Shell_NotifyIconW dwMessage = (\d+), nid->cbSize=(\d+)", read_text(log))
        check(calls and calls[0] == ("0", "956"), "the icon was added first, in full: %r" % calls[:3])
        check(tray_balloons(log) == 1, "one balloon, got %d" % tray_balloons(log))


main(test)
