"""Many clients at once, some of them hostile: every proper request gets its
right answer while others send garbage, endless headers, or nothing at all."""

import http.client
import socket
import ssl
import threading
import unittest

import devhost
from devhost import ADMIN, SAMPLE_ACCOUNTS, form_headers, request

CLIENTS = 8
REQUESTS_PER_CLIENT = 200
SILENT_CONNECTIONS = 20
HOST_TIMEOUT_SECONDS = 2


def check_list(test, body):
    test.assertEqual(devhost.listed_accounts(body), SAMPLE_ACCOUNTS)


def check_exact(expected):
    return lambda test, body: test.assertEqual(body, expected)


# (method, body, credentials, status, body check)
MIXED_REQUESTS = [
    ("POST", "cmd=list", ADMIN, 200, check_list),
    ("POST", "cmd=auth&user=ann.lee%40example.com&pass=ann-pass", ADMIN, 200,
     check_exact(b'{"succeeded": true}\r\n')),
    ("POST", "cmd=auth&user=sara.sales@example.com&pass=ann-pass", ADMIN, 200,
     check_exact(b'{"succeeded": false}\r\n')),
    ("POST", "cmd=list", None, 401, None),
    ("POST", "cmd=list", ("ann.lee@example.com", "ann-pass"), 401, None),
    ("GET", None, ADMIN, 405, None),
]


class HostileClients:
    """Threads that keep misbehaving until told to stop; they record what
    they saw go wrong on the host's side."""

    def __init__(self, host):
        self.host = host
        self.stop = threading.Event()
        self.problems = []
        self.rounds = 0
        self.threads = [threading.Thread(target=self._repeat, args=(behaviour,))
                        for behaviour in (self._garbage_over_tls, self._plain_bytes_to_tls_port,
                                          self._endless_header, self._silent)]

    def __enter__(self):
        for thread in self.threads:
            thread.start()
        return self

    def __exit__(self, *exception):
        self.stop.set()
        for thread in self.threads:
            thread.join()

    def _repeat(self, behaviour):
        while not self.stop.is_set():
            try:
                behaviour()
                self.rounds += 1
            except Exception as error:
                self.problems.append(f"{behaviour.__name__}: {error!r}")
                return

    def _garbage_over_tls(self):
        with self.host.tls_socket() as sock:
            sock.sendall(b"\x01\x02 GARBAGE \xff\r\n\r\n")
            answer = devhost.read_until_closed(sock)
        if not answer.startswith(b"HTTP/1.1 400 "):
            raise AssertionError(answer[:100])

    def _plain_bytes_to_tls_port(self):
        with socket.create_connection(("127.0.0.1", self.host.https_port), timeout=10) as sock:
            sock.sendall(b"POST / HTTP/1.1\r\nHost: x\r\n\r\n")
            if devhost.read_until_closed(sock)[:5] == b"HTTP/":
                raise AssertionError("plain HTTP answered on the TLS port")

    def _endless_header(self):
        with self.host.tls_socket() as sock:
            sock.sendall(b"POST / HTTP/1.1\r\n")
            try:
                for _ in range(10000):
                    sock.sendall(b"X-Endless: " + b"e" * 100 + b"\r\n")
            except (ConnectionError, ssl.SSLError):
                return
            answer = devhost.read_until_closed(sock)
        if not answer.startswith(b"HTTP/1.1 431 "):
            raise AssertionError(f"an endless header was taken: {answer[:100]!r}")

    def _silent(self):
        # Many at once, each closed by the host once its timeout passes.
        sockets = [socket.create_connection(("127.0.0.1", self.host.https_port), timeout=HOST_TIMEOUT_SECONDS * 5)
                   for _ in range(SILENT_CONNECTIONS)]
        try:
            for sock in sockets:
                if sock.recv(1) != b"":
                    raise AssertionError("a silent client was sent something")
        except socket.timeout:
            raise AssertionError("a silent client was never let go")
        finally:
            for sock in sockets:
                sock.close()


class ManyClients(unittest.TestCase):
    def test_every_proper_request_is_answered_right_beside_hostile_clients(self):
        with devhost.DevHost("--threads", "4", "--timeout", str(HOST_TIMEOUT_SECONDS)) as host:
            failures = []

            def client(number):
                for index in range(REQUESTS_PER_CLIENT):
                    method, body, credentials, status, check = MIXED_REQUESTS[(number + index) % len(MIXED_REQUESTS)]
                    try:
                        got_status, _, got_body = request(host.https(), method, body, form_headers(credentials))
                        self.assertEqual(got_status, status)
                        if check:
                            check(self, got_body)
                    except (AssertionError, OSError, http.client.HTTPException) as error:
                        failures.append(f"client {number} request {index} {body}: {error!r}")

            with HostileClients(host) as hostile:
                clients = [threading.Thread(target=client, args=(number,)) for number in range(CLIENTS)]
                for thread in clients:
                    thread.start()
                for thread in clients:
                    thread.join()
            self.assertEqual(failures, [])
            self.assertEqual(hostile.problems, [])
            self.assertGreater(hostile.rounds, 4)
            self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))


if __name__ == "__main__":
    devhost.main()
