#!/usr/bin/env python3
"""The agent's metrics endpoint against Prometheus's own tools, on loopback.

One agent ("alpha", two simulated GPUs) serves /metrics and /probe; a second ("beta") answers UDP
only; a third ("gamma") names the processes using its GPUs, from a fixture /proc. promtool accepts
all three endpoints' text; bad requests get their status while the agent keeps
serving HTTP and UDP; a real Prometheus scrapes alpha and probes beta and a silent port through
relabelling, and its HTTP API then holds the simulated temperature and both probe outcomes.

usage: agent_prometheus.py AGENT SIMULATED_NVML    (exit 77 without Prometheus installed)
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

from prometheus_fixture import agent_job, free_port, probe_job, request, start_prometheus, value_of

GPUS = """count 2
driver 550.54.14
gpu 0 name Simulated "Quoted" GPU
gpu 0 uuid GPU-5e6d3c1a-0000-4000-8000-000000000001
gpu 0 power 123456
gpu 0 energy 5000000
gpu 0 coreTemp 67
gpu 0 memTemp 71
gpu 0 total 8589934592
gpu 0 free 4294967296
gpu 0 load 42
gpu 1 name Second
gpu 1 coreTemp 55
"""


def raw_status(port, data):
    """The status of a request sent as raw bytes, for what http.client will not send."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.sendall(data)
        reply = b""
        while b"\r\n" not in reply:
            chunk = connection.recv(4096)
            if not chunk:
                break
            reply += chunk
    return int(reply.split(b" ")[1]) if reply.startswith(b"HTTP/") else None


