"""Started minimised (a shortcut set to "Minimized"), the panel shows normally at its stored position,
and that position stays stored: nothing of -32000, -32000 reaches the registry."""

import time

from wine_desktop import Desktop, check, main


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    desktop.reg_add("windowPosX", 300)
    desktop.reg_add("windowPosY", 200)
    try:
        desktop.start(minimised=True)
        rect = desktop.wait_panel_size(136, 112)
        time.sleep(2)  # the start-up save has happened
        rect = desktop.panel_rect()
        check(rect[:2] == (300, 200), "panel shown at its stored position, got %s" % (rect,))
        desktop.check_stored_position((300, 200), "stored position kept")
    finally:
        desktop.stop()


main(test)
