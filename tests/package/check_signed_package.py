#!/usr/bin/python3
"""Signs the release package with a throwaway certificate made here, twice,
and checks the signatures with osslsigncode, the record of what was signed,
that both packages are the same bytes, and that the password shows nowhere.

    check_signed_package.py BINARY_DIR

Runs cpack of the configured build into directories of its own, so the
unsigned package that the other tests read stays as it is.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOP = "TessalineIntegration-7.5.0-win64/"
PROGRAMS = ["TessalineIntegration.dll", "tessaline-doctor.exe"]
# Spaces and a shell character: it must travel as data, never through a command line.
PASSWORD = "throwaway pass $word"

BINARY_DIR = sys.argv[1]


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, capture_output=True, timeout=60)


def make_signing_key(directory):
    """An authority, and a code-signing certificate from it with its RSA key in a
    PKCS#12 file under PASSWORD; returns their paths."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Throwaway Test Authority",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
            "-keyout", "ca.key", "-out", "ca.pem", cwd=directory)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Throwaway Code Signer",
            "-keyout", "signer.key", "-out", "signer.csr", cwd=directory)
    with open(os.path.join(directory, "signer.cnf"), "w") as extensions:
        extensions.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                         "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial", "7",
            "-days", "2", "-extfile", "signer.cnf", "-out", "signer.pem", cwd=directory)
    with open(os.path.join(directory, "password"), "w") as password:
        password.write(PASSWORD)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile", "ca.pem",
            "-passout", "file:password", "-out", "signer.p12", cwd=directory)
    os.remove(os.path.join(directory, "password"))
    return os.path.join(directory, "ca.pem"), os.path.join(directory, "signer.pem"), \
        os.path.join(directory, "signer.p12")


def package(output, pkcs12, password):
    """cpack with the key in the environment; returns (exit code, everything it printed)."""
    environment = dict(os.environ, TESSALINE_SIGNING_PKCS12=pkcs12, TESSALINE_SIGNING_PASSWORD=password)
    finished = subprocess.run(["cpack", "--config", os.path.join(BINARY_DIR, "CPackConfig.cmake"), "-B", output],
                              env=environment, capture_output=True, text=True, errors="replace", timeout=600)
    return finished.returncode, finished.stdout + finished.stderr


def read_zip(path):
    with zipfile.ZipFile(path) as archive:
        return {name[len(TOP):]: archive.read(name) for name in archive.namelist()
                if name.startswith(TOP) and not name.endswith("/")}


class SignedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="signed-package-")
        cls.authority, cls.signer, cls.pkcs12 = make_signing_key(cls.work.name)
        cls.zips, cls.outputs = [], []
        for run in ("first", "second"):
            output = os.path.join(cls.work.name, run)
            code, printed = package(output, cls.pkcs12, PASSWORD)
            assert code == 0, printed
            cls.outputs.append(printed)
            cls.zips.append(os.path.join(output, "TessalineIntegration-7.5.0-win64.zip"))
        cls.files = read_zip(cls.zips[0])

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_two_signed_builds_are_the_same_bytes(self):
        with open(self.zips[0], "rb") as first, open(self.zips[1], "rb") as second:
            self.assertEqual(hashlib.sha256(first.read()).hexdigest(), hashlib.sha256(second.read()).hexdigest())

    def test_signatures_verify_against_the_authority(self):
        for name in PROGRAMS:
            with self.subTest(name):
                path = os.path.join(self.work.name, name)
                with open(path, "wb") as program:
                    program.write(self.files[name])
                verified = subprocess.run(["osslsigncode", "verify", "-CAfile", self.authority, "-in", path],
                                          capture_output=True, text=True, timeout=60)
                self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
                self.assertIn("Signature verification: ok", verified.stdout)
                self.assertIn("CN=Throwaway Code Signer", verified.stdout)

    def test_records_what_was_signed_and_by_whom(self):
        fingerprint = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", self.signer],
                                     check=True, capture_output=True, text=True).stdout.split("=", 1)[1].strip()
        record = self.files["SIGNATURES.txt"].decode("utf-8")
        for expected in PROGRAMS + ["CN=Throwaway Code Signer", fingerprint]:
            self.assertIn(expected, record)
        sums = self.files["SHA256SUMS"].decode("ascii")
        self.assertIn(f"{hashlib.sha256(self.files['SIGNATURES.txt']).hexdigest()}  SIGNATURES.txt", sums)
        for name in PROGRAMS:
            self.assertIn(f"{hashlib.sha256(self.files[name]).hexdigest()}  {name}", sums)

    def test_password_shows_nowhere(self):
        for printed in self.outputs:
            self.assertNotIn(PASSWORD, printed)
        for name, data in self.files.items():
            self.assertNotIn(PASSWORD.encode(), data, name)

    def test_wrong_password_stops_the_package_without_showing_either(self):
        output = os.path.join(self.work.name, "wrong")
        code, printed = package(output, self.pkcs12, "not " + PASSWORD)
        self.assertNotEqual(code, 0)
        self.assertNotIn(PASSWORD, printed)
        self.assertRegex(printed, re.compile("could not sign", re.I))
        self.assertFalse(os.path.exists(os.path.join(output, "TessalineIntegration-7.5.0-win64.zip")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
