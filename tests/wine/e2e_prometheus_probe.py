"""A Windows PC in Prometheus without installing anything on it: tarvelon.exe with its server on and two
simulated GPUs, probed by the native tarvelon-agent's /probe, once directly and then by a real
Prometheus through the multi-target relabelling; Prometheus's API then holds the Windows host's name,
its two GPUs and tarvelon_probe_success 1."""

import os
import shutil
import subprocess
import sys
import tempfile

from wine_desktop import Desktop, check, free_udp_port, main, udp_query, wait_for

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "prometheus"))
from prometheus_fixture import free_port, get, probe_job, start_prometheus, value_of  # noqa: E402

AGENT = os.path.join(SOURCE, "build", "native", "agent", "tarvelon-agent")
SKIPPED = 77

GPUS = """physical 2
gpu 0 name Simulated GeForce
gpu 0 bus 1
gpu 0 coreTemp 77
gpu 1 name Simulated Quadro
gpu 1 bus 2
gpu 1 coreTemp 58
"""


def test(build):
    if not os.access(AGENT, os.X_OK) or not shutil.which("prometheus"):
        print("skipped: needs the native build's %s and Prometheus (Debian package prometheus)" % AGENT)
        sys.exit(SKIPPED)
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    exe_port, http_port, prometheus_port = desktop.server_on(), free_port(), free_port()
    desktop.reg_add("networkServerHostname", "lab-pc-07")
    work = tempfile.mkdtemp(prefix="tarvelon-prometheus-wine-")
    children = []
    with desktop.simulated_gpus(GPUS):
        try:
            desktop.start()
            wait_for(lambda: udp_query(exe_port), 30, "an answer from tarvelon.exe's server")
            children.append(subprocess.Popen(
                [AGENT, "--port", str(free_udp_port()), "--listen", "127.0.0.1", "--nvml", "/nonexistent",
                 "--metrics=127.0.0.1:%d" % http_port, "--probe-allow=127.0.0.0/8"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            status, text = wait_for(lambda: (lambda answer: answer if answer[0] == 200 else None)(
                get(http_port, "/probe?target=127.0.0.1:%d" % exe_port)), 30, "the agent's probe of the exe")
            check("tarvelon_probe_success 1" in text, "the probe failed:\n" + text)
            for line in ('tarvelon_host_info{host="lab-pc-07"} 1', 'tarvelon_gpus 2',
                         'tarvelon_gpu_info{gpu="0",name="Simulated GeForce",',
                         'tarvelon_gpu_temperature_celsius{gpu="0",sensor="core"} 77'):
                check(line in text, "the probe lacks %r:\n%s" % (line, text))

            children.append(start_prometheus(work, prometheus_port,
                                             [probe_job(http_port, ["127.0.0.1:%d" % exe_port])]))

            def value(expression):
                return value_of(prometheus_port, expression)

            check(wait_for(lambda: value('tarvelon_probe_success{instance="127.0.0.1:%d"}' % exe_port), 60,
                           "the probe in Prometheus") == "1", "Prometheus holds a failed probe of the exe")
            check(value('tarvelon_gpus{instance="127.0.0.1:%d"}' % exe_port) == "2",
                  "Prometheus lacks the Windows host's GPUs")
            second_gpu = 'tarvelon_gpu_temperature_celsius{instance="127.0.0.1:%d",gpu="1",sensor="core"}' % exe_port
            check(value(second_gpu) == "58", "Prometheus lacks the second GPU's temperature")
        finally:
            for child in children:
                child.terminate()
                child.wait(timeout=20)
            desktop.stop()
            shutil.rmtree(work, ignore_errors=True)


main(test)
