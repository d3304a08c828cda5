"""What an extension sees through the control block, the server variables and
ReadClient, and how the host carries its answer, shown by a probe extension
that reports all of it back."""

import unittest

import devhost
from devhost import PATHS, request

READ_AHEAD = 16
BODY = "0123456789" * 10


def setUpModule():
    global host
    host = devhost.DevHost("--read-ahead", str(READ_AHEAD), extension=PATHS.probe)


def tearDownModule():
    exit_code = host.stop()
    host.__exit__(None)
    assert exit_code == 0, exit_code


def report(connection, method="POST", body=None, headers=None, path="/dir/probe.dll?a=1&b=%20"):
    status, _, answer = request(connection, method, body, headers, path)
    assert status == 200, (status, answer)
    return dict(line.split("=", 1) for line in answer.decode().splitlines())


class ControlBlock(unittest.TestCase):
    def test_request_as_the_extension_sees_it(self):
        headers = {"Content-Type": "application/x-www-form-urlencoded", "Authorization": "Basic raw-value",
                   "X-Probe-Header": "probe"}
        cases = [
            # (name, connection, method, body, headers, what the probe must report)
            ("HTTPS, body past the read-ahead", host.https, "POST", BODY, headers, {
                "cbSize": "192", "method": "POST", "query": "a=1&b=%20", "path": "/dir/probe.dll",
                "contentType": "application/x-www-form-urlencoded", "total": "100", "available": str(READ_AHEAD),
                "body": BODY, "largestRead": "7", "HTTPS": "on", "HTTP_AUTHORIZATION": "Basic raw-value",
                "REQUEST_METHOD": "POST", "CONTENT_TYPE": "application/x-www-form-urlencoded",
                "CONTENT_LENGTH": "100", "QUERY_STRING": "a=1&b=%20", "PATH_INFO": "/dir/probe.dll",
                "REMOTE_ADDR": "127.0.0.1", "SERVER_PORT": str(host.https_port), "HTTP_X_PROBE_HEADER": "probe",
                "NO_SUCH_VARIABLE": "<none>", "tooSmall": "0,5", "unknownSupport": "0"}),
            ("plain HTTP, no headers, no body", host.http, "PUT", None, {}, {
                "method": "PUT", "contentType": "", "total": "0", "available": "0", "body": "", "HTTPS": "off",
                "CONTENT_TYPE": "", "CONTENT_LENGTH": "0", "HTTP_AUTHORIZATION": "<none>",
                "SERVER_PORT": str(host.http_port), "tooSmall": "0,4"}),
            ("body within the read-ahead", host.https, "POST", BODY[:READ_AHEAD], headers, {
                "total": str(READ_AHEAD), "available": str(READ_AHEAD), "body": BODY[:READ_AHEAD],
                "largestRead": "0"}),
            # HTTP_ reads underscores as dashes; HEADER_ takes the name as it is.
            ("underscores in header names", host.https, "POST", "x",
             {"Content_Type": "application/x-www-form-urlencoded", "X-Probe-Header": "dash",
              "X_Probe_Header": "underscore"}, {
                "contentType": "", "CONTENT_TYPE": "", "HTTP_X_PROBE_HEADER": "dash",
                "HEADER_X_PROBE_HEADER": "underscore"}),
        ]
        for name, connect, method, body, request_headers, expected in cases:
            with self.subTest(name):
                seen = report(connect(), method, body, request_headers)
                self.assertEqual({key: seen.get(key) for key in expected}, expected)

    def test_chunked_trailer_is_never_shown_to_the_extension(self):
        trailer = ("Authorization: Basic from-the-trailer\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                   "X-Probe-Header: from-the-trailer\r\n")
        with host.tls_socket() as sock:
            sock.sendall(f"POST /probe.dll HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n"
                         f"X-Probe-Header: from-the-header\r\n\r\n3\r\nabc\r\n0\r\n{trailer}\r\n".encode())
            answer = devhost.read_until_closed(sock)
        head, _, text = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 "), answer)
        seen = dict(line.split("=", 1) for line in text.decode().splitlines())
        expected = {"body": "abc", "contentType": "", "CONTENT_TYPE": "", "HTTP_AUTHORIZATION": "<none>",
                    "HTTP_X_PROBE_HEADER": "from-the-header"}
        self.assertEqual({key: seen.get(key) for key in expected}, expected)

    def test_kept_connection_serves_the_next_request(self):
        connection = host.https()
        for _ in range(2):
            connection.request("POST", "/probe.dll?keep", body="x")
            response = connection.getresponse()
            self.assertEqual(response.status, 200)
            self.assertIn(b"body=x\n", response.read())
        self.assertIsNotNone(connection.sock, "the host closed a connection the extension kept")
        connection.close()

    def test_request_left_unanswered_gets_500_from_the_host(self):
        status, headers, body = request(host.https(), "POST", "x", path="/probe.dll?unanswered")
        self.assertEqual(status, 500)
        self.assertEqual(headers["Connection"], "close")
        self.assertEqual(body, b"500 Internal Server Error\r\n")


if __name__ == "__main__":
    devhost.main()
