#!/usr/bin/env python3
"""The agent's HTTP endpoint under clients that are not Prometheus's best behaved, on loopback.

One agent serves /metrics and /probe on 127.0.0.1. The HTTP cases: a connection hog on 127.0.0.2
leaves 127.0.0.1 served, trickled headers are cut off, a connection is kept alive, HEAD is GET
without a body, and the landing and health pages answer. The probe cases: IPv4-mapped targets are
matched as IPv4, a name whose first address is not allowed is probed at its second, a live target is
answered beside 63 silent ones, a closed port fails at once, and a short scrape timeout still asks
the target. The dual-stack name comes from an /etc/hosts of the agent's own mount namespace; where
no namespace can be made, that case is left out.

usage: agent_endpoint.py AGENT
"""
import concurrent.futures
import http.client
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from prometheus_fixture import free_port, get

HOG_CONNECTIONS = 80  # more than one address may hold
SILENT_TARGETS = 63   # with the live one, the agent's 64 probes in flight
DUAL_STACK_NAME = "dual.tarvelon.test"


def in_own_hosts(command, work):
    """The command run with an /etc/hosts where DUAL_STACK_NAME is ::1 and 127.0.0.1, or None."""
    hosts = os.path.join(work, "hosts")
    with open(hosts, "w") as out:
        out.write(f"::1 {DUAL_STACK_NAME}\n127.0.0.1 {DUAL_STACK_NAME}\n127.0.0.1 localhost\n")
    wrapped = ["unshare", "--mount", "sh", "-c", f'mount --bind "{hosts}" /etc/hosts && exec "$0" "$@"'] + command
    try:
        if subprocess.run(wrapped[:5] + ["true"], capture_output=True).returncode != 0:
            return None
    except OSError:
        return None
    return wrapped


