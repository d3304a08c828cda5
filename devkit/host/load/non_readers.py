#!/usr/bin/env python3
"""Holds CLIENTS connections to the host at URL that each post cmd=list and
read nothing, and prints the resident memory of the host's process PID
before and while they hold on, and what each was answered.

    non_readers.py URL PID CLIENTS
"""

import base64
import socket
import ssl
import sys
import time
import urllib.parse

CREDENTIALS = base64.b64encode(b"admin@example.com:admin-pass").decode()
REQUEST = ("POST {path} HTTP/1.1\r\nHost: localhost\r\nAuthorization: Basic {credentials}\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\ncmd=list")
# Small, as a client that has stopped reading leaves it; set before connecting.
RECEIVE_BUFFER = 65536
SETTLED_SECONDS = 3


def memory(pid):
    """The process's resident memory and its peak, in MiB."""
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            name, _, value = line.partition(":")
            fields[name] = value.split()
    return int(fields["VmRSS"][0]) / 1024, int(fields["VmHWM"][0]) / 1024


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rpartition(")")[2].split()
    return int(fields[11]) + int(fields[12])


def post_list(port, path, receive_buffer=None):
    raw = socket.socket()
    if receive_buffer:
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    raw.connect(("127.0.0.1", port))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    sock = context.wrap_socket(raw, server_hostname="localhost")
    sock.sendall(REQUEST.format(path=path, credentials=CREDENTIALS).encode())
    return sock


def read_all(sock):
    received = bytearray()
    while chunk := sock.recv(1 << 20):
        received += chunk
    return bytes(received)


def main():
    url, pid, clients = urllib.parse.urlsplit(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    print("after start: %.0f MiB resident" % memory(pid)[0])
    with post_list(url.port, url.path) as sock:
        answer = read_all(sock)
    print("after one list of %d bytes read in full: %.0f MiB resident" % (len(answer), memory(pid)[0]))

    began = time.monotonic()
    held = [post_list(url.port, url.path, RECEIVE_BUFFER) for _ in range(clients)]
    ticks, still_since = cpu_ticks(pid), time.monotonic()
    while time.monotonic() - still_since < SETTLED_SECONDS:
        time.sleep(0.5)
        now = cpu_ticks(pid)
        if now != ticks:
            ticks, still_since = now, time.monotonic()
    resident, peak = memory(pid)
    print("%d clients not reading, all answered after %.1f s: %.0f MiB resident, peak %.0f MiB"
          % (clients, still_since - began, resident, peak))
    statuses = [sock.recv(12).decode(errors="replace").split(" ")[-1] for sock in held]
    print("their answers' statuses: " + " ".join(statuses))
    for sock in held:
        sock.close()


if __name__ == "__main__":
    main()
