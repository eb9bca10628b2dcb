"""Two machines watching each other: each instance (its own Wine prefix) runs its query server and
polls the other. A native client receives each one's records over UDP on IPv4 and IPv6; each instance
shows the other's slot "OK", the host name the other sends, and its row in the normal tone; once one
instance is gone, the other's row for it turns to the warning tone and its slot to "No Response"."""

import os
import socket

from wine_desktop import (BODY, WARNING_BODY, Desktop, check, free_udp_port, host_name_of, main, udp_query,
                          wait_for)


def configure(desktop, name, port, peer_port, x):
    for key, value in (("networkServerEnabled", 1), ("networkServerPort", port), ("networkServerHostname", name),
                       ("windowPosX", x), ("windowPosY", 200), ("networkServerList_00_Active", 1),
                       ("networkServerList_00_Enabled", 1), ("networkServerList_00_Hostname", "127.0.0.1"),
                       ("networkServerList_00_Port", peer_port), ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(key, value)


def check_answered_by(desktop, rect, peer_name, peer_port):
    line = wait_for(lambda: desktop.slot_line("OK"), 30, "the slot of %s to show OK" % peer_name)
    check(line.startswith("#00 127.0.0.1 @ %d > OK [" % peer_port), "list line %r" % line)
    # A resolved slot shows OK before its first reply: the name arrives with the reply.
    wait_for(lambda: desktop.reported_server_name(0) == peer_name, 30, "the name %s in its slot" % peer_name)
    wait_for(lambda: desktop.screenshot().host_body(rect, 1) == BODY, 20,
             "the row of %s in the normal tone" % peer_name)


def test(build):
    alpha = Desktop(build)
    beta = Desktop(build, prefix=os.path.join(os.path.abspath(build), "wineprefix-remote"))
    for desktop in (alpha, beta):
        desktop.stop()
        desktop.reg_delete()
    alpha_port, beta_port = free_udp_port(), free_udp_port()
    while beta_port == alpha_port:
        beta_port = free_udp_port()
    configure(alpha, "alpha", alpha_port, beta_port, 100)
    configure(beta, "beta", beta_port, alpha_port, 700)
    try:
        alpha.start()
        beta.start()
        alpha_rect = alpha.wait_panel_size(136, 224)
        beta_rect = beta.wait_panel_size(136, 224)
        for port, name in ((alpha_port, "alpha"), (beta_port, "beta")):
            reply = wait_for(lambda: udp_query(port), 15, "an answer from " + name)
            check(reply[:3] == bytes([1, 7, 0x32]), "reply header %r" % reply[:3])
            check(len(reply) == 131 + 108 * reply[3], "reply length %d for %d GPUs" % (len(reply), reply[3]))
            check(host_name_of(reply) == name, "host name %r" % host_name_of(reply))
            reply6 = udp_query(port, host="::1", family=socket.AF_INET6, sequence=9)
            check(reply6 is not None and reply6[1:3] == bytes([9, 0x32]), "IPv6 reply from " + name)

        check_answered_by(alpha, alpha_rect, "beta", beta_port)
        check_answered_by(beta, beta_rect, "alpha", alpha_port)

        # A peer that no longer answers: its row takes the warning tone.
        beta.stop()
        wait_for(lambda: alpha.slot_line("No Response (delay 15s)"), 30, "the slot of beta to show No Response")
        wait_for(lambda: alpha.screenshot().host_body(alpha_rect, 1) == WARNING_BODY, 20,
                 "the row of beta in the warning tone")
    finally:
        alpha.stop()
        beta.stop()


main(test)
