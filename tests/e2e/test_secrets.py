"""What the host lets go of holds no password: the host runs with a probe
preloaded that searches every block freed to the heap for the secrets that
the requests carried, in the Authorization header and in the body, over
HTTPS and plain HTTP, and until the host has ended."""

import base64
import os
import tempfile
import unittest

import devhost
from devhost import ADMIN, PATHS, basic, form_headers, request

BODY_SECRET = "Body-Secret-7Qx2"
HEADER_SECRET = "Header-Secret-9Wk4"
HEADER_USER = "ann.lee@example.com"


class FreedMemory(unittest.TestCase):
    def test_no_freed_block_holds_a_password(self):
        token = base64.b64encode(f"{HEADER_USER}:{HEADER_SECRET}".encode()).decode()
        secrets = [BODY_SECRET, HEADER_SECRET, token]
        with tempfile.TemporaryDirectory() as work:
            secrets_path = os.path.join(work, "secrets")
            report_path = os.path.join(work, "report")
            with open(secrets_path, "w") as listed:
                listed.write("\n".join(secrets) + "\n")
            environment = {"LD_PRELOAD": PATHS.freed_secret_probe, "FREED_SECRET_PROBE_SECRETS": secrets_path,
                           "FREED_SECRET_PROBE_REPORT": report_path}
            with devhost.DevHost(environment=environment) as host:
                auth = f"cmd=auth&user=ann.lee%40example.com&pass={BODY_SECRET}"
                for connect in (host.https, host.http):
                    status, _, body = request(connect(), "POST", auth, form_headers(ADMIN))
                    self.assertIn(status, (200, 403))
                    headers = dict(form_headers(None), **basic(HEADER_USER, HEADER_SECRET))
                    status, _, _ = request(connect(), "POST", "cmd=list", headers)
                    self.assertIn(status, (401, 403))
                status, _, body = request(host.https(), "POST", auth, form_headers(ADMIN))
                self.assertEqual((status, body), (200, b'{"succeeded": false}\r\n'))
                self.assertEqual(host.stop(), 0)
            report = open(report_path).read() if os.path.exists(report_path) else ""
            self.assertEqual(report, "", f"secrets, in the order {secrets}")


if __name__ == "__main__":
    devhost.main()
