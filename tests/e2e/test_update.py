"""The self-update of an installed copy: a newer build is offered, downloaded, swapped in by the
installer script and relaunched from the same place; what is refused leaves everything as it was."""

import hashlib
import plistlib
import re
import shutil
import unittest
import zipfile

from harness import SERVICE_HOST, E2ETestCase, poll

ARCHIVE_PATH = "/updates/Nolar-28.zip"
PANEL_TITLE = "Обновление Нолара"


def bundleInfo(bundle):
    return plistlib.loads((bundle / "Contents" / "Info.plist").read_bytes())


class UpdateTest(E2ETestCase):
    """The build's bundle copied to "My Apps/Nolar.app" and launched from there, its window focused;
    build 28 of it zipped in `update` and published before the launch. (The other refusals, a wrong
    digest, a bundle that is a link, a manifest the build's key did not sign, are unit and platform
    tests: here they would take the same alerts.)"""

    @classmethod
    def startApp(cls):
        session = cls.session
        cls.bundle = shutil.copytree(session.build.bundle, session.root / "My Apps/Nolar.app", symlinks=True)
        cls.executable = cls.bundle / "Contents" / "Linux" / "nolar"
        # A copy that calls itself build 28, zipped with its top folder "Nolar.app/" (modes, the
        # executable bit among them, kept in each entry's external attributes).
        staged = shutil.copytree(session.build.bundle, session.root / "new/Nolar.app", symlinks=True)
        info = bundleInfo(staged)
        info.update(CFBundleVersion="28", CFBundleShortVersionString="1.5")
        (staged / "Contents" / "Info.plist").write_bytes(plistlib.dumps(info, sort_keys=False))
        cls.update = staged.parent / "Nolar-28.zip"
        with zipfile.ZipFile(cls.update, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for path in [staged, *sorted(staged.rglob("*"))]:
                z.write(path, path.relative_to(staged.parent))
        cls.publish(notes="Исправления.")
        app = session.launch(binary=cls.executable, wait_loaded=False)
        app.focus()  # the first automatic check offers at once only to an application in front
        app.wait_loaded()
        return app

    @classmethod
    def publish(cls, **manifest):
        cls.standin.call("publish", {"zip": str(cls.update), "build": 28, "versionName": "1.5", **manifest})

    def alert(self, what, gone=()):
        """The one visible alert attached to the main window (the progress panel stands alone), once
        it is not one of `gone` (answered alerts on their way out)."""
        app = self.app
        alerts = poll(lambda: [w for w in app.shown("DIALOG") if app.transient_for(w) == int(app.window())
                               and w not in gone], 30, what)
        self.assertEqual(len(alerts), 1, f"{what}: {alerts}")
        return alerts[0]

    def dismiss(self, wid, *keys):
        self.app.key(*keys, wid=wid)
        poll(lambda: wid not in self.app.shown("DIALOG"), 30, f"the alert to go after {keys}")

    def workFolders(self):
        return sorted(self.session.tmp_dir.glob("nolar-update-*"))

    def snapshot(self):
        """What an update would change: the installed build and executable, and the bundle's neighbours."""
        return (bundleInfo(self.bundle), hashlib.sha256(self.executable.read_bytes()).hexdigest(),
                sorted(p.name for p in self.bundle.parent.iterdir()))

    def test_refusals_change_nothing_and_an_accepted_offer_installs_and_relaunches(self):
        session, app, standin = self.session, self.app, self.standin
        started = r" start 1\.4 \(27\) at " + re.escape(str(self.bundle)) + "$"
        self.assertRegex(session.log_lines(app.marks.log)[0], started)
        before, folders, m = self.snapshot(), self.workFolders(), session.marks()
        # The automatic check shortly after start: the application is in front, so it offers at once.
        session.wait_for_log(r"update check: remote=28 min=0 mine=27 manual=false$", m.log)
        offer = self.alert("the update offer of the automatic check")
        self.assertEqual(session.records("notifications"), [], "offered, not announced")
        # "Позже" downloads nothing; the menu command runs a manual check.
        self.dismiss(offer, "Right", "Return")
        app.key("F10", "Down", "Down", "Return")
        session.wait_for_log(r"update check: remote=28 min=0 mine=27 manual=true$", m.log)
        self.dismiss(self.alert("the update offer from the menu", gone=(offer,)), "Tab", "Return")

        # Escape neither dismisses a critical offer nor quits: the Return after it still downloads.
        self.publish(minBuild=28, mode="404")
        standin.queue_js("KelMac.checkUpdate(true)")
        session.wait_for_log(r"update check: remote=28 min=28 mine=27 manual=true$", m.log)
        offer = self.alert("the critical update offer")
        # a download at one of the answers above would have been requested before this check's manifest
        self.assertEqual(standin.call("requests", path=ARCHIVE_PATH, since=m.req), [], "a download")
        app.key("Escape", "Return", wid=offer)
        self.assertEqual(standin.wait_request(ARCHIVE_PATH, m.req)["status"], 404)
        failure = self.alert('the alert "Не удалось скачать обновление"', gone=(offer,))
        self.assertNotIn(PANEL_TITLE, map(app.title, app.shown("DIALOG")))
        self.dismiss(failure, "Return")
        self.assertEqual((self.snapshot(), self.workFolders()), (before, folders), "a refusal changed files")
        self.assertTrue(app.running())

        self.publish()
        m = session.marks()
        standin.queue_js("KelMac.checkUpdate(true)")
        app.key("Return", wid=self.alert("the update offer", gone=(failure,)))
        self.assertEqual(standin.wait_request(ARCHIVE_PATH, m.req)["status"], 200)
        self.assertEqual(app.wait_exit(60), 0)
        # the installer relaunches the application; session.close() ends it (it has the session's HOME)
        new = standin.wait_report("loaded", m.rep, host=SERVICE_HOST)["value"]
        self.assertEqual((new["kelMacVersion"], new["kelMacBuild"]), ("1.5", 28))
        # the old build's lines, then the installer's, then the new build's from the same place
        order = r"build 28 staged, restarting$.*updated OK$.* start 1\.5 \(28\) at "
        order += re.escape(str(self.bundle))
        self.assertRegex("\n".join(session.log_lines(m.log)), re.compile(order + "$", re.M | re.S))
        info = bundleInfo(self.bundle)
        self.assertEqual((info["CFBundleVersion"], info["CFBundleShortVersionString"]), ("28", "1.5"))
        self.assertEqual([p.name for p in self.bundle.parent.iterdir()], ["Nolar.app"], "a backup left")
        # The installer removes the work folder last, after starting the new build.
        self.assertTrue(list(session.tmp_dir.glob("nolar-apply-update-*.sh")), "no installer in TMPDIR")
        poll(lambda: not self.workFolders(), 30, "the work folder to be removed")

if __name__ == "__main__":
    unittest.main()
