"""tessaline-doctor --probe against endpoints that never answer, answer a
byte a second, answer without end or with too long a head
(hostile_endpoint.py): the doctor must end, name in its report what
happened, and exit 1. Every kind is probed at once, so that the test takes
as long as its slowest probe. The same cases hold for the Windows doctor
under Wine (--runner), over WinHTTP."""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import tempfile
import unittest

import hostile_endpoint
from test_probe import steps

# Far beyond the doctor's own deadlines: only a doctor that would never end meets it.
SAFETY_NET_SECONDS = 600

HANDSHAKE_DEADLINE = "the TLS handshake did not end within 15 s"
HEAD_DEADLINE = "no whole answer head (status line and header fields) within 15 s"
HEAD_TOO_LONG = "the answer's head (status line and header fields) is longer than 65536 bytes"
BODY_DEADLINE = "the answer did not end within 15 s"
LIST_DEADLINE = "the answer did not end within 120 s"
BODY_CUT_OFF = "its body went on past 65536 bytes and was read no further"
LIST_TOO_LONG = "the answer went on past 1 GiB, more than any list of accounts, and was read no further"

PAGE_STEPS = ["get", "post-anonymous", "invalid-command"]
REQUEST_STEPS = [*PAGE_STEPS, "list"]
# The endpoints listen on 127.0.0.1: the probe says it runs on the server itself.
ALL_STEPS = ["vantage", "tls", "http2", "plain-http", *REQUEST_STEPS]


def expected(kind):
    """The steps the report must show, in order, and {step: words} for those
    that fail on what happened; a tuple holds words of which one must be there."""
    head = {
        "silent-after-tls": HEAD_DEADLINE,
        "drip": HEAD_DEADLINE,
        # Wine's WinHTTP takes a longest header block and ignores it: the head's deadline ends it there.
        "endless-header": HEAD_DEADLINE if RUNNER else HEAD_TOO_LONG,
        "long-header": HEAD_TOO_LONG,
    }.get(kind)
    if kind == "silent-before-tls":
        return ["vantage", "tls", "plain-http"], {"tls": HANDSHAKE_DEADLINE}
    # The Windows doctor shakes hands only as part of a request (WinHTTP has no
    # handshake alone), so there the tls step meets the head that never comes whole.
    if RUNNER and head:
        return ["vantage", "tls", "plain-http"], {"tls": head}
    if head:
        return ALL_STEPS, {step: head for step in REQUEST_STEPS}
    # The head came; the body did not end. list's answer has a deadline of
    # its own and is checked as it comes, up to 1 GiB.
    pages, listed = {
        "slow-body": (BODY_DEADLINE, LIST_DEADLINE),
        "endless-html": (BODY_CUT_OFF, "200 with Content-Type \"text/html\""),
        "endless-list": (BODY_CUT_OFF, (LIST_TOO_LONG, LIST_DEADLINE)),
    }[kind]
    return ALL_STEPS, {**{step: pages for step in PAGE_STEPS}, "list": listed}


def run_probe(port, certificate):
    arguments = ["--probe", f"https://localhost:{port}/TessalineIntegration.dll", "--caller", "admin@example.com",
                 "--ca-file", ("Z:" if RUNNER else "") + certificate]
    finished = subprocess.run(RUNNER + [DOCTOR, *arguments], input="admin-pass\n", capture_output=True, text=True,
                              timeout=SAFETY_NET_SECONDS)
    return finished.returncode, finished.stdout, finished.stderr


class HostileEndpointTest(unittest.TestCase):
    def test_every_kind_ends_and_is_named(self):
        with tempfile.TemporaryDirectory(prefix="probe-hostile-") as directory:
            certificate, key = hostile_endpoint.self_signed_certificate(directory)
            servers = {kind: hostile_endpoint.HostileServer(kind, certificate, key)
                       for kind in hostile_endpoint.KINDS}
            try:
                with concurrent.futures.ThreadPoolExecutor(len(servers)) as pool:
                    runs = {kind: pool.submit(run_probe, server.port, certificate) for kind, server in servers.items()}
                    results = {kind: run.result()[:2] for kind, run in runs.items()}
            finally:
                for server in servers.values():
                    server.close()
        for kind, (status, report) in results.items():
            with self.subTest(kind=kind):
                order, failures = expected(kind)
                found = steps(report)
                self.assertEqual(list(found), order, report)
                for step, words in failures.items():
                    self.assertEqual(found[step][0], "FAIL", f"{step}:\n{report}")
                    alternatives = words if isinstance(words, tuple) else (words,)
                    self.assertTrue(any(one in found[step][1] for one in alternatives), f"{step}:\n{report}")
                self.assertEqual(status, 1, report)

    def test_ca_file_that_is_no_regular_file(self):
        """A FIFO would hold its reader until something writes to it; a folder has no certificates.
        Either is refused before anything is sent, as a usage error."""
        with tempfile.TemporaryDirectory(prefix="probe-ca-file-") as directory:
            fifo = os.path.join(directory, "fifo.pem")
            os.mkfifo(fifo)
            server = hostile_endpoint.HostileServer("endless-html", *hostile_endpoint.self_signed_certificate(directory))
            try:
                for path in (fifo, directory):
                    with self.subTest(path=path):
                        status, report, errors = run_probe(server.port, path)
                        self.assertIn("is not a regular file", errors)
                        self.assertEqual((status, report), (2, ""), errors)
            finally:
                server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--doctor", required=True)
    parser.add_argument("--runner", help="runs the doctor, e.g. under Wine")
    known, rest = parser.parse_known_args()
    DOCTOR = known.doctor
    RUNNER = [known.runner] if known.runner else []
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
