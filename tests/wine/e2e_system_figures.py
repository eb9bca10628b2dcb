"""Figures from the system where Wine has no performance counters: while a busy loop runs, the
program's own server reports a processor load, a process count and a thread count above 0."""

import multiprocessing
import struct

from wine_desktop import Desktop, check, free_udp_port, main, udp_query, wait_for


def spin(seconds):
    import time
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pass


def host_figures(reply):
    """(cpuLoad, processCount, threadCount) of the HostRecord in a reply."""
    record = reply[7:7 + 124]
    return record[84], struct.unpack_from("<H", record, 90)[0], struct.unpack_from("<H", record, 92)[0]


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    port = free_udp_port()
    desktop.reg_add("networkServerEnabled", 1)
    desktop.reg_add("networkServerPort", port)
    busy = multiprocessing.Process(target=spin, args=(60,))
    try:
        desktop.start()
        busy.start()

        def loaded():
            reply = udp_query(port)
            return reply if reply is not None and host_figures(reply)[0] > 0 else None
        load, processes, threads = host_figures(wait_for(loaded, 30, "a processor load above 0"))
        check(processes > 0, "process count %d" % processes)
        check(threads >= processes, "thread count %d for %d processes" % (threads, processes))
        print("load %d %%, %d processes, %d threads" % (load, processes, threads))
    finally:
        if busy.is_alive():
            busy.terminate()
        busy.join()
        desktop.stop()


main(test)
