"""The examples of docs/api.md, taken from its code blocks, run against the
host serving the sample: curl, Python's standard library, and C# HttpClient
compiled with mcs and run with mono. Each is given only what the document
gives it to trust the host: its certificate file, an authority's
certificate file, or its certificate's fingerprint; left to the system's
authorities, each refuses it. A second host serves a certificate from an
authority made here, and an account whose address is not ASCII."""

import os
import re
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
import urllib.request

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


# An account whose address holds a Windows-1252 byte, as the server stores it.
CODE_PAGE_ACCOUNT = r"zo\xEB@example.com | Zo\xEB Brandt | zoe-pass | 0 | 0 | |"
CODE_PAGE_ADDRESS = "zo\u00eb@example.com"


def setUpModule():
    global host, certificate, work, authority, other_authority, authority_host
    work = tempfile.TemporaryDirectory(prefix="api-examples-")
    host = devhost.DevHost()
    # The host made its certificate in the state directory that DevHost gave it.
    certificate = os.path.join(host.directory.name, "state", "isapi-devhost-cert.pem")
    # RSA: Mono's chain builder cannot read the host's own EC key.
    authority = make_authority("Example Test Authority")
    other_authority = make_authority("Other Test Authority")
    server = make_server_certificate(authority, "subjectAltName=DNS:localhost,IP:127.0.0.1")
    authority_host = devhost.DevHost("--cert", server + ".pem", "--key", server + ".key",
                                     prepare_sample=add_code_page_account)


def tearDownModule():
    exit_codes = []
    for running in (host, authority_host):
        exit_codes.append(running.stop())
        running.__exit__(None)
    work.cleanup()
    assert exit_codes == [0, 0], exit_codes


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, capture_output=True, timeout=60)


def make_authority(name):
    """A private authority's certificate and key; returns their path without the extension."""
    path = os.path.join(work.name, name.replace(" ", "-"))
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={name}",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
            "-keyout", path + ".key", "-out", path + ".pem")
    return path


def make_server_certificate(issuer, names):
    """A server certificate for the names, signed by the authority; returns its path without the extension."""
    path = f"{issuer}-server"
    extensions = write(os.path.basename(path) + ".cnf",
                       f"{names}\nbasicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", path + ".key",
            "-out", path + ".csr")
    openssl("x509", "-req", "-in", path + ".csr", "-CA", issuer + ".pem", "-CAkey", issuer + ".key",
            "-set_serial", "2", "-days", "2", "-extfile", extensions, "-out", path + ".pem")
    return path


def add_code_page_account(sample):
    with open(os.path.join(sample, "Accounts.txt"), "a", encoding="ascii") as accounts:
        accounts.write(CODE_PAGE_ACCOUNT + "\n")


def code_block(language, holding):
    """The one fenced block of that language in docs/api.md that holds the text."""
    with open(API_MD, encoding="utf-8") as source:
        blocks = [block for block in re.findall(rf"^```{language}\n(.*?)^```$", source.read(), re.S | re.M)
                  if holding in block]
    assert len(blocks) == 1, f"docs/api.md has {len(blocks)} {language} blocks holding {holding!r}"
    return blocks[0]


def fingerprint(pem_path):
    """The SHA-256 fingerprint as `openssl x509 -fingerprint -sha256` prints it, colons and all."""
    printed = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", pem_path],
                             check=True, capture_output=True, text=True).stdout
    return printed.strip().split("=", 1)[1]


def write(name, text):
    path = os.path.join(work.name, name)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)
    return path


def caller_environment(password=ADMIN[1], served_by=None, **extra):
    """The environment the examples document, without anything that would change whom they trust."""
    environment = {key: value for key, value in os.environ.items()
                   if key not in ("SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE", "TESSALINE_CA_FILE",
                                  "TESSALINE_CERT_SHA256")}
    environment.update(TESSALINE_URL=(served_by or host).url(), TESSALINE_USER=ADMIN[0],
                       TESSALINE_PASSWORD=password, LANG="C.UTF-8", LC_ALL="C.UTF-8", PYTHONIOENCODING="utf-8",
                       **extra)
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
        script = re.sub(r"^url=.*$", f"url={host.url()}", code_block("sh", "curl"), count=1, flags=re.M)
        finished = run(["sh", "-e", "-c", script], caller_environment(CURL_CA_BUNDLE=certificate))
        self.assertEqual(finished.returncode, 0, finished.stderr)
        self.assertTrue(finished.stdout.endswith(SUCCEEDED), finished.stdout)
        self.assertEqual(devhost.listed_accounts(finished.stdout[:-len(SUCCEEDED)]), SAMPLE_ACCOUNTS)


class PythonExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.script = write("tessaline_example.py", code_block("python", "def main"))

    def example(self, *arguments, stdin="", served_by=None, **environment):
        return run([sys.executable, self.script, *arguments],
                   caller_environment(served_by=served_by, **environment), stdin)

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


