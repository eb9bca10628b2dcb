#!/usr/bin/env python3
"""The agent's Prometheus endpoint, measured.

1. CPU time per /metrics scrape and scrapes per second: the agent (two simulated GPUs) and
   prometheus-node-exporter (Debian's, default collectors) on loopback, each scraped back to back over
   one kept-alive connection for the same time, in one run; CPU from /proc/<pid>/stat of the server.
2. The agent as it would run: metrics on, scraped every 15 s and asked over UDP once a second, for the
   given time, on a machine without GPUs and with the two simulated ones (whose library reads its
   configuration file on every call, a cost of the fixture), next to an agent without metrics asked
   the same: CPU seconds per hour past their start
   (the scheduler's nanoseconds: the kernel's 10 ms ticks are too coarse for them) and peak resident
   memory (VmHWM) of each, so that what the machine's load adds shows in both.

usage: metrics_scrape_bench.py AGENT SIMULATED_NVML [seconds of part 2, default 120]
"""
import http.client
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

TICKS = os.sysconf("SC_CLK_TCK")
SCRAPE_SECONDS = 10


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def threads_cpu_seconds(pid):
    """Processor time so far of every live thread of pid."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        except OSError:
            pass  # the thread ended meanwhile
    return total / 1e9


def stopped_cpu_seconds(child):
    """Stops child; its whole processor time, ended threads included, from the kernel's accounting."""
    child.terminate()
    _, _, usage = os.wait4(child.pid, 0)
    child.returncode = 0
    return usage.ru_utime + usage.ru_stime


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def wait_http(port, path):
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            connection.request("GET", path)
            if connection.getresponse().status == 200:
                return
        except OSError:
            time.sleep(0.2)
    raise SystemExit(f"nothing answers on port {port}")


def scrape_for(pid, port, seconds):
    """Scrapes back to back; returns (CPU ms per scrape, scrapes per second, bytes per scrape)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    for _ in range(5):
        connection.request("GET", "/metrics")
        connection.getresponse().read()
    cpu_before, start, count, size = cpu_seconds(pid), time.monotonic(), 0, 0
    while time.monotonic() - start < seconds:
        connection.request("GET", "/metrics")
        size = len(connection.getresponse().read())
        count += 1
    elapsed, cpu = time.monotonic() - start, cpu_seconds(pid) - cpu_before
    return cpu * 1000 / count, count / elapsed, size


def main():
    agent, nvml = sys.argv[1], sys.argv[2]
    resident_seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    work = tempfile.mkdtemp(prefix="tarvelon-metrics-bench.")
    gpus = os.path.join(work, "gpus")
    with open(gpus, "w") as config:
        config.write("count 2\ngpu 0 name Bench GPU\ngpu 0 coreTemp 60\ngpu 1 name Bench GPU\n")
    env = dict(os.environ, TARVELON_SIMULATED_NVML=gpus)
    children = []

    def start_agent(metrics, library=nvml):
        udp, tcp = free_port(socket.SOCK_DGRAM), free_port(socket.SOCK_STREAM)
        command = [agent, "-p", str(udp), "-l", "127.0.0.1", "--nvml", library]
        child = subprocess.Popen(command + ([f"--metrics=127.0.0.1:{tcp}"] if metrics else []), env=env,
                                 stderr=subprocess.DEVNULL)
        children.append(child)
        if metrics:
            wait_http(tcp, "/metrics")
        return child, udp, tcp

    try:
        print(f"=== /metrics scraped back to back for {SCRAPE_SECONDS} s each")
        rows = []
        child, _, tcp = start_agent(True)
        rows.append(("tarvelon-agent",) + scrape_for(child.pid, tcp, SCRAPE_SECONDS))
        exporter = shutil.which("prometheus-node-exporter")
        if exporter:
            port = free_port(socket.SOCK_STREAM)
            node = subprocess.Popen([exporter, f"--web.listen-address=127.0.0.1:{port}"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            children.append(node)
            wait_http(port, "/metrics")
            rows.append(("node exporter",) + scrape_for(node.pid, port, SCRAPE_SECONDS))
        else:
            print("  prometheus-node-exporter is not installed: no comparison")
        print(f"  {'server':16} {'CPU ms/scrape':>14} {'scrapes/s':>10} {'bytes':>8}")
        for name, cpu, rate, size in rows:
            print(f"  {name:16} {cpu:14.3f} {rate:10.0f} {size:8}")
        if len(rows) == 2 and rows[0][1] > 0:
            print(f"  node exporter / agent CPU per scrape: {rows[1][1] / rows[0][1]:.1f}x (goal: at least 10x)")
        for child in children:
            child.terminate()
            child.wait()
        children.clear()

        print(f"=== agents polled over UDP once a second for {resident_seconds} s, side by side: "
              "with metrics on and scraped every 15 s, and without")
        no_gpus = os.path.join(work, "no-gpu-library.so")
        scraped = [("metrics on, no GPUs",) + start_agent(True, no_gpus),
                   ("metrics on, 2 simulated GPUs",) + start_agent(True)]
        plain = [("metrics off, no GPUs",) + start_agent(False, no_gpus)[:2]]
        agents = scraped + [entry + (None,) for entry in plain]
        time.sleep(2)
        before = {child.pid: threads_cpu_seconds(child.pid) for _, child, _, _ in agents}
        client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        client.settimeout(1)
        start = time.monotonic()
        next_scrape, sequence = start, 0
        while time.monotonic() - start < resident_seconds:
            if time.monotonic() >= next_scrape:
                for _, _, _, tcp in scraped:
                    connection = http.client.HTTPConnection("127.0.0.1", tcp, timeout=10)
                    connection.request("GET", "/metrics", headers={"X-Prometheus-Scrape-Timeout-Seconds": "10"})
                    connection.getresponse().read()
                    connection.close()
                next_scrape += 15
            sequence = (sequence + 1) % 256
            for _, _, udp, _ in agents:
                client.sendto(bytes([1, sequence, 0x31]), ("127.0.0.1", udp))
                try:
                    client.recv(6000)
                except socket.timeout:
                    pass
            time.sleep(1)
        elapsed = time.monotonic() - start
        for name, child, _, _ in agents:
            peak = peak_kib(child.pid)
            cpu = stopped_cpu_seconds(child) - before[child.pid]
            print(f"  {name:30} CPU {cpu * 3600 / elapsed:5.2f} s/hour, peak resident {peak / 1024:4.1f} MB")
        print("  goal with metrics on (no GPUs): at most 1.5 s/hour and 6 MB")
    finally:
        for child in children:
            child.terminate()
            child.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