def exchange(port, method, path, headers=None):
    """(status, headers, body) of one request on a fresh connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read().decode()
    finally:
        connection.close()


def probe(port, target, timeout="2"):
    try:
        status, _, body = exchange(port, "GET", "/probe?target=" + target,
                                   {"X-Prometheus-Scrape-Timeout-Seconds": timeout})
    except OSError as error:
        return None, str(error)
    return status, body


def sample(body, name):
    found = re.search(rf"^{name} (\S+)$", body, re.M)
    return float(found.group(1)) if found else None


def hog_leaves_others_served(port):
    hogs = []
    try:
        for _ in range(HOG_CONNECTIONS):
            hog = socket.socket()
            hog.bind(("127.0.0.2", 0))
            hog.connect(("127.0.0.1", port))
            hogs.append(hog)
        time.sleep(0.5)  # the library accepts them all before it serves anyone else
        return exchange(port, "GET", "/metrics")[0] == 200
    finally:
        for hog in hogs:
            hog.close()


def trickled_headers_are_cut_off(port):
    with socket.create_connection(("127.0.0.1", port)) as trickler:
        trickler.sendall(b"GET /metrics HTTP/1.1\r\n")
        trickler.settimeout(2)
        deadline = time.monotonic() + 60
        trickled = 0
        while time.monotonic() < deadline:
            try:
                trickler.sendall(b"X")
                trickled += 1
                if trickler.recv(100) == b"":
                    break
            except socket.timeout:
                pass
            except OSError:
                break
        return 3 <= trickled < 30  # served at first, cut off well before 60 s


def connection_kept_alive(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        connection.request("GET", "/metrics")
        first = connection.getresponse()
        first.read()
        kept = connection.sock
        connection.request("GET", "/metrics")
        second = connection.getresponse()
        second.read()
        return not first.will_close and second.status == 200 and connection.sock is kept
    finally:
        connection.close()


def head_is_get_without_body(port):
    status, headers, body = exchange(port, "HEAD", "/metrics")
    return status == 200 and body == "" and headers.get("Content-Type", "").startswith("text/plain; version=0.0.4")


def main():
    agent = sys.argv[1]
    failures = []

    def check(condition, message):
        if not condition:
            failures.append(message)
            print("FAILED:", message)

    udp_port, http_port = free_port(socket.SOCK_DGRAM), free_port(socket.SOCK_STREAM)
    silent = []
    for i in range(SILENT_TARGETS):
        target = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # bound, never answers
        target.bind((f"127.0.1.{i + 1}", 0))
        silent.append(target)
    guard = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # outside --probe-allow
    guard.bind(("127.0.0.2", 0))
    guard.setblocking(False)
    closed_port = free_port(socket.SOCK_DGRAM)
    work = tempfile.mkdtemp(prefix="tarvelon-endpoint.")
    command = [agent, "--port", str(udp_port), "--listen", "127.0.0.1", "--nvml", "/nonexistent",
               f"--metrics=127.0.0.1:{http_port}", "--probe-allow=127.0.0.1,127.0.1.0/24,2001:db8::/32"]
    own_hosts = in_own_hosts(command, work)
    if own_hosts is None:
        print("no mount namespace here: the dual-stack name is not probed")
    child = subprocess.Popen(own_hosts or command)
    try:
        deadline = time.monotonic() + 60
        while get(http_port, "/metrics")[0] != 200 and time.monotonic() < deadline:
            time.sleep(0.3)
        live = f"127.0.0.1:{udp_port}"

        for name, case in [("trickled headers are cut off", trickled_headers_are_cut_off),
                           ("a hog on 127.0.0.2 leaves 127.0.0.1 served", hog_leaves_others_served),
                           ("a connection is kept alive", connection_kept_alive),
                           ("HEAD is GET without a body", head_is_get_without_body)]:
            try:
                check(case(http_port), name)
            except OSError as error:
                check(False, f"{name}: {error}")
        status, _, body = exchange(http_port, "GET", "/")
        check(status == 200 and 'href="/metrics"' in body, f"landing page: {status} {body}")
        check(exchange(http_port, "GET", "/-/healthy")[0] == 200, "/-/healthy")

        dual_stack = [(f"{DUAL_STACK_NAME}:{udp_port}", "2", 200, 1)] if own_hosts else []  # ::1 first
        for target, timeout, expected_status, expected_success in dual_stack + [
            (f"[::ffff:127.0.0.1]:{udp_port}", "2", 200, 1),                 # mapped, matched as IPv4
            (f"[::ffff:127.0.0.2]:{guard.getsockname()[1]}", "2", 403, None),  # nor slips through IPv6
            (f"127.0.0.1:{closed_port}", "30", 200, 0),
            (live, "0.5", 200, 1),                                           # the wait shrinks to fit
        ]:
            status, body = probe(http_port, target, timeout)
            check(status == expected_status and
                  (expected_success is None or sample(body, "tarvelon_probe_success") == expected_success),
                  f"probe of {target} within {timeout} s: {status}\n{body[:300]}")
            if target.endswith(f":{closed_port}"):
                duration = sample(body, "tarvelon_probe_duration_seconds")
                check(duration is not None and duration < 0.9, f"a closed port took {duration} s")
            if expected_success == 1:
                duration = sample(body, "tarvelon_probe_duration_seconds")
                check(duration is not None and 0 < duration < 1, f"duration {duration} is not in seconds")
        try:
            guard.recv(100)
            check(False, "a mapped target outside the allowed networks was sent a datagram")
        except BlockingIOError:
            pass

        with concurrent.futures.ThreadPoolExecutor(SILENT_TARGETS + 1) as pool:
            quiet = [pool.submit(probe, http_port, "%s:%d" % target.getsockname()) for target in silent]
            time.sleep(0.3)
            status, body = pool.submit(probe, http_port, live).result()
            check(status == 200 and sample(body, "tarvelon_probe_success") == 1,
                  f"a live target beside {SILENT_TARGETS} silent ones: {status}\n{body[:300]}")
            outcomes = {(s, sample(b, "tarvelon_probe_success")) for s, b in (f.result() for f in quiet)}
            check(outcomes == {(200, 0)}, f"silent targets answered {outcomes}")
    finally:
        child.terminate()
        child.wait(timeout=20)
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
