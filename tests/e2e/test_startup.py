"""Starting the host: what it refuses, and what it makes on first use."""

import os
import socket
import subprocess
import tempfile
import unittest

import devhost
from devhost import PATHS


class Startup(unittest.TestCase):
    def test_refusals_name_their_cause(self):
        with tempfile.TemporaryDirectory() as root:
            empty_registry = os.path.join(root, "empty.reg")
            with open(empty_registry, "w") as registry:
                registry.write("REGEDIT4\n")
            cases = [
                # (arguments, text the error must hold, exit code)
                (["--extension", PATHS.extension], "GetExtensionVersion returned FALSE", 1),
                (["--extension", os.path.join(root, "missing.so")], "cannot load the extension", 1),
                (["--extension", PATHS.host], "cannot load the extension", 1),
                ([], "--extension PATH is required", 2),
                (["--extension", PATHS.extension, "--cert", "c.pem"], "--cert and --key go together", 2),
                (["--extension", PATHS.extension, "--threads", "many"], "--threads needs a number", 2),
                (["--extension", PATHS.extension, "--network-threads", "0"], "--network-threads, ", 2),
                (["--extension", PATHS.extension, "--listen", "8443"], "--listen needs ADDR:PORT", 2),
            ]
            for arguments, message, code in cases:
                with self.subTest(arguments=arguments):
                    finished = devhost.run_host(["--listen", "127.0.0.1:0"] + arguments, empty_registry)
                    self.assertEqual(finished.returncode, code, finished.stderr)
                    self.assertIn(message, finished.stderr)
                    self.assertNotIn("listening on", finished.stderr)

    def test_listener_problems_name_the_address(self):
        with socket.socket() as taken, socket.socket() as shared, tempfile.TemporaryDirectory() as state:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            # A listener that would share its port, as another host's does: the host refuses it too.
            shared.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
            shared.bind(("127.0.0.1", 0))
            shared.listen()
            shared_port = shared.getsockname()[1]
            cases = [
                (f"127.0.0.1:{port}", f"cannot listen on 127.0.0.1:{port}: Address already in use"),
                (f"127.0.0.1:{shared_port}", f"cannot listen on 127.0.0.1:{shared_port}: Address already in use"),
                ("localhost:0", "cannot listen on localhost: an IPv4 or IPv6 address is needed"),
            ]
            for address, message in cases:
                with self.subTest(address):
                    finished = devhost.run_host(["--extension", PATHS.probe, "--listen", address,
                                                 "--state-dir", state], "")
                    self.assertEqual(finished.returncode, 1)
                    self.assertIn(message, finished.stderr)

    def test_refusal_names_the_registry_file(self):
        with tempfile.TemporaryDirectory() as root:
            registry = os.path.join(root, "nothing-here.reg")
            for variable, named in [(registry, "registry file " + registry + " (VELMORA_REGISTRY_FILE=" + registry),
                                    ("", "no registry file (VELMORA_REGISTRY_FILE is set but empty")]:
                with self.subTest(variable=variable):
                    finished = devhost.run_host(["--extension", PATHS.extension], variable)
                    self.assertEqual(finished.returncode, 1)
                    self.assertIn(named, finished.stderr)

    def test_help_documents_every_option(self):
        finished = devhost.run_host(["--help"], "")
        self.assertEqual(finished.returncode, 0)
        for option in ["--extension", "--listen", "--http-listen", "--cert", "--key", "--state-dir", "--threads",
                       "--network-threads", "--read-ahead", "--max-body", "--client-connections", "--answer-budget",
                       "--head-timeout", "--timeout"]:
            self.assertIn(option, finished.stdout)

    def test_self_signed_certificate_is_made_once_for_localhost(self):
        if not PATHS.userlib:
            self.skipTest("needs the stand-in user library")
        with devhost.DevHost() as host:
            state = os.path.join(host.directory.name, "state")
            certificate_path = os.path.join(state, "isapi-devhost-cert.pem")
            with open(certificate_path, "rb") as certificate:
                first = certificate.read()
            self.assertEqual(os.stat(os.path.join(state, "isapi-devhost-key.pem")).st_mode & 0o077, 0)
            names = subprocess.run(["openssl", "x509", "-noout", "-ext", "subjectAltName"], input=first,
                                   capture_output=True, check=True).stdout.decode()
            self.assertIn("DNS:localhost", names)
            self.assertIn("IP Address:127.0.0.1", names)
            self.assertEqual(host.stop(), 0)

            # A second start with the same state directory keeps the certificate.
            registry = os.path.join(host.sample, "registry.reg")
            with subprocess.Popen([PATHS.host, "--extension", PATHS.extension, "--listen", "127.0.0.1:0",
                                   "--state-dir", state], env=dict(os.environ, VELMORA_REGISTRY_FILE=registry),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                  errors="replace") as second:
                for line in second.stderr:
                    if "listening on" in line:
                        break
                second.terminate()
                self.assertEqual(second.wait(timeout=30), 0)
            with open(certificate_path, "rb") as certificate:
                self.assertEqual(certificate.read(), first)


if __name__ == "__main__":
    devhost.main()