def udp_answers(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.settimeout(2)
        client.sendto(bytes([1, 7, 0x31]), ("127.0.0.1", port))
        reply = client.recv(6000)
    return reply[1:3] == bytes([7, 0x32])


def wait_for(what, check, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            result = check()
            if result:
                return result
        except OSError:
            pass
        time.sleep(0.3)
    raise AssertionError(f"gave up waiting for {what}")


def promtool_accepts(text):
    run = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
    return run.returncode == 0, run.stdout + run.stderr


def main():
    agent, nvml = sys.argv[1], sys.argv[2]
    if not shutil.which("prometheus") or not shutil.which("promtool"):
        print("Prometheus is not installed (Debian package prometheus): nothing to run against")
        return 77
    failures = []

    def check(condition, message):
        if not condition:
            failures.append(message)
            print("FAILED:", message)

    work = tempfile.mkdtemp(prefix="tarvelon-prometheus.")
    children = []
    try:
        with open(os.path.join(work, "gpus"), "w") as config:
            config.write(GPUS)
        env = dict(os.environ, TARVELON_SIMULATED_NVML=os.path.join(work, "gpus"))
        alpha_udp, beta_udp = free_port(socket.SOCK_DGRAM), free_port(socket.SOCK_DGRAM)
        http_port, prometheus_port = free_port(socket.SOCK_STREAM), free_port(socket.SOCK_STREAM)
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # bound, never answers
        silent.bind(("127.0.0.1", 0))
        refused_v6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)  # outside the allowed networks
        refused_v6.bind(("::1", 0))
        refused_v6.setblocking(False)

        log = open(os.path.join(work, "agents.log"), "w")
        children.append(subprocess.Popen(
            [agent, "--port", str(alpha_udp), "--listen", "127.0.0.1", "--name", "alpha", "--nvml", nvml,
             f"--metrics=127.0.0.1:{http_port}", "--probe-allow=127.0.0.0/8"], env=env, stderr=log))
        children.append(subprocess.Popen(
            [agent, "--port", str(beta_udp), "--listen", "127.0.0.1", "--name", "beta", "--nvml", "/nonexistent"],
            stderr=log))
        wait_for("the agent's /metrics", lambda: request(http_port, "GET", "/metrics")[0] == 200)
        wait_for("beta's UDP answers", lambda: udp_answers(beta_udp))

        status, own = request(http_port, "GET", "/metrics")
        accepted, report = promtool_accepts(own)
        check(accepted, "promtool refuses /metrics: " + report)
        for line in ['tarvelon_host_info{host="alpha"} 1',
                     'tarvelon_gpu_info{gpu="0",vendor="nvidia",name="Simulated \\"Quoted\\" GPU",'
                     'uuid="GPU-5e6d3c1a-0000-4000-8000-000000000001",pci_bus_id="00000000:00:00.0",'
                     'driver_version="550.54.14"} 1',
                     'tarvelon_gpu_temperature_celsius{gpu="0",sensor="core"} 67',
                     'tarvelon_gpu_memory_total_bytes{gpu="0"} 8589934592',
                     'tarvelon_gpu_power_watts{gpu="0"} 123.456',
                     'tarvelon_gpu_energy_joules_total{gpu="0"} 5000',
                     'tarvelon_gpu_library_up 1']:
            check(line + "\n" in own, f"/metrics lacks {line}")
        check('tarvelon_gpu_power_watts{gpu="1"}' not in own, "GPU 1 reports no power, yet has a power series")

        # Process labels hold whatever a program calls itself: quotes and backslashes included.
        fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures")
        tree = os.path.join(work, "gamma-root")
        for part in ("gpu-root", "gpu-proc"):
            shutil.copytree(os.path.join(fixtures, part), tree, symlinks=True, dirs_exist_ok=True)
        with open(os.path.join(work, "gamma-gpus"), "w") as config:
            config.write("count 1\ngpu 0 name G\ngpu 0 compute 2100 1048576\ngpu 0 sample 2100 40 7\n")
        gamma_http = free_port(socket.SOCK_STREAM)
        children.append(subprocess.Popen(
            [agent, "--port", str(free_port(socket.SOCK_DGRAM)), "--listen", "127.0.0.1", "--name", "gamma",
             "--nvml", nvml, "--root", tree, f"--metrics=127.0.0.1:{gamma_http}", "--collect-processes"],
            env=dict(os.environ, TARVELON_SIMULATED_NVML=os.path.join(work, "gamma-gpus")), stderr=log))
        wait_for("gamma's /metrics", lambda: request(gamma_http, "GET", "/metrics")[0] == 200)
        # NVIDIA's sample shows in the first scrape; the kernel clients' shares from the second on.
        scrapes = []
        for attempt in range(2):
            time.sleep(attempt)
            scrapes.append(request(gamma_http, "GET", "/metrics")[1])
            accepted, report = promtool_accepts(scrapes[-1])
            check(accepted, "promtool refuses /metrics with processes: " + report)
        for scrape, line in [
                (0, 'tarvelon_gpu_process_memory_bytes{gpu="1",pid="1300",command="a\\"b\\\\c"} 67108864'),
                (0, 'tarvelon_gpu_process_busy_ratio{gpu="0",pid="2100",command="trainer"} 0.4'),
                (1, 'tarvelon_gpu_process_busy_ratio{gpu="2",pid="1200",command="render"} 0')]:
            check(line + "\n" in scrapes[scrape], f"scrape {scrape} lacks {line}:\n{scrapes[scrape]}")

        status, probed = request(http_port, "GET", f"/probe?target=127.0.0.1:{beta_udp}")
        accepted, report = promtool_accepts(probed)
        check(status == 200 and accepted, f"promtool refuses /probe ({status}): {report}")
        check("tarvelon_probe_success 1" in probed and 'tarvelon_host_info{host="beta"} 1' in probed,
              "a probe of beta did not succeed:\n" + probed)
        for target in (f"127.0.0.1:{silent.getsockname()[1]}", "no..such"):
            status, text = request(http_port, "GET", "/probe?target=" + target)
            check(status == 200 and "tarvelon_probe_success 0" in text, f"probe of {target}: {status} {text}")

        long_line = b"GET /metrics?" + b"a" * 10000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"
        refused_target = urllib.parse.quote(f"[::1]:{refused_v6.getsockname()[1]}")
        for method, path, expected in [
            ("GET", "/metricsx", 404), ("POST", "/metrics", 400), ("PUT", "/probe", 405),
            ("DELETE", "/metrics", 405), ("GET", "/probe", 400), ("GET", "/probe?target=", 400),
            ("GET", "/probe?target=pc7:99999", 400), ("GET", "/probe?target=" + "a" * 300, 400),
            ("GET", "/probe?target=%5B%3A%3A1", 400), ("GET", "/probe?target=" + refused_target, 403),
        ]:
            status, _ = request(http_port, method, path, body="x" if method == "POST" else None)
            check(status == expected, f"{method} {path[:60]}: {status}, expected {expected}")
        status = raw_status(http_port, long_line)
        check(status == 414, f"an oversized request line got {status}, expected 414")
        status = raw_status(http_port, b"BREW /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
        check(status in (400, 405, 501), f"an unknown method got {status}")
        try:
            refused_v6.recv(100)
            check(False, "a target outside the allowed networks was sent a datagram")
        except BlockingIOError:
            pass
        check(request(http_port, "GET", "/metrics")[0] == 200, "/metrics stopped answering after bad requests")
        check(udp_answers(alpha_udp), "alpha stopped answering UDP after bad requests")

        # The multi-target pattern: the probe job's targets become ?target= and the agent is scraped.
        silent_port = silent.getsockname()[1]
        children.append(start_prometheus(
            work, prometheus_port,
            [agent_job(http_port), probe_job(http_port, [f"127.0.0.1:{beta_udp}", f"127.0.0.1:{silent_port}"])],
            stderr=open(os.path.join(work, "prometheus.log"), "w")))

        def value(expression):
            return value_of(prometheus_port, expression)

        temperature = wait_for("the GPU temperature in Prometheus", lambda: value(
            'tarvelon_gpu_temperature_celsius{job="tarvelon-agent",gpu="0",sensor="core"}'))
        check(temperature == "67", f"Prometheus holds {temperature} for the simulated temperature")
        beta = wait_for("beta's probe in Prometheus", lambda: value(
            f'tarvelon_probe_success{{instance="127.0.0.1:{beta_udp}"}}'))
        check(beta == "1", f"Prometheus holds {beta} for the probe of beta")
        check(value(f'tarvelon_host_info{{job="tarvelon",host="beta"}}') is not None,
              "Prometheus holds no figures of beta")
        outcome = wait_for("the silent port's probe in Prometheus", lambda: value(
            f'tarvelon_probe_success{{instance="127.0.0.1:{silent_port}"}}'))
        check(outcome == "0", f"Prometheus holds {outcome} for the probe of a silent port")
    finally:
        for child in children:
            child.terminate()
        for child in children:
            try:
                child.wait(timeout=20)
            except subprocess.TimeoutExpired:
                child.kill()
        if failures:
            for name in ("agents.log", "prometheus.log"):
                path = os.path.join(work, name)
                if os.path.exists(path):
                    print(f"--- {name}\n" + open(path).read()[-3000:])
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
