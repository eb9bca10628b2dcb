"""One address family's failure does not stop the other: with the server's port held by another
program on IPv4, tarvelon.exe answers on IPv6 all along, and on IPv4 too as soon as the port is free,
without being switched off and on; then the other way round."""

import socket

from wine_desktop import Desktop, check, main, wait_for, udp_query

FAMILIES = {socket.AF_INET: ("IPv4", "127.0.0.1", "0.0.0.0"), socket.AF_INET6: ("IPv6", "::1", "::")}


def full_reply(port, family):
    reply = udp_query(port, host=FAMILIES[family][1], family=family, timeout=1.0)
    return reply if reply is not None and reply[1:3] == bytes([7, 0x32]) else None


def test(build):
    desktop = Desktop(build)
    for held, other in ((socket.AF_INET, socket.AF_INET6), (socket.AF_INET6, socket.AF_INET)):
        name = FAMILIES[held][0]
        desktop.stop()
        desktop.reg_delete()
        port = desktop.server_on()
        holder = socket.socket(held, socket.SOCK_DGRAM)
        if held == socket.AF_INET6:
            holder.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        holder.bind((FAMILIES[held][2], port))
        try:
            desktop.start()
            wait_for(lambda: full_reply(port, other), 30, "an answer on the other family while %s is held" % name)
            check(udp_query(port, host=FAMILIES[held][1], family=held, timeout=1.0) is None,
                  "the holder of %s answered" % name)
            holder.close()
            wait_for(lambda: full_reply(port, held), 30, "an answer on %s once the port is free" % name)
            check(full_reply(port, other) is not None, "the other family still answers")
        finally:
            holder.close()
            desktop.stop()


main(test)
