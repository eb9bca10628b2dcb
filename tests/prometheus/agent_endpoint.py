#!/usr/bin/env python3
"""The agent's HTTP endpoint under clients that are not Prometheus's best behaved, on loopback.

One agent serves /metrics and /probe on 127.0.0.1. The HTTP cases: one address holds 72 connections
(one IPv6 /64 too, inside a network namespace of its own where one can be made) and says so once in
the log, four addresses holding 288 idle ones leave a scraper served, slow bodies filling every
connection leave a scraper served, a body is refused at once, trickled headers are cut off at 10 s, a
connection is kept alive and a refused request's is closed, HEAD is GET without a body, and the
landing and health pages answer. The probe cases: IPv4-mapped targets are
matched as IPv4, a name whose first address is not allowed is probed at its second, a live target is
answered beside 63 silent ones and a 65th probe gets 503, a closed port fails at once, a short scrape
timeout still asks the target, and a target probed more often than it answers gets 429. The dual-stack name comes from an /etc/hosts of the agent's own mount namespace; where
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

PER_ADDRESS = 72      # connections one address may hold
HOG_ADDRESSES = [f"127.0.0.{i}" for i in range(2, 6)]  # together the agent's 288
SILENT_TARGETS = 64   # the agent's probes in flight
SLOW_BODY = b"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\nx"
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


def connect_from(address, port):
    hog = socket.socket()
    hog.bind((address, 0))
    hog.connect(("127.0.0.1", port))
    return hog


def closed_by_agent(connection):
    """True when the agent closes the connection within 2 s without a word."""
    connection.settimeout(2)
    try:
        return connection.recv(100) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


def answered_within(connection, seconds):
    """The first bytes the agent sends within seconds, or None."""
    connection.settimeout(seconds)
    try:
        return connection.recv(100)
    except socket.timeout:
        return None


def connection_limits_hold(port, log):
    hogs = []
    try:
        hogs = [connect_from(HOG_ADDRESSES[0], port) for _ in range(PER_ADDRESS)]
        for _ in range(3):
            if not closed_by_agent(connect_from(HOG_ADDRESSES[0], port)):
                return "a 73rd connection from one address was kept"
        if exchange(port, "GET", "/metrics")[0] != 200:
            return "one address holding 72 connections locked 127.0.0.1 out"
        hogs += [connect_from(address, port) for address in HOG_ADDRESSES[1:] for _ in range(PER_ADDRESS)]
        if any(closed_by_agent(hogs[i]) for i in (0, PER_ADDRESS, len(hogs) - 1)):
            return "a connection within the limits was closed"
        # Four addresses hold all 288 idle: a scraper takes the place of one of them.
        with connect_from("127.0.0.6", port) as scraper:
            scraper.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
            answer = answered_within(scraper, 10)
            if not (answer and answer.startswith(b"HTTP/1.1 200")):
                return f"a scraper beside four addresses holding 288 connections: {answer!r}"
        told = log().count(f"{HOG_ADDRESSES[0]} holds {PER_ADDRESS} connections")
        return None if told == 1 else f"the full address was logged {told} times, not once"
    finally:
        for hog in hogs:
            hog.close()


def refused_requests_close_their_connection(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        connection.request("GET", "/nothing-here")
        response = connection.getresponse()
        response.read()
        return None if response.status == 404 and response.will_close else f"{response.status}, kept alive"
    finally:
        connection.close()


def slash64_counts_as_one_client(agent):
    """Inside a network namespace of its own, four addresses of one /64 share 72 connections."""
    script = f"""
import socket, subprocess, sys, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
for i in range(1, 6):
    subprocess.run(["ip", "-6", "addr", "add", f"2001:db8::{{i}}/64", "dev", "lo", "nodad"], check=True)
agent = subprocess.Popen([{agent!r}, "--port", "8221", "--nvml", "/nonexistent", "--metrics=[2001:db8::1]:8221"],
                         stderr=subprocess.DEVNULL)
try:
    for _ in range(100):
        try:
            socket.create_connection(("2001:db8::1", 8221), timeout=1).close()
            break
        except OSError:
            time.sleep(0.1)
    held = []
    for i in range(PER_ADDRESS):
        s = socket.socket(socket.AF_INET6)
        s.bind((f"2001:db8::{{2 + i % 4}}", 0))
        s.connect(("2001:db8::1", 8221))
        held.append(s)
    extra = socket.socket(socket.AF_INET6)
    extra.bind(("2001:db8::5", 0))
    extra.connect(("2001:db8::1", 8221))
    extra.settimeout(2)
    try:
        closed = extra.recv(100) == b""
    except socket.timeout:
        closed = False
    except OSError:
        closed = True
    sys.exit(0 if closed else 1)
finally:
    agent.kill()
