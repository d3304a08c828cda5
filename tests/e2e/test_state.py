"""What the host keeps for itself: the self-signed certificate and its key,
in the user's own state directory, the key created afresh and never through
a name someone else has put there."""

import os
import stat
import subprocess
import tempfile
import unittest

import devhost
from devhost import PATHS

CERTIFICATE = "isapi-devhost-cert.pem"
KEY = "isapi-devhost-key.pem"


def run_until_listening(arguments, environment, cwd):
    """Starts the host with the probe extension, waits until it listens, stops it;
    returns its exit code and stderr."""
    command = [PATHS.host, "--extension", PATHS.probe, "--listen", "127.0.0.1:0", *arguments]
    with subprocess.Popen(command, env=environment, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, errors="replace") as host:
        lines = []
        for line in host.stderr:
            lines.append(line)
            if "listening on" in line:
                host.terminate()
        return host.wait(timeout=30), "".join(lines)


def environment_with(**variables):
    environment = {name: value for name, value in os.environ.items() if name not in ("XDG_STATE_HOME", "HOME")}
    environment.update({name: value for name, value in variables.items() if value is not None})
    return environment


class StateDirectory(unittest.TestCase):
    def test_default_is_the_users_state_directory_never_the_current_one(self):
        with tempfile.TemporaryDirectory() as root:
            home, xdg, cwd = (os.path.join(root, name) for name in ("home", "xdg", "cwd"))
            for directory in (home, cwd):
                os.mkdir(directory)
            cases = [
                # (name, XDG_STATE_HOME, where the files must appear)
                ("XDG_STATE_HOME", xdg, os.path.join(xdg, "isapi-devhost")),
                ("HOME without XDG_STATE_HOME", None, os.path.join(home, ".local", "state", "isapi-devhost")),
                ("a relative XDG_STATE_HOME is ignored", "relative/state",
                 os.path.join(home, ".local", "state", "isapi-devhost")),
            ]
            for name, xdg_state_home, expected in cases:
                with self.subTest(name):
                    code, stderr = run_until_listening([], environment_with(HOME=home, XDG_STATE_HOME=xdg_state_home),
                                                       cwd)
                    self.assertEqual(code, 0, stderr)
                    self.assertEqual(sorted(os.listdir(expected)), [CERTIFICATE, KEY])
                    self.assertEqual(stat.S_IMODE(os.stat(expected).st_mode), 0o700)
                    self.assertEqual(os.listdir(cwd), [])
                    subprocess.run(["rm", "-rf", os.path.join(home, ".local"), xdg], check=True)

    def test_without_any_home_the_host_asks_for_state_dir(self):
        with tempfile.TemporaryDirectory() as cwd:
            finished = subprocess.run([PATHS.host, "--extension", PATHS.probe, "--listen", "127.0.0.1:0"],
                                      env=environment_with(), cwd=cwd, capture_output=True, text=True, timeout=30)
            self.assertEqual(finished.returncode, 1)
            self.assertIn("give --state-dir", finished.stderr)
            self.assertEqual(os.listdir(cwd), [])


class KeyFile(unittest.TestCase):
    def test_key_is_owner_only_whatever_the_umask(self):
        with tempfile.TemporaryDirectory() as state:
            old_umask = os.umask(0)
            try:
                code, stderr = run_until_listening(["--state-dir", state], environment_with(), state)
            finally:
                os.umask(old_umask)
            self.assertEqual(code, 0, stderr)
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(state, KEY)).st_mode), 0o600)

    def test_a_name_already_at_the_key_path_is_neither_followed_nor_replaced(self):
        with tempfile.TemporaryDirectory() as root:
            state = os.path.join(root, "state")
            os.mkdir(state)
            target = os.path.join(root, "someone-elses-file")
            with open(target, "w") as planted:
                planted.write("not a key\n")
            os.chmod(target, 0o644)
            cases = [
                ("symbolic link to a file", target),
                ("dangling symbolic link", os.path.join(root, "nothing-here")),
            ]
            for name, link_target in cases:
                with self.subTest(name):
                    key_path = os.path.join(state, KEY)
                    os.symlink(link_target, key_path)
                    finished = subprocess.run([PATHS.host, "--extension", PATHS.probe, "--listen", "127.0.0.1:0",
                                               "--state-dir", state], env=environment_with(), capture_output=True,
                                              text=True, timeout=30)
                    self.assertEqual(finished.returncode, 1, finished.stderr)
                    self.assertIn(key_path, finished.stderr)
                    self.assertTrue(os.path.islink(key_path))
                    self.assertFalse(os.path.exists(os.path.join(root, "nothing-here")))
                    with open(target) as planted:
                        self.assertEqual(planted.read(), "not a key\n")
                    self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o644)
                    self.assertEqual(os.listdir(state), [KEY])
                    os.unlink(key_path)


if __name__ == "__main__":
    devhost.main()
