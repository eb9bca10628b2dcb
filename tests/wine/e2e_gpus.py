"""tarvelon.exe with two NVIDIA GPUs, one of them in TCC mode (the simulated driver library in the
prefix's system directory): the panel grows a GPU panel per GPU with the GPU header colour, and the
query server sends both GPU records, the second named "... TCC"."""

from wine_desktop import BODY, GPU_HEADER, Desktop, check, gpu_name, host_record, main, udp_query, wait_for

CONFIGURATION = """physical 1
tcc 1
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 load 97
gpu 0 core 1500000
gpu 0 coreBoost 1800000
gpu 0 dedicated 8388608
gpu 0 available 4194304
gpu 0 rpm 1500
gpu 0 coreTemp 85
gpu 1 name Simulated Tesla
gpu 1 bus 2
"""


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    port = desktop.server_on()
    with desktop.simulated_gpus(CONFIGURATION):
        desktop.start()
        left, top, _, _ = desktop.wait_panel_size(3 * 136, 112)

        def painted():
            shot = desktop.screenshot()
            return shot if shot.pixel(left + 136 + 133, top + 60) == BODY else None
        shot = wait_for(painted, 20, "the first GPU panel's body")
        check(shot.pixel(left + 136 + 15, top + 100) == GPU_HEADER, "GPU header strip colour")
        check(shot.pixel(left + 272 + 15, top + 100) == GPU_HEADER, "second GPU header strip colour")

        reply = wait_for(lambda: udp_query(port), 15, "an answer from the server")
        check(reply[2] == 0x32 and reply[3] == 2 and len(reply) == 131 + 2 * 108, "reply with two GPU records")
        first, second = reply[131:239], reply[239:347]
        check(gpu_name(first) == "Simulated GeForce", "first GPU name %r" % gpu_name(first))
        check(gpu_name(second) == "Simulated Tesla TCC", "second GPU name %r" % gpu_name(second))
        check(first[86] == 97 and first[105] == 46 and first[106] == 85, "load, fan and temperature bytes")
        check(host_record(reply).gpuCount == 2, "gpuCount 2 in the host record")


main(test)
