"""TLS servers that misbehave as a broken or hostile endpoint can: each
accepts every connection on a port of its own, on a thread per connection,
and treats every request alike. Their certificate is a self-signed one for
localhost and 127.0.0.1, which a client trusts with --ca-file."""

import itertools
import os
import socket
import ssl
import subprocess
import threading

HTML_HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
LIST_HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: text/json; charset=UTF-8\r\nConnection: close\r\n\r\n"
SLOW_HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n"
DRIPPED = b"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 9\r\nConnection: close\r\n\r\nNot here\n"


def self_signed_certificate(directory, name="cert"):
    """A self-signed certificate for localhost and 127.0.0.1 and its key, as files in the directory."""
    certificate, key = os.path.join(directory, f"{name}.pem"), os.path.join(directory, f"{name}-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-days", "30",
                    "-keyout", key, "-out", certificate], check=True, capture_output=True)
    return certificate, key


def read_head(tls):
    """The request's head, or what came of it before the client stopped."""
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = tls.recv(4096)
        if not chunk:
            break
        head += chunk
    return head


def silent_before_tls(connection, context, closed):
    closed.wait()


def silent_after_tls(connection, context, closed):
    tls = context.wrap_socket(connection, server_side=True)
    closed.wait()
    tls.close()


def drip(connection, context, closed):
    tls = context.wrap_socket(connection, server_side=True)
    read_head(tls)
    for byte in DRIPPED:
        if closed.wait(1):
            return
        tls.sendall(bytes([byte]))


def slow_body(connection, context, closed):
    """The head at once, then the body a byte a second."""
    tls = context.wrap_socket(connection, server_side=True)
    read_head(tls)
    tls.sendall(SLOW_HEAD)
    while not closed.wait(1):
        tls.sendall(b"x")


def flood(pieces):
    """Sends the pieces one after another, as fast as the client takes them, whatever it asked."""
    def serve(connection, context, closed):
        tls = context.wrap_socket(connection, server_side=True)
        read_head(tls)
        for piece in pieces():
            if closed.is_set():
                return
            tls.sendall(piece)
    return serve


def html_body():
    yield HTML_HEAD
    yield from itertools.repeat(b"<p>" + b"more " * 800 + b"</p>\n")


def list_body():
    """A list answer's start, then accounts without end."""
    yield LIST_HEAD + b"["
    for number in itertools.count():
        yield (b'{"userName": "user%d@example.com", "fullName": "User %d", '
               b'"emailAddresses": ["user%d@example.com"]},' % (number, number, number)) * 50


def header_fields(count=None):
    """A status line, then header fields without end, or `count` of them and the blank line."""
    yield b"HTTP/1.1 200 OK\r\n"
    for number in itertools.count() if count is None else range(count):
        yield b"X-Filler-%d: %s\r\n" % (number, b"x" * 1000)
    yield b"Content-Length: 0\r\nConnection: close\r\n\r\n"


# How each kind treats a connection it accepted.
KINDS = {
    "silent-before-tls": silent_before_tls,
    "silent-after-tls": silent_after_tls,
    "drip": drip,
    "slow-body": slow_body,
    "endless-html": flood(html_body),
    "endless-list": flood(list_body),
    "endless-header": flood(header_fields),
    "long-header": flood(lambda: header_fields(100)),
}


class HostileServer:
    """One kind of KINDS on 127.0.0.1, on a port of its choosing, until close()."""

    def __init__(self, kind, certificate, key):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certificate, key)
        self.serve = KINDS[kind]
        self.closed = threading.Event()
        self.connections = []
        self.lock = threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections.append(connection)
            threading.Thread(target=self._handle, args=(connection,), daemon=True).start()

    def _handle(self, connection):
        try:
            self.serve(connection, self.context, self.closed)
        except (OSError, ssl.SSLError):
            pass  # the client went away, or spoke no TLS
        finally:
            connection.close()

    def close(self):
        """Stops accepting and ends every connection."""
        self.closed.set()
        self.listener.close()
        with self.lock:
            for connection in self.connections:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

