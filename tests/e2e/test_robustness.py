"""Many clients at once, some of them hostile: every proper request gets its
right answer while others send garbage, endless headers, or nothing at all,
hold many idle connections, or never read their answers."""

import fcntl
import http.client
import os
import re
import socket
import ssl
import struct
import termios
import threading
import time
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
        # Every party here connects from 127.0.0.1, standing for many machines.
        with devhost.DevHost("--threads", "4", "--network-threads", "3", "--timeout", str(HOST_TIMEOUT_SECONDS),
                             "--head-timeout", str(HOST_TIMEOUT_SECONDS), "--client-connections", "64") as host:
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


# The host's own defaults, which the tests below rely on.
CLIENT_CONNECTIONS = 32
HOST_CONNECTIONS = 256
MAX_BODY = 65536
# Long enough that nothing the test sees can be the work of a timeout.
PATIENT_SECONDS = 60
IDLE_CONNECTIONS = 300
IDLE_CLIENT, NON_READER, LEGITIMATE = "127.0.0.3", "127.0.0.4", "127.0.0.2"
# Accounts with long addresses and four aliases each: `list` answers about 9 MB,
# far more than a non-reader's socket buffers and the host's together hold.
LARGE_SAMPLE_ACCOUNTS = 20000
PADDING = "p" * 40
ANSWER_UNDER_WAY = 16384


def lay_out_large_sample(sample):
    with open(os.path.join(sample, "Accounts.txt"), "a") as accounts, \
            open(os.path.join(sample, "Aliases.txt"), "a") as aliases:
        for number in range(LARGE_SAMPLE_ACCOUNTS):
            address = f"user{number:05d}.{PADDING}@example.com"
            accounts.write(f"{address} | Generated User {number:05d} | pass{number} | 0 | 0 | |\n")
            for alias in range(4):
                aliases.write(f"alias{alias}.{number:05d}.{PADDING}@example.com = {address}\n")


def connect_from(source, port, receive_buffer=None):
    """A TCP connection from the given loopback address, as another machine would make it."""
    sock = socket.socket()
    if receive_buffer:
        # Set before connecting, so that the window never grows past it.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    sock.settimeout(PATIENT_SECONDS)
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    return sock


def still_open(sock):
    """True while the host has not closed the connection; reads nothing, TLS or not."""
    with socket.fromfd(sock.fileno(), socket.AF_INET, socket.SOCK_STREAM) as tcp:
        try:
            return tcp.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) != b""
        except BlockingIOError:
            return True
        except OSError:
            return False


def bytes_waiting(sock):
    """What the host has sent that the client has not read."""
    return struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.FIONREAD, b"\0\0\0\0"))[0]


def tls_request(port, source, body, receive_buffer=None):
    """A TLS connection from source with a form request sent and nothing read."""
    sock = devhost.unverified_context().wrap_socket(connect_from(source, port, receive_buffer),
                                                    server_hostname="localhost")
    headers = "".join(f"{name}: {value}\r\n" for name, value in form_headers().items())
    sock.sendall(f"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: {len(body)}\r\n{headers}\r\n".encode()
                 + body.encode())
    return sock


def hold_idle_connections(port):
    """IDLE_CONNECTIONS connections from one address that never send a request:
    every other one completes the TLS handshake first, the rest stay silent TCP."""
    held = []
    for number in range(IDLE_CONNECTIONS):
        sock = connect_from(IDLE_CLIENT, port)
        if number % 2:
            sock = devhost.unverified_context().wrap_socket(sock, server_hostname="localhost",
                                                            do_handshake_on_connect=False)
            try:
                sock.do_handshake()
            except (ssl.SSLError, ConnectionError):
                pass  # turned away before the handshake
        held.append(sock)
    return held


