#!/usr/bin/env python3
"""How long tessaline-doctor --probe runs, and how much memory it holds at
most, against each of tests/e2e/hostile_endpoint.py's servers, all at once.

    bench/probe_hostile.py DOCTOR [--runner wine] [--limit SECONDS] [--memory-cap MIB]

A doctor still running at the limit, or holding more than the memory cap,
is killed and shown as such, so that the machine keeps its memory."""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "e2e"))
import hostile_endpoint  # noqa: E402


def resident_mib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0


def measure(command, limit, cap, results, kind):
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    process.stdin.write(b"admin-pass\n")
    process.stdin.close()
    why = None
    while os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
        if time.monotonic() - start > limit:
            why = "killed at the time limit"
        elif resident_mib(process.pid) > cap:
            why = "killed at the memory cap"
        if why:
            os.killpg(process.pid, signal.SIGKILL)
            break
        time.sleep(0.1)
    _, status, usage = os.wait4(process.pid, 0)
    results[kind] = (time.monotonic() - start, usage.ru_maxrss, why or f"exit {os.waitstatus_to_exitcode(status)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("doctor")
    parser.add_argument("--runner", help="runs the doctor, e.g. wine")
    parser.add_argument("--limit", type=float, default=300)
    parser.add_argument("--memory-cap", type=float, default=2048)
    arguments = parser.parse_args()
    runner = [arguments.runner] if arguments.runner else []
    with tempfile.TemporaryDirectory(prefix="bench-hostile-") as directory:
        certificate, key = hostile_endpoint.self_signed_certificate(directory)
        servers = {kind: hostile_endpoint.HostileServer(kind, certificate, key) for kind in hostile_endpoint.KINDS}
        results = {}
        threads = []
        for kind, server in servers.items():
            command = runner + [arguments.doctor, "--probe", f"https://localhost:{server.port}/TessalineIntegration.dll",
                                "--caller", "admin@example.com",
                                "--ca-file", ("Z:" if runner else "") + certificate]
            threads.append(threading.Thread(target=measure, args=(command, arguments.limit, arguments.memory_cap, results, kind)))
            threads[-1].start()
        for thread in threads:
            thread.join()
        for server in servers.values():
            server.close()
    print(f"{'kind':20} {'seconds':>8} {'peak RSS MiB':>13}  end")
    for kind in servers:
        seconds, kilobytes, end = results[kind]
        print(f"{kind:20} {seconds:8.1f} {kilobytes / 1024:13.1f}  {end}")


if __name__ == "__main__":
    main()
