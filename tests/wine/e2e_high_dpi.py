"""A screen of 144 DPI (LogPixels 144, in a prefix of its own): the per-monitor aware program keeps the
panel's physical size, so a first start with font size 12 draws lines of 18 pixels in a panel of
202 x 166, and the General Setup dialog grows with the system's scale."""

import os

from wine_desktop import BODY, Desktop, check, main, wait_for


def test(build):
    desktop = Desktop(build, prefix=os.path.join(os.path.abspath(build), "wineprefix-144dpi"))
    desktop.stop()
    for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
        desktop.wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
    desktop.reg_delete()
    desktop.stop()  # the DPI is read when Wine starts
    try:
        desktop.start()
        left, top, _, _ = desktop.wait_panel_size(202, 166)

        def painted():
            shot = desktop.screenshot()
            return shot if shot.pixel(left + 199, top + 90) == BODY else None
        wait_for(painted, 20, "the panel body at its far edge")
        values = desktop.reg_query()
        check(values["fontsize"][1] == "0xc", "the stored font size stays 12, got %s" % values["fontsize"][1])

        frame = [int(v) for v in desktop.drive("rect", "General Setup").split()]
        # 221 dialog units of MS Shell Dlg: about 340 pixels at 96 DPI.
        check(frame[2] - frame[0] > 450, "General Setup is %d pixels wide" % (frame[2] - frame[0]))
    finally:
        desktop.stop()


main(test)
