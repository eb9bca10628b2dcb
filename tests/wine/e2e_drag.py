"""Dragging the panel with the mouse: it follows, the position is stored, it stops at the screen's
edges, and near the left edge the hosts are stacked in columns (layout 2), which shows as the window's
new shape once a second host is there. The second host is this instance itself, through its own
query server. A drag ends when the panel loses the mouse capture, with the button still held."""

import time

from wine_desktop import Desktop, check, free_udp_port, main, wait_for


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    port = free_udp_port()
    for name, value in (("networkServerEnabled", 1), ("networkServerPort", port),
                        ("networkServerHostname", "self"), ("windowPosX", 500), ("windowPosY", 300),
                        ("networkServerList_00_Active", 1), ("networkServerList_00_Enabled", 1),
                        ("networkServerList_00_Hostname", "127.0.0.1"), ("networkServerList_00_Port", port),
                        ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(name, value)
    try:
        desktop.start()
        left, top, _, _ = desktop.wait_panel_size(136, 224)  # layout 1: one row per host

        desktop.drag((left + 100, top + 60), (left + 200, top + 110))
        moved = wait_for(lambda: (lambda r: r if r and r[:2] == (left + 100, top + 50) else None)(
            desktop.panel_rect()), 10, "the panel to follow the mouse")
        desktop.check_stored_position(moved, "position stored after the drag")

        # Against the left edge: stops at x 0 and switches to columns.
        desktop.drag((moved[0] + 100, moved[1] + 60), (5, moved[1] + 60))
        rect = desktop.wait_panel_size(272, 112)
        check(rect[0] == 0, "panel stopped at the left edge, left is %d" % rect[0])
        check(desktop.reg_query()["layout"][1] == "0x2", "layout 2 stored")

        # Back to the middle: the layout stays.
        desktop.drag((50, rect[1] + 50), (600, 500))
        rect = desktop.wait_panel_size(272, 112)
        check(rect[0] > 0, "panel moved back")

        # The button is up: moving the mouse over the panel moves nothing.
        desktop.xdotool("mousemove", rect[0] + 60, rect[1] + 50)
        desktop.xdotool("mousemove", rect[0] + 90, rect[1] + 70)
        check(desktop.panel_rect()[:2] == rect[:2], "panel moved without a button held")

        # Far towards the bottom-right corner, the cursor short of the edge zones: the panel stops with its
        # right and bottom edges on the screen's.
        desktop.drag((rect[0] + 60, rect[1] + 50), (1200, 1000), steps=20)
        rect = desktop.wait_panel_size(272, 112)
        check(rect[0] + rect[2] == 1280 and rect[1] + rect[3] == 1024,
              "panel stopped at the bottom-right corner: %s" % (rect,))

        # Into the corner itself: the bottom edge zone wins and the hosts are rows again.
        desktop.drag((rect[0] + 200, rect[1] + 50), (1279, 1023), steps=10)
        rect = desktop.wait_panel_size(136, 224)
        check(desktop.reg_query()["layout"][1] == "0x1", "layout 1 stored")

        # A right click during a drag opens the menu, which takes the mouse capture: the drag ends, and
        # the panel stays put while the cursor moves on over it with the left button still held.
        x, y = rect[0] + 60, rect[1] + 100
        desktop.xdotool("mousemove", x, y)
        time.sleep(0.3)
        desktop.xdotool("mousedown", 1)
        time.sleep(0.3)
        desktop.xdotool("mousemove", x - 10, y - 10)
        held = (rect[0] - 10, rect[1] - 10)
        wait_for(lambda: (lambda r: r and r[:2] == held)(desktop.panel_rect()), 10, "the panel to follow")
        desktop.xdotool("click", 3)
        time.sleep(1.5)  # the menu is open
        desktop.xdotool("key", "Escape")
        time.sleep(0.5)
        for step in range(1, 5):
            desktop.xdotool("mousemove", x - 10 - 4 * step, y - 10 - 4 * step)
            time.sleep(0.2)
        after = desktop.panel_rect()
        desktop.xdotool("mouseup", 1)
        check(after[:2] == held, "panel followed the cursor after losing the capture: %s" % (after,))
        desktop.check_stored_position(held, "position stored where the drag ended")
    finally:
        desktop.stop()


main(test)
