"""Runs isapi-devhost with the sample mail server laid out in a temporary
directory, and speaks to it as real clients do."""

import argparse
import base64
import http.client
import json
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAY_OUT = os.path.join(REPOSITORY, "devkit", "sample", "lay-out.sh")
ADMIN = ("admin@example.com", "admin-pass")

# Set from the command line by main().
PATHS = argparse.Namespace(host=None, extension=None, userlib=None, probe=None, freed_secret_probe=None)


def main():
    """Takes the built paths from the command line, then runs the unittest cases."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--extension", required=True)
    parser.add_argument("--userlib")
    parser.add_argument("--probe")
    parser.add_argument("--freed-secret-probe")
    known, rest = parser.parse_known_args()
    for name, value in vars(known).items():
        setattr(PATHS, name, value)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


def lay_out_sample(directory):
    """The sample mail server in the directory; returns its registry file."""
    library_dir = os.path.dirname(os.path.abspath(PATHS.userlib))
    return subprocess.run([LAY_OUT, directory, library_dir], check=True, capture_output=True,
                          text=True).stdout.strip()


def run_host(arguments, registry, timeout=60):
    """Runs the host to its end; returns the finished process."""
    environment = dict(os.environ, VELMORA_REGISTRY_FILE=registry)
    return subprocess.run([PATHS.host] + arguments, env=environment, capture_output=True, text=True,
                          errors="replace", timeout=timeout)


class DevHost:
    """A running host serving the sample over HTTPS and plain HTTP, on ports of its choosing."""

    def __init__(self, *extra_arguments, extension=None, prepare_sample=None, environment=None):
        """prepare_sample, when given, may change the laid-out sample before the host starts;
        environment adds variables to the host's."""
        self.directory = tempfile.TemporaryDirectory(prefix="devhost-e2e-")
        root = self.directory.name
        self.sample = os.path.join(root, "sample")
        registry = lay_out_sample(self.sample)
        if prepare_sample:
            prepare_sample(self.sample)
        self.log_path = os.path.join(root, "access.log")
        self.stderr_lines = []
        arguments = [PATHS.host, "--extension", extension or PATHS.extension, "--listen", "127.0.0.1:0",
                     "--http-listen", "127.0.0.1:0", "--state-dir", os.path.join(root, "state"),
                     *extra_arguments]
        environment = dict(os.environ, VELMORA_REGISTRY_FILE=registry, **(environment or {}))
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen(arguments, env=environment, stdout=log, stderr=subprocess.PIPE,
                                            text=True, errors="replace")
        self.https_port, self.http_port = self._wait_for_listeners()

    def _wait_for_listeners(self):
        ports = {}
        for line in self.process.stderr:
            self.stderr_lines.append(line)
            found = re.search(r"listening on (https?)://127\.0\.0\.1:(\d+)", line)
            if found:
                ports[found.group(1)] = int(found.group(2))
            if len(ports) == 2:
                break
        else:
            self.process.wait()
            raise RuntimeError("the host did not start:\n" + "".join(self.stderr_lines))
        # Keep reading stderr, so that the host never blocks on a full pipe.
        threading.Thread(target=self._collect_stderr, daemon=True).start()
        return ports["https"], ports["http"]

    def _collect_stderr(self):
        for line in self.process.stderr:
            self.stderr_lines.append(line)

    def stop(self, timeout=30):
        """SIGTERM, then the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stderr.close()
        self.directory.cleanup()

    def access_log(self):
        with open(self.log_path) as log:
            return log.read().splitlines()

    def https(self, timeout=30):
        return http.client.HTTPSConnection("127.0.0.1", self.https_port, timeout=timeout,
                                           context=unverified_context())

    def http(self, timeout=30):
        return http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=timeout)

    def tls_socket(self, timeout=30):
        """A raw TLS connection, for what http.client will not send."""
        raw = socket.create_connection(("127.0.0.1", self.https_port), timeout=timeout)
        return unverified_context().wrap_socket(raw, server_hostname="localhost")

    def url(self):
        return f"https://127.0.0.1:{self.https_port}/TessalineIntegration.dll"


def unverified_context():
    """For the host's self-signed certificate; no CA store is loaded, as none is needed."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def basic(user, password):
    token = base64.b64encode(f"{user}:{password}".encode()).decode()
    return {"Authorization": f"Basic {token}"}


def form_headers(credentials=ADMIN):
    headers = {"Content-Type": "application/x-www-form-urlencoded"}
    if credentials:
        headers.update(basic(*credentials))
    return headers


def request(connection, method, body=None, headers=None, path="/TessalineIntegration.dll"):
    """One request; returns (status, headers, body bytes) and closes the connection."""
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


def read_until_closed(sock, limit=1 << 20):
    """Everything the server sends until it closes the connection."""
    received = bytearray()
    while len(received) < limit:
        try:
            chunk = sock.recv(65536)
        except (ConnectionResetError, ssl.SSLError):
            break
        if not chunk:
            break
        received += chunk
    return bytes(received)


# What `list` answers for the sample: every account but the reserved system
# one, each with its own address first, then its aliases.
SAMPLE_ACCOUNTS = {
    "admin@example.com": ("Site Administrator", {"admin@example.com"}),
    "ann.lee@example.com": ("Ann Lee", {"ann.lee@example.com", "ann@example.com", "a.lee@example.com"}),
    "jose.muller@example.com": ("Jos\u00e9 M\u00fcller", {"jose.muller@example.com"}),
    "old.staff@example.com": ("Former Staff", {"old.staff@example.com"}),
    "paul.frost@example.com": ("Paul Frost", {"paul.frost@example.com"}),
    "sara.sales@example.com": ("Sara Sales", {"sara.sales@example.com", "sales@example.com"}),
}


def listed_accounts(body):
    """A list answer as SAMPLE_ACCOUNTS spells it; fails on bytes that are not
    strict UTF-8 or text that is not JSON, and on an entry whose own address is not first."""
    accounts = {}
    for entry in json.loads(body.decode("utf-8", errors="strict")):
        addresses = entry["emailAddresses"]
        assert addresses[0] == entry["userName"], entry
        accounts[entry["userName"]] = (entry["fullName"], set(addresses))
    return accounts