""".replace("PER_ADDRESS", str(PER_ADDRESS))
    try:
        made = subprocess.run(["unshare", "--user", "--map-root-user", "--net", "true"], capture_output=True)
    except OSError:
        made = None
    if made is None or made.returncode != 0:
        print("no network namespace here: the IPv6 /64 case is left out")
        return None
    ran = subprocess.run(["unshare", "--user", "--map-root-user", "--net", sys.executable, "-c", script],
                         capture_output=True, text=True, timeout=60)
    return None if ran.returncode == 0 else f"a 73rd connection from one /64 was kept: {ran.stderr[-300:]}"


def slow_bodies_leave_a_scraper_served(port):
    senders = []
    try:
        for address in HOG_ADDRESSES:
            for _ in range(PER_ADDRESS):
                senders.append(connect_from(address, port))
                senders[-1].sendall(SLOW_BODY)
        scraper = http.client.HTTPConnection("127.0.0.1", port, timeout=5, source_address=("127.0.0.6", 0))
        try:
            scraper.request("GET", "/metrics")
            status = scraper.getresponse().status
        except (OSError, http.client.HTTPException) as error:
            status = repr(error)
        finally:
            scraper.close()
        return None if status == 200 else f"a scraper beside {len(senders)} slow bodies: {status}"
    finally:
        for sender in senders:
            sender.close()


def bodies_are_refused_at_once(port):
    for request, expected in [
        (SLOW_BODY, b"HTTP/1.1 413"),
        (b"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n", b"HTTP/1.1 400"),
        (b"GET /metrics HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n", b"HTTP/1.1 400"),
    ]:
        with socket.create_connection(("127.0.0.1", port)) as client:
            client.sendall(request)
            client.settimeout(3)  # well inside the 10 s deadline
            try:
                answer = client.recv(100)
            except OSError as error:
                answer = repr(error).encode()
            if not answer.startswith(expected):
                return f"{request.splitlines()[0]!r} with a body: {answer[:40]!r}, expected {expected!r}"
    return None


def trickled_headers_are_cut_off(port):
    with socket.create_connection(("127.0.0.1", port)) as trickler:
        started = time.monotonic()
        trickler.sendall(b"GET /metrics HTTP/1.1\r\n")
        trickler.settimeout(0.5)
        while time.monotonic() < started + 60:
            try:
                trickler.sendall(b"X")
                if trickler.recv(100) == b"":
                    break
            except socket.timeout:
                pass
            except OSError:
                break
        held = time.monotonic() - started
        # The deadline is 10 s from the request line; its watchdog looks four times a second.
        return None if 9.5 <= held < 15 else f"cut off after {held:.1f} s"


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
        return None if not first.will_close and second.status == 200 and connection.sock is kept else "not kept"
    finally:
        connection.close()


def head_is_get_without_body(port):
    status, headers, body = exchange(port, "HEAD", "/metrics")
    if status == 200 and body == "" and headers.get("Content-Type", "").startswith("text/plain; version=0.0.4"):
        return None
    return f"{status} {headers} {body[:100]!r}"


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
    log_path = os.path.join(work, "agent.log")
    log_file = open(log_path, "w")
    child = subprocess.Popen(own_hosts or command, stderr=log_file)

    def log():
        with open(log_path) as text:
            return text.read()

    try:
        deadline = time.monotonic() + 60
        while get(http_port, "/metrics")[0] != 200 and time.monotonic() < deadline:
            time.sleep(0.3)
        live = f"127.0.0.1:{udp_port}"

        for name, case in [
                ("bodies_are_refused_at_once", lambda: bodies_are_refused_at_once(http_port)),
                ("connection_limits_hold", lambda: connection_limits_hold(http_port, log)),
                ("trickled_headers_are_cut_off", lambda: trickled_headers_are_cut_off(http_port)),
                ("slow_bodies_leave_a_scraper_served", lambda: slow_bodies_leave_a_scraper_served(http_port)),
                ("connection_kept_alive", lambda: connection_kept_alive(http_port)),
                ("refused_requests_close_their_connection", lambda: refused_requests_close_their_connection(http_port)),
                ("head_is_get_without_body", lambda: head_is_get_without_body(http_port)),
                ("slash64_counts_as_one_client", lambda: slash64_counts_as_one_client(agent))]:
            try:
                failure = case()
            except OSError as error:
                failure = repr(error)
            check(failure is None, f"{name}: {failure}")
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
            def beside_silent(count):
                """The live target's probe while count silent ones are in flight, and theirs."""
                quiet = [pool.submit(probe, http_port, "%s:%d" % target.getsockname()) for target in silent[:count]]
                time.sleep(0.3)
                return pool.submit(probe, http_port, live).result(), [f.result() for f in quiet]

            (status, body), quiet = beside_silent(SILENT_TARGETS - 1)
            check(status == 200 and sample(body, "tarvelon_probe_success") == 1,
                  f"a live target beside {SILENT_TARGETS - 1} silent ones: {status}\n{body[:300]}")
            outcomes = {(s, sample(b, "tarvelon_probe_success")) for s, b in quiet}
            check(outcomes == {(200, 0)}, f"silent targets answered {outcomes}")
            # A silent probe lasts 0.9 s: a slow machine may not have them all in flight at once.
            for _ in range(3):
                (status, _), quiet = beside_silent(SILENT_TARGETS)
                if status == 503:
                    break
            check(status == 503 and all(s == 200 for s, _ in quiet),
                  f"a 65th probe: {status}, the 64 before it {sorted({s for s, _ in quiet})}")

        # The live target's allowance is 20 at once: the agent stops asking before it would stop answering.
        with concurrent.futures.ThreadPoolExecutor(40) as pool:
            statuses = list(pool.map(lambda _: probe(http_port, live)[0], range(40)))
        check(429 in statuses and 200 in statuses, f"a target probed 40 times at once: {statuses}")
    finally:
        child.terminate()
        child.wait(timeout=20)
        log_file.close()
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
