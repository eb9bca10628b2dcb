#!/usr/bin/env python3
"""Acceptance check of the agent's metrics endpoint under the attacks a client on the same LAN can
make, kept apart from the tests since it checks real bcrypt at cost 12 (about 0.2 s of CPU a check)
and takes about a minute: an agent behind a password on 127.0.0.1, and each time a configured
scraper that must be answered 200 within Prometheus's default 10 s scrape timeout while
  - four addresses hold every connection, asking /-/healthy without credentials,
  - 72 wrong passwords are sent at once from one address, the scraper's header not yet remembered,
  - a neighbour behind the scraper's own address has guessed itself locked out.
Prints one line per attack and exits 1 when a scraper was not served.

usage: endpoint_attacks.py AGENT"""
import base64
import concurrent.futures
import crypt
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time

PASSWORD = "s3cret"
HOARDERS = [f"127.0.0.{i}" for i in range(2, 6)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def scrape(port, password=PASSWORD, source="127.0.0.1", timeout=10):
    """(status or the failure, seconds taken)."""
    started = time.monotonic()
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0))
    credentials = base64.b64encode(f"prometheus:{password}".encode()).decode()
    try:
        connection.request("GET", "/metrics", headers={"Authorization": "Basic " + credentials})
        response = connection.getresponse()
        response.read()
        status = response.status
    except (OSError, http.client.HTTPException) as failure:
        status = repr(failure)
    finally:
        connection.close()
    return status, time.monotonic() - started


def start_agent(work, cost):
    port = free_port()
    config = os.path.join(work, "web.yml")
    with open(config, "w") as out:
        out.write(f"basic_auth_users:\n  prometheus: {crypt.crypt(PASSWORD, f'$2b${cost:02d}$abcdefghijklmnopqrstuu')}\n")
    agent = subprocess.Popen([sys.argv[1], f"--port={free_port()}", "--nvml=/nonexistent",
                              f"--metrics=127.0.0.1:{port}", "--web-config=" + config], stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return agent, port
        except OSError:
            time.sleep(0.1)
    sys.exit("the agent does not listen")


def hoarders_hold_every_connection(port):
    held = []
    try:
        for address in HOARDERS:
            for _ in range(72):
                hog = socket.socket()
                hog.bind((address, 0))
                hog.connect(("127.0.0.1", port))
                hog.sendall(b"GET /-/healthy HTTP/1.1\r\nHost: x\r\n\r\n")
                held.append(hog)
        time.sleep(1)
        return scrape(port)
    finally:
        for hog in held:
            hog.close()


def guesses_at_once(port):
    with concurrent.futures.ThreadPoolExecutor(73) as pool:
        guesses = [pool.submit(scrape, port, "wrong", "127.0.0.6", 60) for _ in range(72)]
        time.sleep(0.2)
        served = scrape(port)
        concurrent.futures.wait(guesses)
    return served


def guessing_neighbour(port):
    if scrape(port, source="127.0.0.7")[0] != 200:  # the scraper's header, accepted once
        return "not accepted before the neighbour guessed", 0
    for _ in range(12):
        scrape(port, "wrong", "127.0.0.7")
    return scrape(port, source="127.0.0.7")


def main():
    failed = False
    with tempfile.TemporaryDirectory(prefix="tarvelon-attacks.") as work:
        for attack in [hoarders_hold_every_connection, guesses_at_once, guessing_neighbour]:
            agent, port = start_agent(work, 12)
            try:
                status, seconds = attack(port)
            finally:
                agent.terminate()
                agent.wait(timeout=30)
            served = status == 200 and seconds < 10
            failed = failed or not served
            print(f"{attack.__name__:32} scraper {'served' if served else 'NOT SERVED'}: {status} in {seconds:.2f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
