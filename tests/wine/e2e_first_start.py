"""First start with no settings: the panel stands with its top-left corner at the middle of the screen,
one host panel of 136 x 112 in the host panel's colours with its text inside the cells, and start-up
writes every setting."""

from wine_desktop import (BODY, HOST_HEADER, Desktop, check, main, wait_for)

STORED_VALUES = {
    "windowPosX": "REG_DWORD", "windowPosY": "REG_DWORD", "layout": "REG_DWORD", "fontsize": "REG_DWORD",
    "alwaysontop": "REG_DWORD", "networkServerEnabled": "REG_DWORD", "networkServerHostname": "REG_SZ",
    "networkServerPort": "REG_DWORD", "networkServerListen": "REG_SZ", "removeDeadServer": "REG_DWORD",
    "removeDeactivatedServer": "REG_DWORD", "alarmGpuTempC": "REG_DWORD", "alarmServerLost": "REG_DWORD",
    "historyLogDirectory": "REG_SZ", "historyWindowX": "REG_DWORD", "historyWindowY": "REG_DWORD",
    "historyWindowWidth": "REG_DWORD", "historyWindowHeight": "REG_DWORD",
}


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    try:
        desktop.start()
        left, top, width, height = desktop.wait_panel_size(136, 112)
        check((left, top) == (640, 512), "panel at %d,%d, expected the screen's middle 640,512" % (left, top))

        def painted():
            shot = desktop.screenshot()
            return shot if shot.pixel(left + 133, top + 60) == BODY else None
        shot = wait_for(painted, 20, "the panel body colour")
        check(shot.pixel(left + 15, top + 100) == HOST_HEADER, "host header strip colour")
        check(shot.pixel(left + 130, top + 8) == HOST_HEADER, "title strip colour")
        # The prefix's stand-in for Consolas fits the cells: labels end before the value column and
        # values end well inside the panel, so these columns hold nothing but the body colour.
        for x in list(range(72, 79)) + list(range(110, 136)):
            for y in range(16, 112):
                check(shot.pixel(left + x, top + y) == BODY, "text at %d,%d of the panel" % (x, y))

        values = desktop.reg_query()
        check(values is not None, "the settings key was not written during start-up")
        for name, kind in STORED_VALUES.items():
            check(name in values and values[name][0] == kind, "%s missing or not %s" % (name, kind))
        check(values["windowPosX"][1] == "0x280" and values["windowPosY"][1] == "0x200", "stored position")
        check(values["fontsize"][1] == "0xc" and values["layout"][1] == "0x1", "stored font size and layout")
        check(values["networkServerHostname"][1] == "My Hostname", "stored host name")
    finally:
        desktop.stop()


main(test)
