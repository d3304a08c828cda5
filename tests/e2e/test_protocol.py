"""The extension behind the host, as clients see it, and the answers the host
gives itself to requests that never reach the extension."""

import re
import socket
import ssl
import subprocess
import time
import unittest

import devhost
from devhost import ADMIN, SAMPLE_ACCOUNTS, form_headers, request

AUTH_ANN = "cmd=auth&user=ann.lee%40example.com&pass=ann-pass"
SUCCEEDED = b'{"succeeded": true}\r\n'
FAILED = b'{"succeeded": false}\r\n'


def setUpModule():
    global host
    # A read-ahead shorter than almost every body: the extension reads the rest through ReadClient.
    host = devhost.DevHost("--read-ahead", "16")


def tearDownModule():
    exit_code = host.stop()
    host.__exit__(None)
    assert exit_code == 0, exit_code


def raw_exchange(data):
    """Sends the bytes over TLS as they are and returns all that comes back."""
    with host.tls_socket() as sock:
        sock.sendall(data)
        return devhost.read_until_closed(sock)


class ExtensionAnswers(unittest.TestCase):
    def test_answers_by_transport_method_and_credentials(self):
        cases = [
            # (name, connection, method, body, credentials, status, header that must be there, body)
            ("plain HTTP", host.http, "POST", "cmd=list", ADMIN, 403, None, None),
            ("GET", host.https, "GET", None, ADMIN, 405, ("Allow", "POST"), None),
            ("no credentials", host.https, "POST", "cmd=list", None, 401, ("WWW-Authenticate", "Basic"), None),
            ("wrong caller password", host.https, "POST", "cmd=list", (ADMIN[0], "nope"), 401,
             ("WWW-Authenticate", "Basic"), None),
            ("auth right password", host.https, "POST", AUTH_ANN, ADMIN, 200, None, SUCCEEDED),
            ("auth wrong password", host.https, "POST", AUTH_ANN + "x", ADMIN, 200, None, FAILED),
            ("auth disabled account", host.https, "POST", "cmd=auth&user=old.staff@example.com&pass=old-pass",
             ADMIN, 200, None, FAILED),
            ("body far past the read-ahead", host.https, "POST", AUTH_ANN + "&pad=" + "x" * 3000, ADMIN, 200,
             None, SUCCEEDED),
            ("unknown command", host.https, "POST", "cmd=nothing", ADMIN, 400, None, None),
        ]
        for name, connect, method, body, credentials, status, header, expected_body in cases:
            with self.subTest(name):
                got_status, headers, got_body = request(connect(), method, body, form_headers(credentials))
                self.assertEqual(got_status, status, got_body)
                if header:
                    self.assertTrue(headers.get(header[0], "").startswith(header[1]), headers)
                if expected_body is not None:
                    self.assertEqual(got_body, expected_body)

    def test_chunked_body_reaches_the_extension_whole(self):
        chunks = iter([b"cmd=auth&user=ann.lee", b"%40example.com", b"&pass=ann-pass"])
        status, _, body = request(host.https(), "POST", chunks, form_headers())
        self.assertEqual((status, body), (200, SUCCEEDED))

    def test_list_with_curl_is_strict_utf8_json_of_the_sample(self):
        finished = subprocess.run(["curl", "--silent", "--show-error", "--insecure", "--fail",
                                   "--user", ":".join(ADMIN), "--data", "cmd=list", host.url()],
                                  capture_output=True, timeout=60, check=True)
        self.assertEqual(devhost.listed_accounts(finished.stdout), SAMPLE_ACCOUNTS)

    def test_head_gets_headers_and_no_body(self):
        answer = raw_exchange(b"HEAD /TessalineIntegration.dll HTTP/1.1\r\nHost: localhost\r\n\r\n")
        head, _, rest = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 405 "), answer)
        self.assertRegex(head, rb"\r\nContent-Length: [1-9]")
        self.assertEqual(rest, b"")

    def test_expect_continue_gets_continue_then_the_answer(self):
        body = AUTH_ANN.encode()
        headers = "".join(f"{name}: {value}\r\n" for name, value in form_headers().items())
        with host.tls_socket() as sock:
            sock.sendall(f"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: {len(body)}\r\n"
                         f"Expect: 100-continue\r\n{headers}\r\n".encode())
            self.assertEqual(sock.recv(100), b"HTTP/1.1 100 Continue\r\n\r\n")
            sock.sendall(body)
            answer = devhost.read_until_closed(sock)
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer)
        self.assertTrue(answer.endswith(SUCCEEDED), answer)

    def test_answer_ends_with_close_notify_while_the_client_still_listens(self):
        # The host closes without waiting for the client's close_notify; its
        # own still comes first, so that a client can tell the end of the
        # answer from a cut connection.
        body = AUTH_ANN.encode()
        headers = "".join(f"{name}: {value}\r\n" for name, value in form_headers().items())
        context = devhost.unverified_context()
        context.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF
        raw = socket.create_connection(("127.0.0.1", host.https_port), timeout=30)
        with context.wrap_socket(raw, suppress_ragged_eofs=False) as sock:
            sock.sendall(f"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: {len(body)}\r\n"
                         f"{headers}\r\n".encode() + body)
            answer = b""
            while chunk := sock.recv(65536):
                answer += chunk
        self.assertTrue(answer.endswith(SUCCEEDED), answer)


