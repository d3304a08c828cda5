"""tessaline-doctor --probe against the development host, and against fronts
made with nginx as a reverse proxy before it, each set up wrongly as IIS can
be: the probe must name the step that fails and its cause. The same cases
hold for the Windows doctor under Wine (--runner), over WinHTTP."""

import json
import os
import pwd
import re
import shlex
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

import devhost
import hostile_endpoint
from devhost import ADMIN, REPOSITORY

PATH = "/TessalineIntegration.dll"

# A page the front shows instead of the extension's, as IIS's detailed errors read.
IIS_404_3 = "<h3>HTTP Error 404.3 - Not Found</h3>"


def free_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


class Nginx:
    """nginx as a child of the test, in the foreground, with its own
    configuration and files in a temporary directory; `location` is the
    server block's body for the extension's path."""

    def __init__(self, upstream_port, certificate, key, location, plain=False, http2=False):
        self.directory = tempfile.TemporaryDirectory(prefix="probe-nginx-")
        root = self.directory.name
        self.port = free_port()
        self.plain_port = free_port() if plain else None
        with open(os.path.join(root, "htpasswd"), "w") as users:
            users.write("admin@example.com:{PLAIN}front-pass\n")
        with open(os.path.join(root, "replaced.html"), "w") as page:
            page.write("<html><body>Something went wrong.</body></html>\n")
        # Workers of a master started as root would otherwise drop to nobody.
        user = f"user {pwd.getpwuid(os.geteuid()).pw_name};" if os.geteuid() == 0 else ""
        server = f"""
            root {root};
            location {PATH} {{
                proxy_pass https://127.0.0.1:{upstream_port};
                {location}
            }}
            location = /replaced.html {{ internal; }}"""
        plain_server = f"server {{ listen 127.0.0.1:{self.plain_port}; {server} }}" if plain else ""
        with open(os.path.join(root, "nginx.conf"), "w") as conf:
            conf.write(f"""
                {user}
                daemon off;
                worker_processes 1;
                pid {root}/nginx.pid;
                error_log {root}/error.log;
                events {{ worker_connections 64; }}
                http {{
                    access_log off;
                    client_body_temp_path {root}/body;
                    proxy_temp_path {root}/proxy;
                    fastcgi_temp_path {root}/fastcgi;
                    uwsgi_temp_path {root}/uwsgi;
                    scgi_temp_path {root}/scgi;
                    server {{
                        listen 127.0.0.1:{self.port} ssl{" http2" if http2 else ""};
                        ssl_certificate {certificate};
                        ssl_certificate_key {key};
                        {server}
                    }}
                    {plain_server}
                }}""")
        self.process = subprocess.Popen([shutil.which("nginx"), "-p", root, "-c", os.path.join(root, "nginx.conf"),
                                         "-e", os.path.join(root, "error.log")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self._wait_for(self.port)

    def _wait_for(self, port):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx did not start: " + self.process.stderr.read())
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not listen")

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stderr.close()
        self.directory.cleanup()


def doctor_path(path):
    """A file's path as the doctor under test reads it."""
    return "Z:" + path if RUNNER else path


class SwitchingServer:
    """Shows one certificate on its first connection and another, also for
    localhost, on every later one, as a server taken over between two
    connections would; keeps the head of every request it reads."""

    def __init__(self, first, later):
        self.contexts = []
        for certificate, key in (first, later):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certificate, key)
            self.contexts.append(context)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.heads = []
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        for count in range(1000):
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            with connection:
                connection.settimeout(10)
                try:
                    tls = self.contexts[min(count, 1)].wrap_socket(connection, server_side=True)
                    head = hostile_endpoint.read_head(tls)
                    if head:
                        self.heads.append(head)
                        tls.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                    tls.close()
                except (OSError, ssl.SSLError):
                    pass

    def close(self):
        self.listener.close()
        self.thread.join(timeout=30)


def run_doctor(arguments, passwords):
    finished = subprocess.run(RUNNER + [DOCTOR, *arguments], input="".join(p + "\n" for p in passwords),
                              capture_output=True, text=True, timeout=120)
    return finished.returncode, finished.stdout, finished.stderr


def run_probe(url, *arguments, passwords=(ADMIN[1],)):
    return run_doctor(["--probe", url, "--caller", ADMIN[0], *arguments], passwords)


def steps(text):
    """{step: (mark, detail)} of a text report."""
    found = {}
    for line in text.splitlines():
        if line[:4] in ("ok  ", "WARN", "FAIL") and ": " in line:
            name, detail = line[6:].split(": ", 1)
            found[name] = (line[:4].strip(), detail)
    return found


HEALTHY = {
    "tls": ("ok", "verified for localhost"),
    "http2": ("ok", "HTTP/1.1"),
    "get": ("ok", "the extension's 405 page, \"POST method required\", with Allow: POST"),
    "post-anonymous": ("ok", "the extension's 401 page, \"Authentication required\", "
                             "with WWW-Authenticate: Basic realm=\"TessalineIntegration\""),
    "invalid-command": ("ok", "the extension's 400 page, \"Invalid command\""),
    "list": ("ok", "6 accounts, 3 aliases, "),
}

PASS_THROUGH = "IIS replaces the extension's error answers with its own pages: " \
               "set httpErrors existingResponse=\"PassThrough\""

# (name, the location's body, a plain HTTP server too, the steps expected to
# differ from HEALTHY with their mark and a part of their detail)
FRONTS = [
    ("answers GET itself", f"if ($request_method = GET) {{ return 404 '{IIS_404_3}'; }}", False,
     {"get": ("FAIL", "404.3 instead of the extension's 405 page, \"POST method required\", with Allow: POST: "
                      "no handler mapping takes the request, so the static file handler refused its type")}),
    ("replaces error bodies", "proxy_intercept_errors on; error_page 400 401 405 /replaced.html;", False,
     {"get": ("FAIL", "405 without the extension's page or its Allow: POST, while the other steps show that "
                      + PASS_THROUGH),
      "post-anonymous": ("FAIL", "401 as the extension answers, but not its page: " + PASS_THROUGH),
      "invalid-command": ("FAIL", "400 as the extension answers, but not its page: " + PASS_THROUGH)}),
    ("asks for Basic authentication", 'auth_basic "Front door"; auth_basic_user_file htpasswd;', False,
     {"get": ("FAIL", "IIS's Basic authentication asks for credentials (WWW-Authenticate: Basic realm=\"Front door\"): "
                      "it is on; only Anonymous may be (section 9)"),
      "post-anonymous": ("FAIL", "IIS's Basic authentication asks for credentials"),
      "invalid-command": ("FAIL", "IIS's Basic authentication asks for credentials"),
      "list": ("FAIL", "IIS's Basic authentication asks for credentials")}),
    ("serves plain HTTP", "", True,
     {"plain-http": ("FAIL", ": answered 401: the extension is reached over plain HTTP")}),
]


class ProbeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = devhost.DevHost()
        state = os.path.join(cls.host.directory.name, "state")
        cls.certificate_file = os.path.join(state, "isapi-devhost-cert.pem")
        cls.certificate = doctor_path(cls.certificate_file)
        cls.key = os.path.join(state, "isapi-devhost-key.pem")

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()
        cls.host.__exit__(None, None, None)

    def assert_steps(self, report, expected):
        found = steps(report)
        for name, (mark, detail) in expected.items():
            self.assertIn(name, found, report)
            self.assertEqual(found[name][0], mark, f"{name}:\n{report}")
            self.assertIn(detail, found[name][1], f"{name}:\n{report}")

    def test_healthy_host(self):
        status, report, _ = run_probe(f"https://localhost:{self.host.https_port}{PATH}", "--ca-file",
                                      self.certificate, "--http-port", str(self.host.http_port),
                                      "--check-auth", "ann.lee@example.com", passwords=(ADMIN[1], "ann-pass"))
        self.assert_steps(report, {**HEALTHY, "plain-http": ("ok", "the extension's 403 page, \"HTTPS required\""),
                                   "auth": ("ok", "ann.lee@example.com: {\"succeeded\": true}"),
                                   "vantage": ("WARN", "the probe runs on the server itself")})
        self.assertEqual(status, 0, report)
        # A probe from the server proves no more than what a local request gets.
        self.assertTrue(report.endswith("\nThe endpoint answers as the extension does to a request from the server "
                                        "itself; only a probe from another machine shows what a remote caller "
                                        "gets.\n"), report)

    def test_json_report(self):
        status, report, _ = run_probe(f"https://localhost:{self.host.https_port}{PATH}", "--ca-file",
                                      self.certificate, "--json", "--check-auth", "ann.lee@example.com",
                                      passwords=(ADMIN[1], "wrong"))
        parsed = json.loads(report)
        self.assertEqual(status, 1, report)
        self.assertEqual(parsed["answers"], False)
        self.assertEqual((parsed["accounts"], parsed["aliases"], parsed["caller"], parsed["auth"]),
                         (6, 3, "ok", "failed"))
        self.assertEqual([step["step"] for step in parsed["steps"] if not step["ok"] and "warning" not in step],
                         ["auth"])
        self.assertEqual(parsed["fromServer"], True)

    def test_wrong_caller_password(self):
        status, report, _ = run_probe(f"https://localhost:{self.host.https_port}{PATH}", "--ca-file",
                                      self.certificate, passwords=("not-the-password",))
        self.assert_steps(report, {
            "invalid-command": ("FAIL", "the extension's 401 page, \"Invalid username or password\", with "
                                        "WWW-Authenticate: Basic realm=\"TessalineIntegration\": "
                                        "the extension refused the caller admin@example.com"),
            "list": ("FAIL", "the extension refused the caller")})
        self.assertEqual(status, 1)

    def test_untrusted_certificate_gets_no_password(self):
        # Without --ca-file the host's own certificate verifies against nothing.
        status, report, _ = run_probe(f"https://127.0.0.1:{self.host.https_port}{PATH}")
        self.assert_steps(report, {
            "tls": ("FAIL", "does not verify against the system's trust store for 127.0.0.1"),
            "get": HEALTHY["get"],
            "post-anonymous": HEALTHY["post-anonymous"],
            "invalid-command": ("FAIL", "not run: the certificate did not verify, and the password is not sent"),
            "list": ("FAIL", "not run")})
        self.assertEqual(status, 1)

    def test_certificate_changed_after_the_check(self):
        with tempfile.TemporaryDirectory(prefix="probe-switch-") as directory:
            later = hostile_endpoint.self_signed_certificate(directory, "other")
            server = SwitchingServer((self.certificate_file, self.key), later)
            try:
                status, report, _ = run_probe(f"https://localhost:{server.port}{PATH}", "--ca-file",
                                              self.certificate)
            finally:
                server.close()
        self.assertEqual(status, 1)
        if RUNNER:
            # Wine's WinHTTP sends a request its status callback has closed;
            # the report must then say that the password may have gone out.
            detail = "may have sent the request, with any password in it, before this was seen: change the password"
        else:
            detail = "nothing was sent"
            self.assertEqual([head for head in server.heads if b"authorization" in head.lower()], [])
        self.assert_steps(report, {"tls": ("ok", "verified for localhost"),
                                   "invalid-command": ("FAIL", "the certificate of this connection did not verify"),
                                   "list": ("FAIL", detail)})

    def test_nothing_listening(self):
        status, report, _ = run_probe(f"https://127.0.0.1:{free_port()}{PATH}", "--ca-file", self.certificate)
        self.assertEqual(list(steps(report)), ["vantage", "tls", "plain-http"], report)
        self.assert_steps(report, {"tls": ("FAIL", "cannot connect to 127.0.0.1"),
                                   "plain-http": ("ok", "connection refused")})
        self.assertEqual(status, 1)

    def test_usage_errors(self):
        for arguments in (["--probe", "http://localhost/x"], ["--probe", f"https://localhost{PATH}"],
                          ["--caller", ADMIN[0]], ["--probe", "https://user@localhost/", "--caller", ADMIN[0]],
                          ["--ca-file", self.certificate],
                          # Not to be sent on the wire as written.
                          ["--probe", f"https://localhost{PATH}\r\nX-Injected: 1", "--caller", ADMIN[0]],
                          ["--probe", f"https://localhost/caf\u00e9.dll", "--caller", ADMIN[0]]):
            with self.subTest(arguments=arguments):
                status, report, errors = run_doctor(arguments, ["x"])
                self.assertEqual(status, 2, errors)
                self.assertEqual(report, "")

    def test_guide_examples(self):
        """docs/iis.md's --probe command lines, its placeholders given this host's values."""
        with open(os.path.join(REPOSITORY, "docs", "iis.md"), encoding="utf-8") as guide:
            examples = re.findall(r"^tessaline-doctor\.exe --probe .*$", guide.read(), re.MULTILINE)
        self.assertEqual(len(examples), 2, examples)
        placeholders = {"https://mail.example.com/tessaline/TessalineIntegration.dll":
                        f"https://localhost:{self.host.https_port}{PATH}",
                        "caller@example.com": ADMIN[0], "authority.pem": self.certificate,
                        "test@example.com": "ann.lee@example.com"}
        reports = []
        for example in examples:
            arguments = [placeholders.get(word, word) for word in shlex.split(example)[1:]]
            reports.append(run_doctor(arguments, [ADMIN[1], "ann-pass"]))
        # The first trusts the system's store, where the host's own certificate is not.
        status, report, _ = reports[0]
        self.assert_steps(report, {"tls": ("FAIL", "does not verify against the system's trust store"),
                                   "get": HEALTHY["get"], "list": ("FAIL", "not run")})
        status, report, errors = reports[1]
        self.assertNotEqual(report, "", f"exit status {status}: {errors}")
        self.assert_steps(report, {**HEALTHY, "auth": ("ok", "ann.lee@example.com: {\"succeeded\": true}")})
        self.assertEqual(status, 0, report)

    def test_misconfigured_fronts(self):
        for name, location, plain, differences in FRONTS:
            with self.subTest(front=name):
                front = Nginx(self.host.https_port, self.certificate_file, self.key, location, plain=plain)
                try:
                    arguments = ["--ca-file", self.certificate]
                    if plain:
                        arguments += ["--http-port", str(front.plain_port)]
                    status, report, _ = run_probe(f"https://localhost:{front.port}{PATH}", *arguments)
                finally:
                    front.close()
                self.assert_steps(report, {**HEALTHY, **differences})
                self.assertEqual(status, 1, report)

    def test_front_offering_http2(self):
        if RUNNER:
            self.skipTest("Wine's WinHTTP does not speak HTTP/2")
        front = Nginx(self.host.https_port, self.certificate_file, self.key, "", http2=True)
        try:
            status, report, _ = run_probe(f"https://localhost:{front.port}{PATH}", "--ca-file", self.certificate)
        finally:
            front.close()
        # Only a warning: HTTP/1.1 clients are answered as ever.
        self.assert_steps(report, {**HEALTHY, "http2": ("WARN", "the server chooses HTTP/2, where the extension's "
                                                                "Connection: close makes the answer malformed")})
        self.assertEqual(status, 0, report)


if __name__ == "__main__":
    import argparse
    import sys
    parser = argparse.ArgumentParser()
    parser.add_argument("--doctor", required=True)
    parser.add_argument("--runner", help="runs the doctor, e.g. under Wine")
    known, rest = parser.parse_known_args()
    DOCTOR = known.doctor
    RUNNER = [known.runner] if known.runner else []
    # The Windows doctor is tried against the host of the Linux build, when there is one.
    host = rest[rest.index("--host") + 1]
    if not os.path.exists(host):
        print(f"skipped: no development host at {host}; build the linux preset first")
        sys.exit(77)
    sys.argv = [sys.argv[0]] + rest
    devhost.main()
