"""The context menu on the panel: "Setup" and "Network" show their dialogs (hidden until then), and
"Exit" ends the program."""

import time

from wine_desktop import Desktop, check, main, wait_for


def choose(desktop, rect, downs):
    desktop.xdotool("mousemove", rect[0] + 60, rect[1] + 50)
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
        desktop.drive("click", "General Setup", "1")  # OK hides it
        wait_for(lambda: desktop.drive("visible", "General Setup") == "0", 15, "General Setup to hide")

        choose(desktop, rect, 3)  # Info, Setup, Network
        wait_for(lambda: desktop.drive("visible", "Network Setup") == "1", 15, "Network Setup to show")
        desktop.drive("click", "Network Setup", "1")  # Close Window hides it
        wait_for(lambda: desktop.drive("visible", "Network Setup") == "0", 15, "Network Setup to hide")

        choose(desktop, rect, 4)  # Info, Setup, Network, Exit
        wait_for(lambda: desktop.program.poll() is not None, 20, "the program to exit")
        check(desktop.program.returncode == 0, "exit code %d" % desktop.program.returncode)
    finally:
        desktop.stop()


main(test)
