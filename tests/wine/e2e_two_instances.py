"""Two machines watching each other: each instance (its own Wine prefix) runs its query server and
polls the other; both show two rows of panels, and a native client receives each one's records over
UDP on IPv4 and IPv6."""

import os
import socket

from wine_desktop import Desktop, check, free_udp_port, host_name_of, main, udp_query, wait_for


def configure(desktop, name, port, peer_port, x):
    for key, value in (("networkServerEnabled", 1), ("networkServerPort", port), ("networkServerHostname", name),
                       ("windowPosX", x), ("windowPosY", 200), ("networkServerList_00_Active", 1),
                       ("networkServerList_00_Enabled", 1), ("networkServerList_00_Hostname", "127.0.0.1"),
                       ("networkServerList_00_Port", peer_port), ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(key, value)


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
        alpha.wait_panel_size(136, 224)
        beta.wait_panel_size(136, 224)
        for port, name in ((alpha_port, "alpha"), (beta_port, "beta")):
            reply = wait_for(lambda: udp_query(port), 15, "an answer from " + name)
            check(reply[:3] == bytes([1, 7, 0x32]), "reply header %r" % reply[:3])
            check(len(reply) == 131 + 108 * reply[3], "reply length %d for %d GPUs" % (len(reply), reply[3]))
            check(host_name_of(reply) == name, "host name %r" % host_name_of(reply))
            reply6 = udp_query(port, host="::1", family=socket.AF_INET6, sequence=9)
            check(reply6 is not None and reply6[1:3] == bytes([9, 0x32]), "IPv6 reply from " + name)
        status = alpha.drive("get", "Network Setup", "1032")
        check(status in ("Running", "Statisch"), "server state field %r" % status)
    finally:
        alpha.stop()
        beta.stop()


main(test)
