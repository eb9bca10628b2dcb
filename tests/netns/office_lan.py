"""The reply budget on a real IPv6 LAN: inside a network namespace of its own, with the whole
2001:db8:1::/64 routed to loopback (AnyIP), an agent answers 50 desktops of that /64 that ask once a
second, every one of them, and a sender rotating through 250 addresses of the /64 in one second gets
no more than the /64's burst.

usage: office_lan.py AGENT    (exit 77 without root or the ip command)"""
import os
import select
import shutil
import socket
import subprocess
import sys
import time

NETWORK = "2001:db8:1::"
SERVER = NETWORK + "1"
PORT = 8221


def ask(source):
    """Sends one query from source; the socket, to read its reply later."""
    client = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    client.bind((source, 0))
    client.sendto(bytes([1, 7, 0x31]), (SERVER, PORT))
    return client


def answered(clients, seconds=2.0):
    """How many of the clients get a full reply within seconds, all waited for at once."""
    waiting = set(clients)
    count = 0
    deadline = time.monotonic() + seconds
    while waiting and time.monotonic() < deadline:
        ready, _, _ = select.select(list(waiting), [], [], max(0.0, deadline - time.monotonic()))
        for client in ready:
            count += 1 if client.recv(8192)[1:3] == bytes([7, 0x32]) else 0
            waiting.discard(client)
    for client in clients:
        client.close()
    return count


def inside(agent):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "-6", "route", "add", "local", NETWORK + "/64", "dev", "lo"], check=True)
    subprocess.run(["sysctl", "-qw", "net.ipv6.ip_nonlocal_bind=1"], check=True)
    server = subprocess.Popen([agent, "-6", f"--port={PORT}", f"--listen={SERVER}"], stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while answered([ask(NETWORK + "2")], 0.5) == 0:
            if time.monotonic() > deadline:
                sys.exit("the agent does not answer")
        time.sleep(3)  # the first question's own allowance refills
        desktops = [f"{NETWORK}{host:x}:5e" for host in range(10, 60)]
        total = 0
        for second in range(5):
            start = time.monotonic()
            total += answered([ask(source) for source in desktops])
            time.sleep(max(0.0, 1.0 - (time.monotonic() - start)))
        if total != 250:
            sys.exit(f"the office's 50 desktops got {total} of 250 answers")
        time.sleep(3)  # the /64's allowance refills
        rotating = answered([ask(f"{NETWORK}77:{host:x}") for host in range(1, 251)])
        if not 160 <= rotating <= 200:
            sys.exit(f"a sender rotating through the /64 got {rotating} of 250 answers, expected 160 and a few")
        print(f"office LAN: 250 of 250 answered; rotating sender: {rotating} of 250")
    finally:
        server.terminate()
        server.wait(timeout=30)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--inside":
        return inside(sys.argv[2])
    if os.geteuid() != 0 or shutil.which("ip") is None:
        print("needs root and the ip command for a network namespace")
        return 77
    namespace = f"tarvelon-lan-{os.getpid()}"
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    try:
        return subprocess.run(["ip", "netns", "exec", namespace, sys.executable, os.path.abspath(__file__),
                               "--inside", sys.argv[1]]).returncode
    finally:
        subprocess.run(["ip", "netns", "delete", namespace])


if __name__ == "__main__":
    sys.exit(main())
