"""SIGTERM: the host stops accepting, answers what it has begun, unloads the
extension and exits 0."""

import http.client
import socket
import ssl
import threading
import time
import unittest

import devhost
from devhost import SAMPLE_ACCOUNTS, form_headers, request

AUTH_ANN = b"cmd=auth&user=ann.lee%40example.com&pass=ann-pass"
CLIENTS = 8


def begin_request(host):
    """A request whose header the host has read, as its 100 Continue shows,
    and whose body is still to come."""
    sock = host.tls_socket()
    headers = "".join(f"{name}: {value}\r\n" for name, value in form_headers().items())
    sock.sendall(f"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: {len(AUTH_ANN)}\r\n"
                 f"Expect: 100-continue\r\n{headers}\r\n".encode())
    assert sock.recv(100) == b"HTTP/1.1 100 Continue\r\n\r\n"
    return sock


def wait_until_refused(port):
    for _ in range(300):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=5).close()
        except ConnectionRefusedError:
            return
        except ConnectionResetError:
            pass  # taken into the backlog just as the listener closed
        time.sleep(0.05)
    raise AssertionError("the host kept accepting after SIGTERM")


class Shutdown(unittest.TestCase):
    def test_requests_begun_before_the_signal_are_answered(self):
        # Three network threads, so that the begun requests and the idle
        # connection live on different ones.
        with devhost.DevHost("--network-threads", "3") as host:
            begun = [begin_request(host) for _ in range(3)]
            # An idle connection is closed rather than waited for.
            idle = host.tls_socket()
            host.process.send_signal(15)
            wait_until_refused(host.https_port)
            with idle:
                self.assertEqual(devhost.read_until_closed(idle), b"")
            for sock in begun:
                with sock:
                    sock.sendall(AUTH_ANN)
                    answer = devhost.read_until_closed(sock)
                self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer)
                self.assertTrue(answer.endswith(b'{"succeeded": true}\r\n'), answer)
            self.assertEqual(host.process.wait(timeout=30), 0, "".join(host.stderr_lines))

    def test_under_load_every_answer_is_whole_and_logged(self):
        with devhost.DevHost("--threads", "2") as host:
            answered = []
            wrong = []
            stop = threading.Event()

            def client():
                while not stop.is_set():
                    try:
                        status, _, body = request(host.https(), "POST", "cmd=list", form_headers())
                    except (OSError, http.client.HTTPException):
                        # Refused, or closed before the request was taken up: never half an answer.
                        continue
                    if status != 200 or devhost.listed_accounts(body) != SAMPLE_ACCOUNTS:
                        wrong.append((status, body))
                    answered.append(status)

            threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
            for thread in threads:
                thread.start()
            while len(answered) < 50:
                time.sleep(0.01)
            exit_code = host.stop()
            stop.set()
            for thread in threads:
                thread.join()
            self.assertEqual(exit_code, 0, "".join(host.stderr_lines))
            self.assertEqual(wrong, [])
            logged = [line for line in host.access_log() if " POST /TessalineIntegration.dll 200 " in line]
            self.assertEqual(len(logged), len(answered))


if __name__ == "__main__":
    devhost.main()
