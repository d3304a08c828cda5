"""The examples of docs/api.md, taken from its code blocks, run against the
host serving the sample: curl, Python's standard library, and C# HttpClient
compiled with mcs and run with mono. Each is made to trust the host's
self-signed certificate alone; left to the system's authorities, each refuses it."""

import hashlib
import os
import re
import ssl
import subprocess
import sys
import tempfile
import unittest

import devhost
from devhost import ADMIN, REPOSITORY, SAMPLE_ACCOUNTS

API_MD = os.path.join(REPOSITORY, "docs", "api.md")
HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "example_harness.cs")
SUCCEEDED = b'{"succeeded": true}\r\n'

# (name, address, password on standard input, what the example prints)
AUTH_CASES = [
    ("right password", "ann.lee@example.com", "ann-pass", "accepted"),
    ("wrong password", "ann.lee@example.com", "nope", "refused"),
    ("disabled account", "old.staff@example.com", "old-pass", "refused"),
]


def setUpModule():
    global host, certificate, work
    host = devhost.DevHost()
    # The host made its certificate in the state directory that DevHost gave it.
    certificate = os.path.join(host.directory.name, "state", "isapi-devhost-cert.pem")
    work = tempfile.TemporaryDirectory(prefix="api-examples-")


def tearDownModule():
    work.cleanup()
    exit_code = host.stop()
    host.__exit__(None)
    assert exit_code == 0, exit_code


def code_block(language):
    """The one fenced block of that language in docs/api.md."""
    with open(API_MD, encoding="utf-8") as source:
        blocks = re.findall(rf"^```{language}\n(.*?)^```$", source.read(), re.S | re.M)
    assert len(blocks) == 1, f"docs/api.md has {len(blocks)} {language} blocks"
    return blocks[0]


def write(name, text):
    path = os.path.join(work.name, name)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)
    return path


def caller_environment(password=ADMIN[1], **extra):
    """The environment the examples document, without anything that would change whom they trust."""
    environment = {key: value for key, value in os.environ.items()
                   if key not in ("SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE", "TESSALINE_CA_FILE")}
    environment.update(TESSALINE_URL=host.url(), TESSALINE_USER=ADMIN[0], TESSALINE_PASSWORD=password,
                       LANG="C.UTF-8", LC_ALL="C.UTF-8", PYTHONIOENCODING="utf-8", **extra)
    return environment


def run(command, environment, stdin=""):
    return subprocess.run(command, env=environment, input=stdin.encode(), capture_output=True, timeout=120)


def accounts_from_lines(text):
    """The Python example's list output, one account a line, as SAMPLE_ACCOUNTS spells it."""
    accounts = {}
    for line in text.splitlines():
        user_name, full_name, addresses = line.split("\t")
        addresses = addresses.split(", ")
        assert addresses[0] == user_name, line
        accounts[user_name] = (full_name, set(addresses))
    return accounts


class CurlExample(unittest.TestCase):
    def test_lists_and_checks_a_password(self):
        script = re.sub(r"^url=.*$", f"url={host.url()}", code_block("sh"), count=1, flags=re.M)
        finished = run(["sh", "-e", "-c", script], caller_environment(CURL_CA_BUNDLE=certificate))
        self.assertEqual(finished.returncode, 0, finished.stderr)
        self.assertTrue(finished.stdout.endswith(SUCCEEDED), finished.stdout)
        self.assertEqual(devhost.listed_accounts(finished.stdout[:-len(SUCCEEDED)]), SAMPLE_ACCOUNTS)


class PythonExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.script = write("tessaline_example.py", code_block("python"))

    def example(self, *arguments, stdin="", **environment):
        return run([sys.executable, self.script, *arguments], caller_environment(**environment), stdin)

    def test_lists_the_sample(self):
        finished = self.example("list", TESSALINE_CA_FILE=certificate)
        self.assertEqual(finished.returncode, 0, finished.stderr)
        self.assertEqual(accounts_from_lines(finished.stdout.decode("utf-8")), SAMPLE_ACCOUNTS)

    def test_checks_passwords(self):
        for name, address, password, printed in AUTH_CASES:
            with self.subTest(name):
                finished = self.example("auth", address, stdin=password + "\n", TESSALINE_CA_FILE=certificate)
                self.assertEqual((finished.returncode, finished.stdout.decode()), (0, printed + "\n"),
                                 finished.stderr)

    def test_refusals(self):
        cases = [
            ("wrong caller password", {"password": "nope", "TESSALINE_CA_FILE": certificate},
             "401 Unauthorized"),
            ("certificate left to the system's authorities", {}, "CERTIFICATE_VERIFY_FAILED"),
        ]
        for name, environment, message in cases:
            with self.subTest(name):
                finished = self.example("list", **environment)
                self.assertEqual(finished.returncode, 1)
                self.assertEqual(finished.stdout, b"")
                self.assertIn(message, finished.stderr.decode())


class CSharpExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        source = write("TessalineExample.cs", code_block("csharp"))
        cls.example = os.path.join(work.name, "TessalineExample.exe")
        cls.harnessed = os.path.join(work.name, "ExampleHarness.exe")
        for command in (["mcs", "-r:System.Net.Http.dll", f"-out:{cls.example}", source],
                        ["mcs", "-r:System.Net.Http.dll", "-main:ExampleHarness", f"-out:{cls.harnessed}", source,
                         HARNESS]):
            subprocess.run(command, check=True, capture_output=True, timeout=300)
        with open(certificate) as pem:
            der = ssl.PEM_cert_to_DER_cert(pem.read())
        cls.thumbprint = hashlib.sha1(der).hexdigest().upper()

    def harnessed_example(self, *arguments, stdin="", password=ADMIN[1]):
        environment = caller_environment(password, TESSALINE_TEST_THUMBPRINT=self.thumbprint)
        return run(["mono", self.harnessed, *arguments], environment, stdin)

    def test_lists_the_sample(self):
        finished = self.harnessed_example("list")
        self.assertEqual(finished.returncode, 0, finished.stderr)
        self.assertEqual(devhost.listed_accounts(finished.stdout), SAMPLE_ACCOUNTS)

    def test_checks_passwords(self):
        for name, address, password, printed in AUTH_CASES:
            with self.subTest(name):
                finished = self.harnessed_example("auth", address, stdin=password + "\n")
                self.assertEqual((finished.returncode, finished.stdout.decode().strip()), (0, printed),
                                 finished.stderr)

    def test_wrong_caller_password_is_reported(self):
        finished = self.harnessed_example("list", password="nope")
        self.assertEqual((finished.returncode, finished.stdout), (1, b""))
        self.assertIn("401 Unauthorized", finished.stderr.decode())

    def test_as_documented_refuses_the_self_signed_certificate(self):
        finished = run(["mono", self.example, "list"], caller_environment())
        self.assertEqual((finished.returncode, finished.stdout), (1, b""))
        self.assertIn("CERTIFICATE_VERIFY_FAILED", finished.stderr.decode())


if __name__ == "__main__":
    devhost.main()
