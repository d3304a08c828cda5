"""Lints docs/openapi.yaml with Redocly's recommended rules, as docs/redocly.yaml
sets them: any problem fails.

Usage: lint_openapi.py DOCS_DIR WORK_DIR

The command-line tool is the version that DOCS_DIR/package-lock.json pins,
installed with `npm ci` into WORK_DIR (in the build tree), and again only when
the lock file changes. Without npm the lint is skipped (exit 77), saying so.
"""
import os
import shutil
import subprocess
import sys

SKIPPED = 77
LOCK = "package-lock.json"
# Where WORK_DIR keeps the lock file its node_modules were installed from.
INSTALLED_LOCK = os.path.join("node_modules", ".installed-" + LOCK)


def read(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


def install(docs, work):
    """npm ci into work, unless it already holds what the lock file pins."""
    lock = read(os.path.join(docs, LOCK))
    if read(os.path.join(work, INSTALLED_LOCK)) == lock:
        return
    os.makedirs(work, exist_ok=True)
    for name in ("package.json", LOCK):
        shutil.copyfile(os.path.join(docs, name), os.path.join(work, name))
    # No install scripts: the linter needs none, and none of the registry's code runs but the linter's.
    subprocess.run(["npm", "ci", "--ignore-scripts", "--no-audit", "--no-fund", "--loglevel=error"],
                   cwd=work, check=True, timeout=900)
    with open(os.path.join(work, INSTALLED_LOCK), "wb") as installed:
        installed.write(lock)


def main():
    docs, work = (os.path.abspath(path) for path in sys.argv[1:3])
    if shutil.which("npm") is None:
        print("SKIPPED: npm is not installed, so docs/openapi.yaml is not linted; "
              "scripts/install-packages.sh installs Debian's npm.")
        return SKIPPED
    install(docs, work)
    environment = dict(os.environ, NO_COLOR="1", REDOCLY_TELEMETRY="off",
                       REDOCLY_SUPPRESS_UPDATE_NOTICE="true")
    linted = subprocess.run([os.path.join(work, "node_modules", ".bin", "redocly"), "lint",
                             "--config", os.path.join(docs, "redocly.yaml"), "--format", "stylish",
                             os.path.join(docs, "openapi.yaml")],
                            env=environment, capture_output=True, text=True, timeout=300)
    output = linted.stdout + linted.stderr
    print(output)
    # Strict rules make every problem an error; a warning would still be one too many.
    if linted.returncode != 0 or " warning " in output:
        print("docs/openapi.yaml does not pass the lint")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
