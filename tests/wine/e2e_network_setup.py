"""Network Setup against a second machine (another Wine prefix, another instance): switching the
server on with the port "abc" is refused with "Server Port Error"; adding 127.0.0.1 with the second
instance's port makes a second row of panels appear in the normal tone, the slot shows "OK" and the
host name the second instance sends; removing it takes the row and its registry values away."""

import os

from wine_desktop import BODY, Desktop, check, free_udp_port, main, wait_for

DIALOG = "Network Setup"


def test(build):
    local = Desktop(build)
    remote = Desktop(build, prefix=os.path.join(os.path.abspath(build), "wineprefix-remote"))
    for desktop in (local, remote):
        desktop.stop()
        desktop.reg_delete()
    port = free_udp_port()
    for name, value in (("networkServerEnabled", 1), ("networkServerPort", port),
                        ("networkServerHostname", "remote-box"), ("windowPosX", 900), ("windowPosY", 100)):
        remote.reg_add(name, value)
    local.reg_add("windowPosX", 200)
    local.reg_add("windowPosY", 100)
    try:
        remote.start()
        local.start()
        local.wait_panel_size(136, 112)

        local.drive("set", DIALOG, "1015", "abc")
        local.drive("click", DIALOG, "1014")
        text = local.drive("box", "Server Port Error", "15")
        check(text == "The server port must between 1024 and 65535", "port error text: %r" % text)
        check(local.drive("checked", DIALOG, "1014") == "0", "server switch unchecked again")
        check(local.reg_query()["networkServerEnabled"][1] == "0x0", "nothing saved")

        local.drive("set", DIALOG, "1017", "127.0.0.1")
        local.drive("set", DIALOG, "1018", str(port))
        local.drive("click", DIALOG, "1019")
        line = wait_for(lambda: local.drive("list", DIALOG, "1020"), 10, "the new list line")
        check(line.startswith("#00 127.0.0.1 @ %d > " % port), "list line: %r" % line)
        rect = local.wait_panel_size(136, 224)
        wait_for(lambda: local.slot_line("OK"), 30, "the new slot to show OK")
        # A resolved slot shows OK before its first reply: the name arrives with the reply.
        wait_for(lambda: local.reported_server_name(0) == "remote-box", 30, "the name remote-box in the new slot")
        wait_for(lambda: local.screenshot().host_body(rect, 1) == BODY, 20, "its row in the normal tone")
        values = local.reg_query()
        check(values.get("networkServerList_00_Hostname") == ("REG_SZ", "127.0.0.1"), "stored address")
        check(values.get("networkServerList_00_Port") == ("REG_DWORD", hex(port)), "stored port")

        local.drive("select", DIALOG, "1020", "0")
        local.drive("click", DIALOG, "1023")
        local.wait_panel_size(136, 112)
        wait_for(lambda: local.drive("list", DIALOG, "1020") == "", 10, "the list to empty")
        values = local.reg_query()
        check(not any(name.startswith("networkServerList_") for name in values), "slot values deleted")
    finally:
        local.stop()
        remote.stop()


main(test)