class HostileHolders(unittest.TestCase):
    def test_auth_is_answered_while_idle_and_non_reading_clients_hold_on(self):
        with devhost.DevHost("--threads", "2", "--timeout", str(PATIENT_SECONDS), "--head-timeout",
                             str(PATIENT_SECONDS), prepare_sample=lay_out_large_sample) as host:
            begun = time.monotonic()
            idle = hold_idle_connections(host.https_port)
            idle_held = time.monotonic()

            # Two non-readers, as many as the host has workers, ask for the large list.
            non_readers = [tls_request(host.https_port, NON_READER, "cmd=list", receive_buffer=65536)
                           for _ in range(2)]
            # Past the TLS session tickets, the answers themselves are coming.
            while not all(bytes_waiting(sock) > ANSWER_UNDER_WAY for sock in non_readers):
                time.sleep(0.01)
            stuck = time.monotonic()

            asked = time.monotonic()
            connection = http.client.HTTPSConnection("127.0.0.1", host.https_port, timeout=PATIENT_SECONDS,
                                                     context=devhost.unverified_context(),
                                                     source_address=(LEGITIMATE, 0))
            status, _, body = request(connection, "POST", "cmd=auth&user=ann.lee%40example.com&pass=ann-pass",
                                      form_headers())
            answered = time.monotonic()

            self.assertEqual((status, body), (200, b'{"succeeded": true}\r\n'))
            # Well before any of the host's timeouts could have freed a worker or a slot.
            self.assertLess(answered - begun, PATIENT_SECONDS / 2)
            self.assertTrue(all(still_open(sock) for sock in non_readers))
            waiting = [bytes_waiting(sock) for sock in non_readers]
            open_idle = sum(still_open(sock) for sock in idle)
            self.assertLessEqual(open_idle, CLIENT_CONNECTIONS)
            print(f"\n{IDLE_CONNECTIONS} idle connections made in {idle_held - begun:.3f}s, "
                  f"{open_idle} of them kept by the host; both non-readers stuck on the large list after "
                  f"{stuck - idle_held:.3f}s more, with {waiting} bytes unread; auth answered in "
                  f"{answered - asked:.3f}s, {answered - begun:.3f}s after the first idle connection "
                  f"(host timeouts {PATIENT_SECONDS}s)")

            for sock in non_readers + idle:
                sock.close()
            undelivered = [line for line in wait_for_undelivered(host, len(non_readers))
                           if f" {NON_READER} POST / 200 " in line]
            self.assertEqual(len(undelivered), len(non_readers), host.access_log())
            self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))


NON_READERS = 8
# Room for two answers of the large sample's list, not for three.
ANSWER_BUDGET = 20_000_000
# Eight lists are made one after the other on a sanitizer's build too, long
# before a held answer's write could time out and give its share back.
SETTLING_SECONDS = 120
BUDGET_TIMEOUT_SECONDS = 2 * SETTLING_SECONDS


def whole_answer(port, source, body):
    """Every byte of the host's answer to a form request over TLS, read until it closes."""
    with tls_request(port, source, body) as sock:
        return devhost.read_until_closed(sock, limit=1 << 30)


class AnswerBudget(unittest.TestCase):
    def test_non_readers_hold_no_more_than_the_budget(self):
        with devhost.DevHost("--threads", "2", "--timeout", str(BUDGET_TIMEOUT_SECONDS), "--head-timeout",
                             str(BUDGET_TIMEOUT_SECONDS), "--answer-budget", str(ANSWER_BUDGET),
                             prepare_sample=lay_out_large_sample) as host:
            answer_size = len(whole_answer(host.https_port, LEGITIMATE, "cmd=list"))
            fitting = ANSWER_BUDGET // answer_size
            self.assertTrue(0 < fitting < NON_READERS, answer_size)

            non_readers = [tls_request(host.https_port, NON_READER, "cmd=list", receive_buffer=65536)
                           for _ in range(NON_READERS)]
            # Each is either stuck on its answer or has been refused in full.
            deadline = time.monotonic() + SETTLING_SECONDS
            while True:
                refused = [line for line in host.access_log() if f" {NON_READER} POST / 503 " in line]
                held = [sock for sock in non_readers if bytes_waiting(sock) > ANSWER_UNDER_WAY]
                if len(refused) + len(held) == NON_READERS or time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            self.assertEqual(len(held), fitting, host.access_log())
            self.assertEqual(len(refused), NON_READERS - fitting, host.access_log())

            for sock in non_readers:
                if sock in held:
                    self.assertEqual(sock.recv(17), b"HTTP/1.1 200 OK\r\n")
                    continue
                answer = devhost.read_until_closed(sock)
                # The host's own answer, once, and nothing of the extension's.
                self.assertTrue(answer.startswith(b"HTTP/1.1 503 "), answer)
                self.assertIn(f"\r\nRetry-After: {BUDGET_TIMEOUT_SECONDS}\r\n".encode(), answer)
                self.assertTrue(answer.endswith(b"\r\n\r\n503 Service Unavailable\r\n"), answer)
                sock.close()

            # While the budget is full, even a client that reads is refused; auth, small, still fits.
            self.assertTrue(whole_answer(host.https_port, LEGITIMATE, "cmd=list").startswith(b"HTTP/1.1 503 "))
            auth = whole_answer(host.https_port, LEGITIMATE, "cmd=auth&user=ann.lee%40example.com&pass=ann-pass")
            self.assertTrue(auth.endswith(b'{"succeeded": true}\r\n'), auth)

            # A connection that dies gives its share back.
            for sock in held:
                sock.close()
            self.assertEqual(len(wait_for_undelivered(host, fitting)), fitting, host.access_log())
            status, _, body = request(http.client.HTTPSConnection(
                "127.0.0.1", host.https_port, timeout=PATIENT_SECONDS, context=devhost.unverified_context()),
                "POST", "cmd=list", form_headers())
            self.assertEqual(status, 200)
            self.assertEqual(len(devhost.listed_accounts(body)), len(SAMPLE_ACCOUNTS) + LARGE_SAMPLE_ACCOUNTS)
            self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))


