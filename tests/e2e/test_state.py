"""What the host keeps for itself: the self-signed certificate and its key,
in the user's own state directory, the key created afresh and never through
a name someone else has put there."""

import os
import pwd
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


def refusal(arguments):
    """Runs the host with the probe extension; returns its exit code and stderr."""
    finished = subprocess.run([PATHS.host, "--extension", PATHS.probe, "--listen", "127.0.0.1:0", *arguments],
                              env=environment_with(), capture_output=True, text=True, timeout=30)
    return finished.returncode, finished.stderr


class OwnersAndModes(unittest.TestCase):
    """The state directory and the key are used only when they are the user's
    alone, as ssh uses a key; other users are stood for by nobody, which
    needs the tests to run as root."""

    def test_a_key_or_directory_others_may_touch_is_refused(self):
        nobody = pwd.getpwnam("nobody").pw_uid
        with tempfile.TemporaryDirectory() as root:
            state = os.path.join(root, "state")
            code, stderr = run_until_listening(["--state-dir", state], environment_with(), root)
            self.assertEqual(code, 0, stderr)
            key, certificate = os.path.join(state, KEY), os.path.join(state, CERTIFICATE)
            with open(key, "rb") as made:
                key_text = made.read()
            made_pair = ["--state-dir", state]
            given_pair = ["--cert", certificate, "--key", key]
            own_key = "remove it, and the certificate beside it, to have a new pair made"
            cases = [
                # (name, path changed, mode or owner it is given, arguments, what stderr must hold)
                ("key readable by its group", key, 0o640, made_pair,
                 f"refusing the private key {key}: it is open to others (mode 0640); run chmod 600 {key}"),
                ("key readable by everyone", key, 0o644, made_pair, f"(mode 0644); run chmod 600 {key}"),
                ("given key readable by everyone", key, 0o604, given_pair, f"(mode 0604); run chmod 600 {key}"),
                ("key of another user", key, nobody, made_pair,
                 f"refusing the private key {key}: it belongs to nobody (uid {nobody}), not to root (uid 0) who "
                 f"runs the host; {own_key}"),
                ("given key of another user", key, nobody, given_pair, "; give a key of your own"),
                ("directory writable by its group", state, 0o770, made_pair,
                 f"refusing the state directory {state}: it may be written by others (mode 0770); "
                 f"run chmod go-w {state}"),
                ("directory writable by everyone", state, 0o1777, made_pair, f"(mode 1777); run chmod go-w {state}"),
                ("directory of another user", state, nobody, made_pair,
                 f"refusing the state directory {state}: it belongs to nobody (uid {nobody}), not to root (uid 0) "
                 "who runs the host; give --state-dir a directory of your own"),
            ]
            for name, path, mode_or_owner, arguments, message in cases:
                with self.subTest(name):
                    changes_owner = mode_or_owner == nobody
                    if changes_owner and os.geteuid() != 0:
                        self.skipTest("only root can give a file to another user")
                    before = os.stat(path)
                    if changes_owner:
                        os.chown(path, nobody, -1)
                    else:
                        os.chmod(path, mode_or_owner)
                    try:
                        code, stderr = refusal(arguments)
                    finally:
                        os.chown(path, before.st_uid, -1)
                        os.chmod(path, stat.S_IMODE(before.st_mode))
                    self.assertEqual(code, 1, stderr)
                    self.assertIn(message, stderr)
                    self.assertNotIn("listening on", stderr)
                    # Refused, not replaced.
                    self.assertEqual(sorted(os.listdir(state)), [CERTIFICATE, KEY])
                    with open(key, "rb") as kept:
                        self.assertEqual(kept.read(), key_text)
            # Put back as they were, the same files serve again.
            code, stderr = run_until_listening(made_pair, environment_with(), root)
            self.assertEqual(code, 0, stderr)


if __name__ == "__main__":
    devhost.main()
