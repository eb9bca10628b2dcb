"""The agent's metrics endpoint behind its web configuration: with a generated certificate and a
bcrypt hash, HTTPS only; TLS 1.0 and 1.1 handshakes fail, 1.2 and 1.3 succeed; no credentials or
wrong ones get 401 with a WWW-Authenticate header, the right ones 200; TLS 1.2 offers forward-secret
AEAD suites only; 72 guesses at once get ten checks; a changed file is read again without a restart
and a broken one keeps the last good configuration; a real Prometheus, where installed, scrapes it
over TLS with basic auth; the configuration mistakes (a certificate and key that are no pair among
them) stop the agent at start with status 2 and the file.

usage: agent_web_config.py AGENT SIMULATED_NVML    (exit 77 without openssl installed)"""
import base64
import concurrent.futures
import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import warnings

from prometheus_fixture import free_port, start_prometheus, value_of

HASH = "$2b$04$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG"  # bcrypt of "s3cret"
NEW_HASH = "$2b$04$abcdefghijklmnopqrstuuX/7wHuG8BTr/ruEM9.x6Mg1Zhd7R0Ku"  # bcrypt of "n3w"


def fetch(port, scheme, cafile, user=None, password=None, source="127.0.0.1"):
    """(status, WWW-Authenticate, body); (None, None, reason) when the request fails."""
    headers = {}
    if user is not None:
        headers["Authorization"] = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
    if scheme == "https":
        context = ssl.create_default_context(cafile=cafile)
        connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=context,
                                                 source_address=(source, 0))
    else:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(source, 0))
    try:
        connection.request("GET", "/metrics", headers=headers)
        response = connection.getresponse()
        return response.status, response.getheader("WWW-Authenticate"), response.read().decode()
    except (OSError, http.client.HTTPException) as failure:
        return None, None, str(failure)
    finally:
        connection.close()


