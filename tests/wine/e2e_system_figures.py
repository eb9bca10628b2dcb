"""Figures from the system where Wine has no performance counters: while a busy loop runs, the
program's own server reports a processor load, a process count and a thread count above 0."""

import multiprocessing

from wine_desktop import Desktop, check, host_record, main, udp_query, wait_for


def spin(seconds):
    import time
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pass


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    port = desktop.server_on()
    busy = multiprocessing.Process(target=spin, args=(60,))
    try:
        desktop.start()
        busy.start()

        def loaded():
            reply = udp_query(port)
            return reply if reply is not None and host_record(reply).cpuLoad > 0 else None
        host = host_record(wait_for(loaded, 30, "a processor load above 0"))
        load, processes, threads = host.cpuLoad, host.processCount, host.threadCount
        check(processes > 0, "process count %d" % processes)
        check(threads >= processes, "thread count %d for %d processes" % (threads, processes))
        print("load %d %%, %d processes, %d threads" % (load, processes, threads))
    finally:
        if busy.is_alive():
            busy.terminate()
        busy.join()
        desktop.stop()


main(test)
