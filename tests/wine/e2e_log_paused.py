"""A CSV log folder that cannot be made (a file stands where it should be), typed into General Setup:
one tray balloon, not one a second nor one a retry, while the log tries again every minute. The icon's changes are watched from a
tray window that win_driver plays."""

import os

from wine_desktop import Desktop, check, main


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    blocker = os.path.join(desktop.env["WINEPREFIX"], "drive_c", "tarvelon-blocked")
    with open(blocker, "w") as out:
        out.write("a file where the log's folder should be")
    try:
        desktop.start()
        desktop.wait_panel_size(136, 112)
        # Past the first retry, a minute after the failure.
        changes = desktop.watch_tray(
            75, lambda: desktop.drive("set", "General Setup", "1010", "C:\\tarvelon-blocked\\logs"))
        values = desktop.reg_query()
        check(values["historyLogDirectory"][1] == "C:\\tarvelon-blocked\\logs", "stored folder %r" %
              (values["historyLogDirectory"],))
    finally:
        desktop.stop()
        os.remove(blocker)
    check(changes.count("balloon") == 1, "one balloon, got %r" % changes)


main(test)
