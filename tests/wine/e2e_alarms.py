"""The GPU temperature alarm in the real program: a simulated GPU at 85 degrees C, and the alarm set to
80 in General Setup, gives one tray balloon, not one per second, and the alert icon, while the
icon's tooltip changes every second or so. The icon's changes are watched from a tray window that win_driver plays. What the
balloon and the tooltip say is decided and tested natively."""

from wine_desktop import Desktop, check, main

CONFIGURATION = """physical 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 coreTemp 85
gpu 0 steps load 1 10 20 30
"""


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    with desktop.simulated_gpus(CONFIGURATION):
        desktop.start()
        desktop.wait_panel_size(2 * 136, 112)

        def set_limit():
            desktop.drive("set", "General Setup", "1008", "80")
            desktop.drive("click", "General Setup", "1")  # the limit counts once the dialog hides

        changes = desktop.watch_tray(10, set_limit)
    check("added" in changes, "the icon came to the watching tray: %r" % changes)
    check(changes.count("balloon") == 1, "one balloon, got %r" % changes)
    check("icon" in changes, "the alert icon: %r" % changes)
    check(changes.count("modify") >= 3, "the tooltip follows the figures: %r" % changes)


main(test)
