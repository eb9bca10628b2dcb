"""The lost-server alarm in the real program, against a watched server played here over loopback: one
that drops one reply in ten raises no tray notice, and once it goes silent it is announced once, after
about 30 s (not 90). Notices are counted in Wine's own shell, traced. Which words the notice carries is decided
and tested natively. A second socket forges a reply ahead of each real one, with the right sequence: the
program takes only the server's own."""

import os
import socket
import tempfile
import threading
import time

from wine_desktop import Desktop, check, main, tray_balloons, wait_for

DROP_EVERY = 10
DROPS_BEFORE_SILENCE = 9  # about 90 polls: a minute and a half of a flaky link


class FlakyPeer:
    """Answers queries {1, sequence, 0x31} with a full reply for a host named "flaky" and no GPUs,
    except every tenth; silent once told to be. Before each reply a second socket sends one for a host
    named "forged"."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.2)
        self.port = self.socket.getsockname()[1]
        self.forger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.forger.bind(("127.0.0.1", 0))
        self.queries = self.answered = self.dropped = 0
        self.silent = False
        self.stopped = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while not self.stopped:
            try:
                request, sender = self.socket.recvfrom(64)
            except socket.timeout:
                continue
            if len(request) != 3 or request[0] != 1 or request[2] != 0x31:
                continue
            self.queries += 1
            if self.silent:
                continue
            if self.queries % DROP_EVERY == 0:
                self.dropped += 1
                continue
            self.forger.sendto(self.reply(request[1], "forged"), sender)
            self.socket.sendto(self.reply(request[1], "flaky"), sender)
            self.answered += 1

    @staticmethod
    def reply(sequence, host):
        reply = bytearray(7 + 124)
        reply[0:3] = bytes([1, sequence, 0x32])
        name = host.encode("utf-16-le")
        reply[9:9 + len(name)] = name
        return bytes(reply)

    def close(self):
        self.stopped = True
        self.thread.join(timeout=5)
        self.socket.close()
        self.forger.close()


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    peer = FlakyPeer()
    for name, value in (("alarmServerLost", 1), ("windowPosX", 200), ("windowPosY", 150),
                        ("networkServerList_00_Active", 1), ("networkServerList_00_Enabled", 1),
                        ("networkServerList_00_Hostname", "127.0.0.1"), ("networkServerList_00_Port", peer.port),
                        ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(name, value)
    with tempfile.TemporaryDirectory() as directory:
        log = os.path.join(directory, "systray.log")
        try:
            desktop.start_with_traced_tray(log)
            desktop.wait_panel_size(136, 224)
            wait_for(lambda: peer.answered > 0, 30, "the first answer")
            wait_for(lambda: desktop.slot_line("OK"), 30, "the slot to show OK")
            wait_for(lambda: desktop.reported_server_name(0) == "flaky", 30, "the name the server sends")

            # Polls about every second, so this takes about 90 s; a slow machine only makes it longer.
            wait_for(lambda: peer.dropped >= DROPS_BEFORE_SILENCE, 200, "%d dropped replies" % DROPS_BEFORE_SILENCE)
            check(tray_balloons(log) == 0, "a reply dropped now and then raised %d notices" % tray_balloons(log))

            peer.silent = True
            silent_since = time.monotonic()
            # Due after 30 s; waiting no longer than 60 s tells it from one at 90 s however slow the machine.
            wait_for(lambda: tray_balloons(log) > 0, 60, "the notice of the silent server")
            announced_after = time.monotonic() - silent_since
            check(28 < announced_after < 60, "announced after %.1f s of silence" % announced_after)
            time.sleep(15)
            check(tray_balloons(log) == 1, "one notice, got %d" % tray_balloons(log))
            print("announced after %.1f s of silence; %d queries, %d dropped before"
                  % (announced_after, peer.queries, peer.dropped))
        finally:
            desktop.stop()
            peer.close()


main(test)
