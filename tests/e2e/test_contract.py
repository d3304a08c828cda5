"""Every answer a client can provoke from the extension through the host, with
the sample mail server, checked against docs/openapi.yaml: its status and
media type are declared, JSON bodies validate against their schemas, and the
documented headers and error pages match byte for byte."""

import json
import os
import socket
import unittest

import jsonschema
import yaml

import devhost
from devhost import ADMIN, REPOSITORY

OPENAPI = os.path.join(REPOSITORY, "docs", "openapi.yaml")
PATH = "/TessalineIntegration.dll"

# Documented pages that no client can provoke here: the host hands over the
# whole body before the extension runs, and the stand-in library always
# starts its walk over the accounts.
NOT_PROVOKED = {"postedDataUnreadable", "internalError"}

FORM = "Content-Type: application/x-www-form-urlencoded"


def authorization(user, password):
    return "Authorization: " + devhost.basic(user, password)["Authorization"]


CALLER = authorization(*ADMIN)

# (name, over TLS, method, header lines, body, status, the component schema a
# JSON body must match or None, the documented example the body must equal or None)
CASES = [
    ("list", True, "POST", [CALLER, FORM], b"cmd=list", 200, "AccountList", None),
    ("auth, right password", True, "POST", [CALLER, FORM], b"cmd=auth&user=ann.lee%40example.com&pass=ann-pass",
     200, "AuthResult", "authSucceeded"),
    ("auth, wrong password", True, "POST", [CALLER, FORM], b"cmd=auth&user=ann.lee%40example.com&pass=nope",
     200, "AuthResult", "authFailed"),
    ("plain HTTP", False, "POST", [CALLER, FORM], b"cmd=list", 403, None, "httpsRequired"),
    ("GET", True, "GET", [CALLER], b"", 405, None, "postRequired"),
    ("DELETE", True, "DELETE", [CALLER], b"", 405, None, "postRequired"),
    ("HEAD: the page's headers, no body", True, "HEAD", [CALLER], b"", 405, None, "postRequired"),
    ("no credentials", True, "POST", [FORM], b"cmd=list", 401, None, "authenticationRequired"),
    ("a scheme other than Basic", True, "POST", ["Authorization: Bearer abc", FORM], b"cmd=list", 401, None,
     "authenticationRequired"),
    ("wrong caller password", True, "POST", [authorization(ADMIN[0], "nope"), FORM], b"cmd=list", 401, None,
     "invalidCredentials"),
    ("caller without permission 4", True, "POST", [authorization("ann.lee@example.com", "ann-pass"), FORM],
     b"cmd=list", 401, None, "invalidCredentials"),
    ("not a form", True, "POST", [CALLER, "Content-Type: text/plain"], b"cmd=list", 400, None, "invalidInput"),
    ("body over 4096 bytes", True, "POST", [CALLER, FORM], b"cmd=list&pad=" + b"x" * 4096, 400, None,
     "invalidInput"),
    ("unknown command", True, "POST", [CALLER, FORM], b"cmd=nothing", 400, None, "invalidCommand"),
]


def setUpModule():
    global host, document
    with open(OPENAPI, encoding="utf-8") as source:
        document = yaml.safe_load(source)
    host = devhost.DevHost()


def tearDownModule():
    exit_code = host.stop()
    host.__exit__(None)
    assert exit_code == 0, exit_code


def resolve(item):
    """The object that a local $ref ("#/components/...") names, or the item itself."""
    while "$ref" in item:
        target = document
        for key in item["$ref"].removeprefix("#/").split("/"):
            target = target[key]
        item = target
    return item


def validator(schema):
    """A Draft 2020-12 validator for a schema of the document, its $refs resolved in the document."""
    return jsonschema.Draft202012Validator(dict(schema, components=document["components"]))


def exchange(over_tls, method, header_lines, body):
    """Sends one request as bytes; returns (status, {lower-case name: [values]}, body) as received."""
    lines = [f"{method} {PATH} HTTP/1.1", "Host: localhost", *header_lines]
    if method == "POST":
        lines.append(f"Content-Length: {len(body)}")
    data = ("\r\n".join(lines) + "\r\n\r\n").encode() + body
    if over_tls:
        sock = host.tls_socket()
    else:
        sock = socket.create_connection(("127.0.0.1", host.http_port), timeout=30)
    with sock:
        sock.sendall(data)
        received = devhost.read_until_closed(sock)
    head, _, answer_body = received.partition(b"\r\n\r\n")
    status_line, *header_fields = head.split(b"\r\n")
    headers = {}
    for field in header_fields:
        name, _, value = field.partition(b":")
        headers.setdefault(name.decode().lower(), []).append(value.lstrip(b" \t"))
    return int(status_line.split(b" ")[1]), headers, answer_body


class Contract(unittest.TestCase):
    def test_document_is_openapi_3_1_with_valid_schemas(self):
        self.assertRegex(document["openapi"], r"^3\.1\.\d+$")
        for name, schema in document["components"]["schemas"].items():
            with self.subTest(name):
                jsonschema.Draft202012Validator.check_schema(schema)

    def test_every_answer_matches_the_document(self):
        for name, over_tls, method, header_lines, body, status, component, example in CASES:
            with self.subTest(name):
                got_status, headers, got_body = exchange(over_tls, method, header_lines, body)
                responses = document["paths"][PATH][method.lower()]["responses"]
                self.assertIn(str(got_status), responses, got_body)
                self.assertEqual(got_status, status, got_body)
                response = resolve(responses[str(got_status)])
                (content_type,) = headers["content-type"]
                self.assertIn(content_type.decode(), response["content"])
                media = response["content"][content_type.decode()]
                expected = media["examples"][example]["value"] if example else None
                if method == "HEAD":
                    self.assertEqual(got_body, b"")
                    length = len(expected.encode())
                else:
                    self.check_body(got_body, media, component, expected)
                    length = len(got_body)
                self.check_headers(headers, response["headers"], length)

    def check_body(self, body, media, component, expected):
        if component:
            value = json.loads(body.decode("utf-8", errors="strict"))
            self.assertValid(media["schema"], value)
            self.assertValid({"$ref": f"#/components/schemas/{component}"}, value)
            if expected is not None:
                self.assertEqual(value, expected)
        else:
            self.assertValid(media["schema"], body.decode("ascii"))
            self.assertEqual(body, expected.encode())

    def assertValid(self, schema, value):
        # The messages alone: a ValidationError would print the whole document.
        self.assertEqual([error.message for error in validator(schema).iter_errors(value)], [])

    def check_headers(self, headers, documented, length):
        """Each documented header once, its value byte for byte where the document fixes it."""
        for name, header in documented.items():
            schema = resolve(header)["schema"]
            values = headers.get(name.lower(), [])
            self.assertEqual(len(values), 1, (name, headers))
            if "const" in schema:
                self.assertEqual(values[0], schema["const"].encode(), name)
            else:
                self.assertValid(schema, int(values[0]))
        self.assertEqual(headers["content-length"], [str(length).encode()])

    def test_every_documented_page_is_provoked_or_named_here(self):
        pages = set()
        for response in document["components"]["responses"].values():
            pages.update(response["content"]["text/html"]["examples"])
        provoked = {example for *_, component, example in CASES if not component}
        self.assertEqual(pages - NOT_PROVOKED, provoked)
        self.assertLessEqual(NOT_PROVOKED, pages)


if __name__ == "__main__":
    devhost.main()
