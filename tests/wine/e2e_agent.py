"""tarvelon.exe watching a Linux machine: the native tarvelon-agent (from the native build beside this
one) serves figures read from a fixture tree, one GPU of the simulated management library and the
tree's Intel and AMD GPUs; the exe, configured with the agent as its server, draws a second row with a
host panel and three GPU panels, its Network Setup list shows the agent's slot "OK", and the values
the agent sends are read back over UDP on IPv4 and IPv6."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile

from wine_desktop import (BODY, GPU_HEADER, HOST_HEADER, Desktop, check, free_udp_port, gpu_name, host_record,
                          main, udp_query, wait_for)

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NATIVE = os.path.join(SOURCE, "build", "native")
AGENT = os.path.join(NATIVE, "agent", "tarvelon-agent")
SIMULATED_NVML = os.path.join(NATIVE, "tests", "fixtures", "libsimulated_nvml.so")
GPU_FIXTURES = os.path.join(SOURCE, "tests", "fixtures")
SKIPPED = 77

GPU_CONFIGURATION = """count 1
gpu 0 name Simulated Linux GPU
gpu 0 bus 7
gpu 0 load 42
gpu 0 maxGraphics 2000
gpu 0 graphics 1500
gpu 0 rpm 2000
gpu 0 coreTemp 66
gpu 0 memTemp 88
"""


def write(root, relative, text):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def write_machine(root):
    """Four processors at 3.0 of 4.0 GHz, 32 GiB with a quarter free and 4 GiB of swap half free, five processes."""
    write(root, "proc/stat", "cpu  100 0 100 800 0 0 0 0 0 0\n" +
          "".join("cpu%d 1 0 1 8 0 0 0 0 0 0\n" % n for n in range(4)))
    write(root, "proc/meminfo", "MemTotal: 33554432 kB\nMemFree: 1 kB\nMemAvailable: 8388608 kB\n"
          "SwapTotal: 4194304 kB\nSwapFree: 2097152 kB\nCommitLimit: 16777216 kB\nCommitted_AS: 4194304 kB\n")
    write(root, "proc/loadavg", "0.10 0.20 0.30 1/400 999\n")
    write(root, "proc/net/dev", "Inter-| Receive | Transmit\n face |bytes ... |bytes ...\n"
          "    lo: 1000 1 0 0 0 0 0 0 1000 1 0 0 0 0 0 0\n  eth0: 1000 1 0 0 0 0 0 0 1000 1 0 0 0 0 0 0\n")
    for pid in (1, 2, 3, 40, 500):
        os.makedirs(os.path.join(root, "proc", str(pid)), exist_ok=True)
    for n in range(4):
        write(root, "sys/devices/system/cpu/cpu%d/cpufreq/scaling_cur_freq" % n, "3000000\n")
        write(root, "sys/devices/system/cpu/cpu%d/cpufreq/cpuinfo_max_freq" % n, "4000000\n")


def check_agent_records(reply, sequence):
    check(reply is not None, "no answer from the agent")
    check(reply[:4] == bytes([1, sequence, 0x32, 3]), "reply header %r" % reply[:4])
    check(len(reply) == 131 + 3 * 108, "reply length %d" % len(reply))
    host = host_record(reply)
    check(host.hostName == "linux-agent", "host name %r" % host.hostName)
    processors = (host.cpuCount, host.cpuMhz, host.cpuMaxFreqPct)
    check(processors == (4, 3000, 75), "processors %r" % (processors,))
    check((host.processCount, host.threadCount) == (5, 400),
          "processes and threads %r" % ((host.processCount, host.threadCount),))
    memory = (host.physTotalMb, host.physFreeMb, host.physUsedPct)
    check(memory == (32768, 8192, 75), "memory %r" % (memory,))
    # The kernel overcommits by default, so the commit limit is no limit: memory and swap together.
    commit = (host.pageTotalMb, host.pageFreeMb)
    check(commit == (36864, 10240), "commit %r" % (commit,))
    check(host.gpuCount == 3, "gpuCount %d" % host.gpuCount)
    gpu = reply[131:239]
    check(gpu_name(gpu) == "Simulated Linux GPU", "GPU name %r" % gpu_name(gpu))
    check((gpu[1], gpu[2], gpu[86], gpu[92]) == (1, 7, 42, 75), "present, bus, load and core clock percent")
    check((gpu[105], gpu[106], gpu[107]) == (62, 66, 88), "fan, core and memory temperature bytes")
    # The kernel's GPUs after NVIDIA's, in PCI bus order.
    intel, amd = reply[239:347], reply[347:455]
    check((gpu_name(intel), intel[2]) == ("DG2 [Arc A770]", 3), "Intel GPU %r" % gpu_name(intel))
    check((gpu_name(amd), amd[2], amd[86], amd[106]) == ("AMD Radeon RX 6800 XT", 10, 37, 54),
          "AMD GPU %r" % gpu_name(amd))


def test(build):
    if not os.access(AGENT, os.X_OK) or not os.path.exists(SIMULATED_NVML):
        print("skipped: the native build's %s and %s are missing; build the native preset first "
              "(scripts/test does)" % (AGENT, SIMULATED_NVML))
        sys.exit(SKIPPED)
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    fixture = tempfile.mkdtemp(prefix="tarvelon-agent-e2e-")
    agent_port = free_udp_port()
    write_machine(fixture)
    shutil.copytree(os.path.join(GPU_FIXTURES, "gpu-root", "sys"), os.path.join(fixture, "sys"), symlinks=True,
                    dirs_exist_ok=True)
    write(fixture, "simulated-nvml.txt", GPU_CONFIGURATION)
    agent_log = open(os.path.join(fixture, "agent.log"), "w+")
    agent_env = dict(os.environ, TARVELON_SIMULATED_NVML=os.path.join(fixture, "simulated-nvml.txt"))
    agent = subprocess.Popen([AGENT, "--port", str(agent_port), "--name", "linux-agent", "--root", fixture,
                              "--nvml", SIMULATED_NVML, "--gpu-id-lists", os.path.join(GPU_FIXTURES, "gpu-id-lists")],
                             env=agent_env, stdout=subprocess.DEVNULL, stderr=agent_log, stdin=subprocess.DEVNULL)
    for name, value in (("windowPosX", 200), ("windowPosY", 150), ("networkServerList_00_Active", 1),
                        ("networkServerList_00_Enabled", 1), ("networkServerList_00_Hostname", "127.0.0.1"),
                        ("networkServerList_00_Port", agent_port), ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(name, value)
    try:
        check_agent_records(wait_for(lambda: udp_query(agent_port, sequence=5), 30, "the agent's first answer"), 5)
        check_agent_records(udp_query(agent_port, host="::1", family=socket.AF_INET6, sequence=6), 6)

        desktop.start()
        # The local row (its host panel) and the agent's row: its host panel and its three GPU panels.
        left, top, _, _ = desktop.wait_panel_size(4 * 136, 224)

        def painted():
            shot = desktop.screenshot()
            return shot if shot.pixel(left + 3 * 136 + 133, top + 112 + 60) == BODY else None
        shot = wait_for(painted, 20, "the agent's last GPU panel body, untinted")
        for panel in (1, 2, 3):
            check(shot.pixel(left + panel * 136 + 15, top + 112 + 100) == GPU_HEADER,
                  "the header strip of the agent's GPU panel %d" % panel)
        check(shot.pixel(left + 133, top + 112 + 60) == BODY, "the agent's host panel body, untinted")
        check(shot.pixel(left + 15, top + 112 + 100) == HOST_HEADER, "the agent's host header strip")

        line = wait_for(lambda: desktop.slot_line("OK"), 20, "the agent's slot to show OK")
        check(line.startswith("#00 127.0.0.1 @ %d > OK" % agent_port), "list line %r" % line)

        # What the exe draws is what the agent still sends.
        check_agent_records(udp_query(agent_port, sequence=8), 8)
        check(agent.poll() is None, "the agent is still running")
    except Exception:
        agent_log.seek(0)
        print("agent log:\n" + agent_log.read())
        raise
    finally:
        desktop.stop()
        agent.terminate()
        agent.wait(timeout=20)
        agent_log.close()
        shutil.rmtree(fixture, ignore_errors=True)


main(test)