def hold_connections(port, count, kept):
    """count TCP connections from IDLE_CLIENT, none of which sends anything,
    and how many of them the host keeps. Each network thread accepts from its
    own queue in its own time, and a connection not yet accepted looks open
    too: the count is taken once it has come down to what the host should
    keep, or the deadline has passed, and has then had a moment to go lower."""
    held = [connect_from(IDLE_CLIENT, port) for _ in range(count)]
    deadline = time.monotonic() + PATIENT_SECONDS / 4
    while sum(still_open(sock) for sock in held) > kept and time.monotonic() < deadline:
        time.sleep(0.01)
    time.sleep(0.2)
    return held, sum(still_open(sock) for sock in held)


class ConnectionLimits(unittest.TestCase):
    def test_the_limits_hold_across_network_threads(self):
        # Counted per network thread instead, three threads would keep every connection.
        cases = [
            # (--client-connections, connections from one address, how many the host keeps)
            (5, 12, 5),
            (300, 300, HOST_CONNECTIONS),
        ]
        for allowed, opened, kept in cases:
            with self.subTest(allowed=allowed), \
                    devhost.DevHost("--network-threads", "3", "--client-connections", str(allowed),
                                    "--head-timeout", str(PATIENT_SECONDS)) as host:
                held, held_count = hold_connections(host.https_port, opened, kept)
                self.assertEqual(held_count, kept)
                # Every slot comes back once its connection has ended, on whichever thread it lived.
                deadline = time.monotonic() + SETTLING_SECONDS
                while True:
                    for sock in held:
                        sock.close()
                    # The closed connections get a moment to end before the next try.
                    time.sleep(0.5)
                    held, held_count = hold_connections(host.https_port, opened, kept)
                    if held_count == kept or time.monotonic() > deadline:
                        break
                self.assertEqual(held_count, kept)
                for sock in held:
                    sock.close()
                self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))


def wait_for_undelivered(host, count):
    """The access log's undelivered lines, once there are count of them or the host's timeout has passed."""
    deadline = time.monotonic() + PATIENT_SECONDS
    while True:
        lines = [line for line in host.access_log() if line.endswith("ms undelivered")]
        if len(lines) >= count or time.monotonic() > deadline:
            return lines
        time.sleep(0.05)


class BodyLimit(unittest.TestCase):
    def test_a_body_the_host_will_not_take_is_refused_before_it_is_sent(self):
        with devhost.DevHost() as host:
            cases = [
                # (name, length header, whether the host asks for the body, status it answers)
                ("one byte over the limit", f"Content-Length: {MAX_BODY + 1}", False, 413),
                ("far over the limit", "Content-Length: 1048576", False, 413),
                ("at the limit", f"Content-Length: {MAX_BODY}", True, None),
            ]
            for name, length, continued, status in cases:
                with self.subTest(name), host.tls_socket() as sock:
                    sock.sendall(f"POST / HTTP/1.1\r\nHost: localhost\r\n{length}\r\n"
                                 "Expect: 100-continue\r\n\r\n".encode())
                    if continued:
                        self.assertEqual(sock.recv(100), b"HTTP/1.1 100 Continue\r\n\r\n")
                        continue
                    answer = devhost.read_until_closed(sock)
                    self.assertTrue(answer.startswith(b"HTTP/1.1 %d " % status), answer)
                    self.assertNotIn(b"100 Continue", answer)
            self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))

    def test_a_chunked_body_past_the_limit_is_refused(self):
        with devhost.DevHost() as host, host.tls_socket() as sock:
            chunk = b"x" * 4096
            sock.sendall(b"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n")
            try:
                for _ in range(MAX_BODY // len(chunk) + 1):
                    sock.sendall(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            except (ConnectionError, ssl.SSLError):
                pass  # refused while still sending
            answer = devhost.read_until_closed(sock)
            self.assertTrue(answer.startswith(b"HTTP/1.1 413 "), answer)



class RefusalBeforeTheRequestIsIn(unittest.TestCase):
    def test_the_answer_reaches_a_client_whose_bytes_are_still_unread(self):
        # The host refuses a head past its limit with most of it unread. A
        # socket closed over unread bytes resets the connection, which can
        # destroy the answer before the client reads it.
        with devhost.DevHost() as host:
            for attempt in range(3):
                with self.subTest(attempt=attempt), host.tls_socket() as sock:
                    sock.sendall(b"POST / HTTP/1.1\r\nHost: localhost\r\nX-Long: " + b"x" * 262144 + b"\r\n")
                    time.sleep(0.5)  # the host answers and closes meanwhile
                    answer = devhost.read_until_closed(sock)
                    self.assertTrue(answer.startswith(b"HTTP/1.1 431 "), answer[:100])
            self.assertEqual(host.stop(), 0, "".join(host.stderr_lines))

if __name__ == "__main__":
    devhost.main()
