"""One Tarvelon per session: a second start of the exe in the same prefix hands over to the running
one and exits. One panel and one process remain, the first, and its panel comes to the front."""

import subprocess

from wine_desktop import Desktop, Failure, check, main, wait_for

IDM_SETUP = "32774"


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    second = None
    try:
        first = desktop.start()
        desktop.wait_panel_size(136, 112)
        # Another window in front: General Setup, which the menu's "Setup" activates.
        desktop.drive("command", IDM_SETUP)
        wait_for(lambda: desktop.drive("front") == "General Setup", 15, "General Setup in front")

        second = subprocess.Popen(["wine", desktop.exe], env=desktop.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            code = second.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("the second start is still running; panels: %s" % desktop.drive("panels"))
        check(code == 0, "the second start exits with 0, got %d" % code)
        wait_for(lambda: desktop.drive("front") == "panel", 15, "the panel in front")
        check(desktop.drive("panels") == "1", "one panel, got %s" % desktop.drive("panels"))
        check(desktop.drive("processes") == "1", "one tarvelon.exe, got %s" % desktop.drive("processes"))
        check(first.poll() is None, "the first start still runs")
    finally:
        if second is not None and second.poll() is None:
            second.kill()
        desktop.stop()


main(test)
