"""The demo script without a display: it shows the page, and nothing it started outlives it, whether
it returns by itself or is interrupted (Ctrl+C reaches its whole process group)."""

import os
import signal
import subprocess
import unittest
from pathlib import Path

from harness import SERVICE_HOST, SOURCE_DIR, Build, descendants, environOf, poll, reapOrphans


class RunScriptTest(unittest.TestCase):
    def start(self):
        build = Build()
        self.log = build.dir / "demo" / "home" / ".local" / "state" / "Nolar" / "nolar.log"
        self.logStart = len(self.log.read_text().splitlines()) if self.log.exists() else 0
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        # the build's own configuration, so that the script's build step has nothing to do
        argv = [str(SOURCE_DIR / "scripts" / "run"), str(build.dir), f"-DNOLAR_SERVICE_HOST={SERVICE_HOST}:{build.port}",
                f"-DNOLAR_TEST_CERT={build.cert}"]
        self.output = build.dir / "run-script.out"
        with open(self.output, "wb") as out:
            script = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                      start_new_session=True)
        self.addCleanup(self.interrupt, script)  # a failed test must not leave the demo running either
        return script

    @staticmethod
    def interrupt(script):
        if script.poll() is None:
            os.killpg(script.pid, signal.SIGINT)
            script.wait(120)

    def demoProcesses(self, name):
        found = []
        for pid in descendants():
            try:
                exe = os.path.basename(os.readlink(f"/proc/{pid}/exe"))
            except OSError:  # it ended meanwhile
                continue
            if exe == name and environOf(pid).get("HOME", "").endswith("/demo/home"):
                found.append(pid)
        return found

    def assertNothingLeft(self, script):
        try:
            status = script.wait(600)
        except subprocess.TimeoutExpired:
            os.killpg(script.pid, signal.SIGKILL)
            raise AssertionError("scripts/run did not end") from None
        reapOrphans()
        left = {}
        for pid in descendants():
            try:
                left[pid] = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ")[:120]
            except OSError:  # it ended meanwhile
                pass
        self.assertEqual(left, {}, f"left behind by scripts/run:\n{self.output.read_text(errors='replace')}")
        return status

    def test_returns_with_a_screenshot_and_leaves_nothing_behind(self):
        script = self.start()
        status = self.assertNothingLeft(script)
        output = self.output.read_text(errors="replace")
        self.assertEqual(status, 0, output)
        self.assertIn("screenshot: ", output)
        self.assertTrue(any("loaded: " in line for line in self.log.read_text().splitlines()[self.logStart:]),
                        f"the demo's page did not load:\n{output}")

    def test_ctrl_c_leaves_nothing_behind(self):
        script = self.start()
        poll(lambda: self.demoProcesses("nolar") and self.demoProcesses("dbus-daemon"), 600,
             "the demo's application and its session bus")
        os.killpg(script.pid, signal.SIGINT)
        self.assertNothingLeft(script)


if __name__ == "__main__":
    unittest.main()
