#!/usr/bin/env python3
"""Signs the staged programs with Authenticode, when a key is given.

    sign_programs.py STAGED_DIR EPOCH

The key and its certificate come as a PKCS#12 file named by
TESSALINE_SIGNING_PKCS12, its password in TESSALINE_SIGNING_PASSWORD. The
password reaches osslsigncode and openssl on their standard input, never on a
command line, and nothing here prints it. Without TESSALINE_SIGNING_PKCS12
nothing is signed and the package stays byte for byte what it was.

Each signature is SHA-256 with the signing time EPOCH and no timestamp
server, so that two builds of one commit with one key give the same bytes
(RSA signatures are deterministic; ECDSA ones are not). SIGNATURES.txt in the
package records what was signed and with which certificate.
"""
import os
import subprocess
import sys
from pathlib import Path

PROGRAMS = ["TessalineIntegration.dll", "tessaline-doctor.exe"]
RECORD = "SIGNATURES.txt"
DESCRIPTION = "Velmora Tessaline Integration"


def run_with_password(command, password):
    """Runs the command with the password as its standard input; returns its output."""
    finished = subprocess.run(command, input=password.encode() + b"\n", capture_output=True)
    if finished.returncode != 0:
        # The tools' own messages, which never hold the password.
        sys.stderr.write(finished.stderr.decode(errors="replace"))
        sys.exit(f"sign_programs.py: {command[0]} {command[1]} failed")
    return finished.stdout.decode()


def signer(pkcs12, password):
    """The signing certificate's subject and SHA-256 fingerprint."""
    pem = run_with_password(["openssl", "pkcs12", "-in", pkcs12, "-nokeys", "-clcerts", "-passin", "stdin"],
                            password)
    described = subprocess.run(["openssl", "x509", "-noout", "-subject", "-fingerprint", "-sha256",
                                "-nameopt", "RFC2253"], input=pem.encode(), capture_output=True, check=True)
    fields = dict(line.split("=", 1) for line in described.stdout.decode().splitlines())
    return fields["subject"].strip(), fields["sha256 Fingerprint"].strip()


def main():
    staged, epoch = Path(sys.argv[1]), sys.argv[2]
    pkcs12 = os.environ.get("TESSALINE_SIGNING_PKCS12")
    if not pkcs12:
        return
    password = os.environ.get("TESSALINE_SIGNING_PASSWORD")
    if password is None:
        sys.exit("sign_programs.py: TESSALINE_SIGNING_PKCS12 is set but TESSALINE_SIGNING_PASSWORD is not")
    for name in PROGRAMS:
        program = staged / name
        signed = staged / (name + ".signed")
        run_with_password(["osslsigncode", "sign", "-pkcs12", pkcs12, "-readpass", "/dev/stdin",
                           "-h", "sha256", "-n", DESCRIPTION, "-time", epoch,
                           "-in", str(program), "-out", str(signed)], password)
        signed.replace(program)
    subject, fingerprint = signer(pkcs12, password)
    lines = ["Authenticode signatures (SHA-256, without a timestamp) on:", ""]
    lines += [f"    {name}" for name in PROGRAMS]
    lines += ["", "made with the certificate", "", f"    subject:             {subject}",
              f"    SHA-256 fingerprint: {fingerprint}", ""]
    (staged / RECORD).write_text("\r\n".join(lines), encoding="utf-8", newline="")
    print(f"sign_programs.py: signed {', '.join(PROGRAMS)} as {subject}")


if __name__ == "__main__":
    main()
