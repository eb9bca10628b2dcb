"""The tray icon and the shell: an icon added again when the shell starts anew ("TaskbarCreated"),
and a panel that lies on no monitor found again by a double-click on the icon, while one that lies on a
monitor stays where it is. Start-up keeps a stored position off the screen as stored."""

from wine_desktop import Desktop, check, main, wait_for


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    desktop.reg_add("windowPosX", 5000)
    desktop.reg_add("windowPosY", 4000)
    try:
        desktop.start()
        rect = desktop.wait_panel_size(136, 112)
        check(rect[:2] == (5000, 4000), "stored position kept at start-up, got %s" % (rect,))

        check(desktop.drive("shell-restart", "10", check_status=False) == "added",
              "tray icon added again for the restarted shell")

        desktop.drive("tray-double-click")
        centred = (572, 456)  # (1280 - 136) / 2, (1024 - 112) / 2
        wait_for(lambda: (lambda r: r and r[:2] == centred)(desktop.panel_rect()), 10,
                 "the panel in the middle of the screen")
        desktop.check_stored_position(centred, "found position stored")

        # Away from the middle but on the monitor, a double-click leaves the panel where it is. The
        # driver returns once the panel has handled the double-click.
        desktop.drag((centred[0] + 60, centred[1] + 50), (centred[0] - 240, centred[1] - 150))
        elsewhere = (272, 256)
        wait_for(lambda: (lambda r: r and r[:2] == elsewhere)(desktop.panel_rect()), 10, "the panel dragged aside")
        desktop.drive("tray-double-click")
        check(desktop.panel_rect()[:2] == elsewhere, "a panel on a monitor stays put, got %s" % (desktop.panel_rect(),))
        desktop.check_stored_position(elsewhere, "position kept stored")
    finally:
        desktop.stop()


main(test)