class PythonExampleOutsideAscii(unittest.TestCase):
    """The example lists an address in the server's code page; the decoding
    functions of the document give its bytes back, and auth accepts them."""

    def test_lists_an_address_in_the_code_page(self):
        script = write("tessaline_example.py", code_block("python", "def main"))
        finished = run([sys.executable, script, "list"],
                       caller_environment(served_by=authority_host, TESSALINE_CA_FILE=authority + ".pem"))
        self.assertEqual(finished.returncode, 0, finished.stderr)
        accounts = accounts_from_lines(finished.stdout.decode("utf-8"))
        self.assertEqual(accounts[CODE_PAGE_ADDRESS], ("Zo\u00eb Brandt", {CODE_PAGE_ADDRESS}))

    def test_address_goes_back_byte_for_byte(self):
        functions = {}
        exec(code_block("python", "def parse_list"), functions)
        body = post(authority_host, b"cmd=list")
        self.assertRaises(UnicodeDecodeError, body.decode, "utf-8")
        (account,) = [entry for entry in functions["parse_list"](body) if "@example.com" in entry["userName"]
                      and not entry["userName"].isascii()]
        address = account["userName"]
        self.assertEqual(functions["address_bytes"](address), b"zo\xeb@example.com")
        self.assertEqual(functions["readable"](address), CODE_PAGE_ADDRESS)
        self.assertEqual(account["fullName"], "Zo\u00eb Brandt")
        form = urllib.parse.urlencode({"cmd": "auth", "user": functions["address_bytes"](address),
                                       "pass": "zoe-pass"})
        self.assertEqual(post(authority_host, form.encode("ascii")), SUCCEEDED)


def post(served_by, body):
    """A POST as the caller, trusting the test authority; returns the body of a 200 answer."""
    context = ssl.create_default_context(cafile=authority + ".pem")
    request = urllib.request.Request(served_by.url(), data=body, method="POST",
                                     headers=devhost.form_headers())
    with urllib.request.urlopen(request, context=context, timeout=60) as response:
        return response.read()


class CSharpExample(unittest.TestCase):
    """Run as written: trusting an authority by its file, or the host's own
    certificate by its fingerprint, and nothing else."""

    @classmethod
    def setUpClass(cls):
        example_source = write("TessalineExample.cs", code_block("csharp", "class TessalineExample"))
        decoding_source = write("CodePageBody.cs", code_block("csharp", "class CodePageBody"))
        cls.program = os.path.join(work.name, "TessalineExample.exe")
        cls.harnessed = os.path.join(work.name, "CodePageHarness.exe")
        for command in (["mcs", "-r:System.Net.Http.dll", f"-out:{cls.program}", example_source],
                        ["mcs", "-r:System.Net.Http.dll", f"-out:{cls.harnessed}", decoding_source, HARNESS]):
            subprocess.run(command, check=True, capture_output=True, timeout=300)

    def example(self, *arguments, stdin="", password=ADMIN[1], served_by=None, **trust):
        return run(["mono", self.program, *arguments], caller_environment(password, served_by, **trust), stdin)

    def trusts(self):
        """Each documented way to trust, with the host it trusts."""
        return [("authority's certificate file", authority_host, {"TESSALINE_CA_FILE": authority + ".pem"}),
                ("host's certificate fingerprint", host, {"TESSALINE_CERT_SHA256": fingerprint(certificate)})]

    def test_lists_the_sample(self):
        for name, served_by, trust in self.trusts():
            with self.subTest(name):
                finished = self.example("list", served_by=served_by, **trust)
                self.assertEqual(finished.returncode, 0, finished.stderr)
                listed = devhost.listed_accounts(finished.stdout)
                if served_by is authority_host:
                    # The example decodes as UTF-8 and prints a replacement for the code page's byte.
                    self.assertEqual(listed.pop("zo\ufffd@example.com"),
                                     ("Zo\u00eb Brandt", {"zo\ufffd@example.com"}))
                self.assertEqual(listed, SAMPLE_ACCOUNTS)

    def test_checks_passwords(self):
        for trust_name, served_by, trust in self.trusts():
            for name, address, password, printed in AUTH_CASES:
                with self.subTest(f"{trust_name}, {name}"):
                    finished = self.example("auth", address, stdin=password + "\n", served_by=served_by, **trust)
                    self.assertEqual((finished.returncode, finished.stdout.decode().strip()), (0, printed),
                                     finished.stderr)

    def test_refusals(self):
        cases = [
            ("wrong caller password", host, "nope", {"TESSALINE_CERT_SHA256": fingerprint(certificate)},
             "401 Unauthorized"),
            ("left to the system's authorities", host, ADMIN[1], {}, "CERTIFICATE_VERIFY_FAILED"),
            ("another authority's file", authority_host, ADMIN[1],
             {"TESSALINE_CA_FILE": other_authority + ".pem"}, "CERTIFICATE_VERIFY_FAILED"),
            ("another certificate's fingerprint", host, ADMIN[1],
             {"TESSALINE_CERT_SHA256": fingerprint(authority + ".pem")}, "CERTIFICATE_VERIFY_FAILED"),
        ]
        for name, served_by, password, trust, message in cases:
            with self.subTest(name):
                finished = self.example("list", password=password, served_by=served_by, **trust)
                self.assertEqual((finished.returncode, finished.stdout), (1, b""))
                self.assertIn(message, finished.stderr.decode())

    def test_address_goes_back_byte_for_byte(self):
        environment = caller_environment(served_by=authority_host,
                                         TESSALINE_TEST_CA_FILE=authority + ".pem")
        finished = run(["mono", self.harnessed], environment)
        self.assertEqual(finished.returncode, 0, finished.stderr)
        self.assertEqual(finished.stdout.decode("utf-8").splitlines(),
                         ["user=zo%EB%40example.com", "Zo\u00eb Brandt", CODE_PAGE_ADDRESS,
                          '{"succeeded": true}'])


if __name__ == "__main__":
    devhost.main()
