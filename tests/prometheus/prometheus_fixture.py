"""A real Prometheus on loopback for the tests that scrape the agent with it: free ports, plain HTTP
requests, the scrape jobs (the agent itself, and the multi-target probe through the agent's /probe),
the server's launch and the values its query API holds."""
import http.client
import json
import os
import socket
import subprocess
import urllib.parse


def free_port(kind=socket.SOCK_STREAM, family=socket.AF_INET, host="127.0.0.1"):
    with socket.socket(family, kind) as probe:
        probe.bind((host, 0))
        return probe.getsockname()[1]


def request(port, method, path, body=None):
    """(status, body) of one request to 127.0.0.1:port; OSError while nothing listens."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        connection.request(method, path, body=body)
        response = connection.getresponse()
        return response.status, response.read().decode()
    finally:
        connection.close()


def get(port, path):
    """(status, body), or (None, "") while nothing listens yet."""
    try:
        return request(port, "GET", path)
    except OSError:
        return None, ""


def agent_job(agent_port):
    """The agent's own /metrics, as job tarvelon-agent."""
    return f"""  - job_name: tarvelon-agent
    static_configs: [{{targets: ['127.0.0.1:{agent_port}']}}]
"""


def probe_job(agent_port, targets):
    """The multi-target pattern, as job tarvelon: each target becomes ?target= of the agent's /probe
    and the instance label of what it answers."""
    listed = ", ".join(f"'{target}'" for target in targets)
    return f"""  - job_name: tarvelon
    metrics_path: /probe
    static_configs: [{{targets: [{listed}]}}]
    relabel_configs:
      - {{source_labels: [__address__], target_label: __param_target}}
      - {{source_labels: [__param_target], target_label: instance}}
      - {{target_label: __address__, replacement: '127.0.0.1:{agent_port}'}}
"""


def start_prometheus(work, port, jobs, stderr=subprocess.DEVNULL):
    """Prometheus on 127.0.0.1:port scraping the jobs every 2 s, its configuration and data in work."""
    config = os.path.join(work, "prometheus.yml")
    with open(config, "w") as out:
        out.write("global: {scrape_interval: 2s, scrape_timeout: 2s}\nscrape_configs:\n" + "".join(jobs))
    return subprocess.Popen(
        ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(work, "data"),
         f"--web.listen-address=127.0.0.1:{port}"],
        stdout=subprocess.DEVNULL, stderr=stderr)


def value_of(port, expression):
    """The value of the first series the query finds, as Prometheus writes it; None when there is none
    (or Prometheus does not answer yet)."""
    status, body = get(port, "/api/v1/query?query=" + urllib.parse.quote(expression))
    result = json.loads(body)["data"]["result"] if status == 200 else []
    return result[0]["value"][1] if result else None
