"""Who may ask, in the real program: with networkServerAllow naming only ::1, tarvelon.exe answers a
query from ::1 and none from 127.0.0.1, on the same port; with the list named 127.0.0.0/8 the other
way round."""

import socket

from wine_desktop import Desktop, check, main, udp_query, wait_for

LOOPBACKS = {socket.AF_INET: "127.0.0.1", socket.AF_INET6: "::1"}


def answers(port, family):
    reply = udp_query(port, host=LOOPBACKS[family], family=family, timeout=1.0)
    return reply is not None and reply[1:3] == bytes([7, 0x32])


def test(build):
    desktop = Desktop(build)
    for allowed, refused, text in ((socket.AF_INET6, socket.AF_INET, "::1"),
                                   (socket.AF_INET, socket.AF_INET6, "127.0.0.0/8")):
        desktop.stop()
        desktop.reg_delete()
        port = desktop.server_on()
        desktop.reg_add("networkServerAllow", text)
        try:
            desktop.start()
            wait_for(lambda: answers(port, allowed), 30, "an answer to %s with the list %s" % (LOOPBACKS[allowed], text))
            check(not any(answers(port, refused) for _ in range(3)),
                  "%s was answered with the list %s" % (LOOPBACKS[refused], text))
        finally:
            desktop.stop()


main(test)
