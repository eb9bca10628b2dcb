"""Stored settings come back: font size 20 and layout 2 at a stored position give a 224 x 184 panel
there; the values stay as stored."""

from wine_desktop import Desktop, check, main


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    for name, value in (("fontsize", 20), ("layout", 2), ("windowPosX", 100), ("windowPosY", 150)):
        desktop.reg_add(name, value)
    try:
        desktop.start()
        left, top, _, _ = desktop.wait_panel_size(224, 184)
        check((left, top) == (100, 150), "panel at %d,%d, expected 100,150" % (left, top))
        values = desktop.reg_query()
        check(values["fontsize"][1] == "0x14", "font size kept")
        check(values["layout"][1] == "0x2", "layout kept")
    finally:
        desktop.stop()


main(test)
