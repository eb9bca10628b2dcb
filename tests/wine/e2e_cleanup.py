"""The General Setup cleanup button deletes the settings key, alarm rules included, and ends the program
at once; the next start is a first start."""

from wine_desktop import Desktop, check, main, wait_for


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    for name, value in (("fontsize", 20), ("windowPosX", 30), ("windowPosY", 40),
                        ("networkServerList_03_Active", 1), ("networkServerList_03_Hostname", "gpu-box")):
        desktop.reg_add(name, value)
    desktop.wine("reg", "add", r"HKCU\Software\Tarvelon\Alarms\4", "/v", "figure", "/d", "threads", "/f")
    try:
        desktop.start()
        desktop.wait_panel_size(224, 2 * 184)  # the configured server is a second, deactivated row
        desktop.drive("click", "General Setup", "1006")
        wait_for(lambda: desktop.program.poll() is not None, 20, "the program to end")
        check(desktop.program.returncode == 0, "exit code %d" % desktop.program.returncode)
        check(desktop.reg_query() is None, "the settings key is gone")

        desktop.start()
        rect = desktop.wait_panel_size(136, 112)
        check(rect[:2] == (640, 512), "first start position, got %d,%d" % rect[:2])
    finally:
        desktop.stop()


main(test)