def handshake(port, version, ciphers="DEFAULT"):
    """The version a TLS handshake pinned to it settles on, or None when the agent refuses it."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    context.set_ciphers(ciphers + ":@SECLEVEL=0")  # so that this side offers TLS 1.0 and 1.1 at all
    with warnings.catch_warnings():  # pinning the retired versions is the point here
        warnings.simplefilter("ignore", DeprecationWarning)
        context.minimum_version = context.maximum_version = version
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
            with context.wrap_socket(raw) as tls:
                return tls.version()
    except (ssl.SSLError, OSError):
        return None


def wait_for(what, check, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.3)
    sys.exit("timed out waiting for " + what)


def main():
    agent, nvml = sys.argv[1], sys.argv[2]
    if shutil.which("openssl") is None:
        print("openssl not installed")
        return 77
    work = tempfile.mkdtemp(prefix="tarvelon-web-")
    cert, key = os.path.join(work, "agent.crt"), os.path.join(work, "agent.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    other_key = os.path.join(work, "other.key")
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-out", other_key], check=True, capture_output=True)
    config = os.path.join(work, "web.yml")
    with open(config, "w") as out:
        out.write(f"tls_server_config:\n  cert_file: {cert}\n  key_file: {key}\n"
                  f"basic_auth_users:\n  prometheus: {HASH}\n")

    tls = f"tls_server_config:\n  cert_file: {cert}\n  key_file: {key}\n"
    for text, message in [
        ("basic_auth_users:\n  prometheus: s3cret\n", "2: the password of prometheus is not a bcrypt hash"),
        ("basic_auth_users:\n  prometheus: " + HASH.replace("$04$", "$99$") + "\n",
         "2: the password of prometheus is not a bcrypt hash of cost 4 to 31"),
        (tls + "  min_version: TLS10\n", "4: TLS10 is refused: RFC 8996"),
        (tls + "---\nbasic_auth_users:\n  prometheus: " + HASH + "\n", "5: a second YAML document"),
        ("basic_auth_users:\n  prometheus: " + HASH + "\n  prometheus: " + HASH + "\n",
         "3: user prometheus given a second time"),
        (f"tls_server_config:\n  cert_file: {cert}\n  key_file: {other_key}\n",
         f"the TLS library refuses {cert} and {other_key} as a pair"),
        (f"tls_server_config:\n  cert_file: {key}\n  key_file: {cert}\n",
         f"the TLS library refuses {key} and {cert} as a pair"),
    ]:
        broken = os.path.join(work, "broken.yml")
        with open(broken, "w") as out:
            out.write(text)
        try:
            refused = subprocess.run([agent, f"--metrics=127.0.0.1:{free_port()}", "--web-config=" + broken],
                                     capture_output=True, text=True, timeout=30)
        except subprocess.TimeoutExpired:
            sys.exit(f"{text!r}: the agent started")
        if refused.returncode != 2 or f"{broken}:" not in refused.stderr or message not in refused.stderr:
            sys.exit(f"{text!r}: status {refused.returncode}, {refused.stderr!r}")

    port = free_port()
    udp = free_port(kind=2)
    process = subprocess.Popen([agent, f"--port={udp}", f"--metrics=127.0.0.1:{port}", "--web-config=" + config,
                                "--nvml=" + nvml], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    tls = f"tls_server_config:\n  cert_file: {cert}\n  key_file: {key}\n"
    prometheus = None
    try:
        wait_for("the agent over HTTPS", lambda: fetch(port, "https", cert)[0] is not None)
        cases = [  # scheme, user, password, status
            ("https", None, None, 401),
            ("https", "prometheus", "wrong", 401),
            ("https", "nobody", "s3cret", 401),
            ("https", "prometheus", "s3cret", 200),
            ("http", "prometheus", "s3cret", None),  # plain HTTP is not served on a TLS port
        ]
        for scheme, user, password, expected in cases:
            status, challenge, body = fetch(port, scheme, cert, user, password)
            if status != expected:
                sys.exit(f"{scheme} as {user}: status {status}, expected {expected}: {body[:200]}")
            if status == 401 and (challenge is None or not challenge.startswith("Basic ")):
                sys.exit(f"{scheme} as {user}: 401 without a Basic challenge: {challenge!r}")
            if status == 200 and "tarvelon_" not in body:
                sys.exit("200 without the agent's series")
        for version, expected in [(ssl.TLSVersion.TLSv1, None), (ssl.TLSVersion.TLSv1_1, None),
                                  (ssl.TLSVersion.TLSv1_2, "TLSv1.2"), (ssl.TLSVersion.TLSv1_3, "TLSv1.3")]:
            if handshake(port, version) != expected:
                sys.exit(f"a handshake at {version.name}: {handshake(port, version)}, expected {expected}")
        for ciphers, expected in [("ECDHE-ECDSA-AES128-SHA", None), ("ECDHE-ECDSA-AES256-SHA384", None),
                                  ("ECDHE-ECDSA-AES128-GCM-SHA256", "TLSv1.2"),
                                  ("ECDHE-ECDSA-CHACHA20-POLY1305", "TLSv1.2")]:
            if handshake(port, ssl.TLSVersion.TLSv1_2, ciphers) != expected:
                sys.exit(f"a TLS 1.2 handshake offering {ciphers} only: not {expected}")
        print("TLS 1.2 and 1.3 only; 401 without or with wrong credentials, 200 with the right ones")

        # 72 wrong guesses at once from one address: ten get a check, the rest 429 without one; a
        # header that worked before is still served from there.
        with concurrent.futures.ThreadPoolExecutor(72) as pool:
            guesses = list(pool.map(lambda _: fetch(port, "https", cert, "prometheus", "wrong", "127.0.0.2")[0],
                                    range(72)))
        if guesses.count(401) > 10 or guesses.count(401) + guesses.count(429) != 72:
            sys.exit(f"72 guesses at once: {sorted(guesses, key=str)}")
        if fetch(port, "https", cert, "prometheus", "s3cret", "127.0.0.2")[0] != 200:
            sys.exit("a scraper's remembered header was refused from a guessing address")
        if fetch(port, "https", cert, "prometheus", "wrong", "127.0.0.3")[0] != 401:
            sys.exit("a neighbour address was turned away with the guesser")

        # The configuration read again: a rotated password takes effect, a broken file keeps the last.
        with open(config, "w") as out:
            out.write(tls + f"basic_auth_users:\n  prometheus: {NEW_HASH}\n")
        wait_for("the rotated password", lambda: fetch(port, "https", cert, "prometheus", "n3w")[0] == 200)
        if fetch(port, "https", cert, "prometheus", "s3cret")[0] != 401:
            sys.exit("the old password still served after it was rotated")
        with open(config, "w") as out:
            out.write("basic_auth_users: [\n")
        time.sleep(1.5)
        process.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        if process.poll() is not None or fetch(port, "https", cert, "prometheus", "n3w")[0] != 200:
            sys.exit("a broken configuration or SIGHUP stopped the last good one")
        with open(config, "w") as out:
            out.write(tls + f"basic_auth_users:\n  prometheus: {HASH}\n")
        wait_for("the first password back", lambda: fetch(port, "https", cert, "prometheus", "s3cret")[0] == 200)
        print("72 guesses at once refused past ten; the configuration read again on change")
        if shutil.which("prometheus") is None:
            print("prometheus not installed: the scrape by Prometheus is left out")
            return 0

        web_port = free_port()
        job = f"""  - job_name: tarvelon-tls
    scheme: https
    tls_config: {{ca_file: '{cert}'}}
    basic_auth: {{username: prometheus, password: s3cret}}
    static_configs: [{{targets: ['127.0.0.1:{port}']}}]
"""
        prometheus = start_prometheus(work, web_port, [job])
        wait_for("Prometheus to scrape the agent over TLS",
                 lambda: value_of(web_port, 'up{job="tarvelon-tls"}') == "1", seconds=90)
        print("scraped by Prometheus over TLS with basic auth")
        return 0
    finally:
        for child in (process, prometheus):
            if child is not None:
                child.terminate()
                child.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