class HostAnswers(unittest.TestCase):
    def test_requests_the_host_refuses_itself(self):
        cases = [
            ("malformed request line", b"GARBAGE\r\n\r\n", 400),
            ("malformed header", b"POST / HTTP/1.1\r\nHost localhost\r\n\r\n", 400),
            ("bad content length", b"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 12x\r\n\r\n", 400),
            ("body over 1 MiB, refused before it is sent",
             b"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1048577\r\n\r\n", 413),
            ("header over its limit", b"POST / HTTP/1.1\r\nX-Filler: " + b"f" * 20000 + b"\r\n\r\n", 431),
        ]
        for name, data, status in cases:
            with self.subTest(name):
                answer = raw_exchange(data)
                self.assertTrue(answer.startswith(b"HTTP/1.1 %d " % status), answer)
                self.assertIn(b"\r\nConnection: close\r\n", answer)
                # The extension answers in HTML; the host in plain text.
                self.assertIn(b"\r\nContent-Type: text/plain\r\n", answer)

    def test_request_shapes_are_framed_as_a_server_must(self):
        host_line = "Host: localhost\r\n"
        credentials = "Authorization: " + form_headers()["Authorization"] + "\r\n"
        form = "Content-Type: application/x-www-form-urlencoded\r\n"
        chunked = "Transfer-Encoding: chunked\r\n"
        length = "Content-Length: 8\r\n"
        body = "cmd=list"
        chunks = "8\r\ncmd=list\r\n0\r\n"
        cases = [
            # (name, protocol, header fields, body, status, who answers)
            ("Content-Length", "HTTP/1.1", host_line + credentials + form + length, body, 200, "extension"),
            ("chunked", "HTTP/1.1", host_line + credentials + form + chunked, chunks + "\r\n", 200, "extension"),
            ("Chunked in capitals", "HTTP/1.1", host_line + credentials + form + "Transfer-Encoding: Chunked\r\n",
             chunks + "\r\n", 200, "extension"),
            ("HTTP/1.0 without Host", "HTTP/1.0", credentials + form + length, body, 200, "extension"),
            # A trailer is never merged into the header section.
            ("credentials only in the trailer", "HTTP/1.1", host_line + form + chunked,
             chunks + credentials + "\r\n", 401, "extension"),
            ("content type only in the trailer", "HTTP/1.1", host_line + credentials + chunked,
             chunks + form + "\r\n", 400, "extension"),
            ("both only in the trailer", "HTTP/1.1", host_line + chunked, chunks + credentials + form + "\r\n",
             401, "extension"),
            # Only Content-Type itself names the content type.
            ("Content_Type", "HTTP/1.1",
             host_line + credentials + "Content_Type: application/x-www-form-urlencoded\r\n" + length, body, 400,
             "extension"),
            # A transfer coding the host does not implement.
            ("gzip, chunked", "HTTP/1.1", host_line + credentials + form + "Transfer-Encoding: gzip, chunked\r\n",
             chunks + "\r\n", 501, "host"),
            ("gzip and chunked in two fields", "HTTP/1.1",
             host_line + credentials + form + "Transfer-Encoding: gzip\r\n" + chunked, chunks + "\r\n", 501, "host"),
            ("gzip alone", "HTTP/1.1", host_line + credentials + form + "Transfer-Encoding: gzip\r\n", body, 501,
             "host"),
            # Framing in doubt.
            ("identity with Content-Length", "HTTP/1.1",
             host_line + credentials + form + "Transfer-Encoding: identity\r\n" + length, body, 400, "host"),
            ("chunked, then Content-Length", "HTTP/1.1", host_line + credentials + form + chunked + length,
             chunks + "\r\n", 400, "host"),
            ("Content-Length, then chunked", "HTTP/1.1", host_line + credentials + form + length + chunked,
             chunks + "\r\n", 400, "host"),
            ("chunked in HTTP/1.0", "HTTP/1.0", credentials + form + chunked, chunks + "\r\n", 400, "host"),
            # Host.
            ("HTTP/1.1 without Host", "HTTP/1.1", credentials + form + length, body, 400, "host"),
            ("two Host fields", "HTTP/1.1", host_line + host_line + credentials + form + length, body, 400, "host"),
        ]
        for name, protocol, fields, request_body, status, answerer in cases:
            with self.subTest(name):
                answer = raw_exchange(f"POST /TessalineIntegration.dll {protocol}\r\n{fields}\r\n"
                                      f"{request_body}".encode())
                head, _, rest = answer.partition(b"\r\n\r\n")
                self.assertTrue(head.startswith(b"HTTP/1.1 %d " % status), answer[:300])
                # The extension answers in HTML and JSON; the host in plain text.
                self.assertEqual(b"\r\nContent-Type: text/plain" in head, answerer == "host", head)
                if status == 200:
                    self.assertEqual(devhost.listed_accounts(rest), SAMPLE_ACCOUNTS)

    def test_access_log_has_a_line_per_request(self):
        before = len(host.access_log())
        request(host.https(), "POST", AUTH_ANN, form_headers())
        request(host.https(), "GET", None, form_headers())
        raw_exchange(b"GARBAGE\r\n\r\n")
        # A line is written once its answer is out, by the connection's own
        # network thread: it may come after the client has read the answer,
        # and after the line of a later request on another thread.
        patterns = [r"POST /TessalineIntegration\.dll 200 \d+ ", r"GET /TessalineIntegration\.dll 405 \d+ ",
                    r"- - 400 \d+ "]
        lines = [re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1 " + pattern + r"\d+\.\d{3}ms$")
                 for pattern in patterns]
        deadline = time.monotonic() + 10
        while True:
            logged = host.access_log()[before:]
            missing = [line.pattern for line in lines if not any(line.match(entry) for entry in logged)]
            if not missing or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(missing, [], logged)


if __name__ == "__main__":
    devhost.main()
