"""The context menu on the panel: "Setup", "Network" and "History" show their windows (hidden until
then), a key press (Escape, Alt+F4) hides them again, and "Exit" ends the program."""

import time

from wine_desktop import Desktop, check, main, wait_for


def choose(desktop, rect, downs):
    # Each dialog shows with its bottom-right corner at the cursor: open every menu further right and
    # lower on the panel (136 x 112), so the click never lands on a dialog that is still being hidden.
    offset = min(30 * downs, 100)
    desktop.xdotool("mousemove", rect[0] + offset, rect[1] + offset - 10)
    time.sleep(0.3)
    desktop.xdotool("click", 3)
    time.sleep(1.0)
    for _ in range(downs):
        desktop.xdotool("key", "Down")
        time.sleep(0.2)
    desktop.xdotool("key", "Return")


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    try:
        desktop.start()
        rect = desktop.wait_panel_size(136, 112)
        check(desktop.drive("visible", "General Setup") == "0", "General Setup hidden at start")
        check(desktop.drive("visible", "Network Setup") == "0", "Network Setup hidden at start")

        choose(desktop, rect, 2)  # Info, Setup
        wait_for(lambda: desktop.drive("visible", "General Setup") == "1", 15, "General Setup to show")
        desktop.xdotool("key", "Escape")
        wait_for(lambda: desktop.drive("visible", "General Setup") == "0", 15, "General Setup to hide")
        time.sleep(1.5)  # let the X side of the hidden dialog go before the next click

        choose(desktop, rect, 3)  # Info, Setup, Network
        wait_for(lambda: desktop.drive("visible", "Network Setup") == "1", 15, "Network Setup to show")
        desktop.xdotool("key", "alt+F4")
        wait_for(lambda: desktop.drive("visible", "Network Setup") == "0", 15, "Network Setup to hide")
        time.sleep(1.5)

        choose(desktop, rect, 4)  # Info, Setup, Network, History: of the tile under the cursor
        wait_for(lambda: desktop.drive("visible", "History - SYSTEM") == "1", 15, "the history window to show")
        desktop.xdotool("key", "Escape")
        wait_for(lambda: desktop.drive("visible", "History - SYSTEM") == "0", 15, "the history window to hide")
        time.sleep(1.5)

        choose(desktop, rect, 6)  # Info, Setup, Network, History, Alarms…, Exit
        wait_for(lambda: desktop.program.poll() is not None, 20, "the program to exit")
        check(desktop.program.returncode == 0, "exit code %d" % desktop.program.returncode)
    finally:
        desktop.stop()


main(test)
