"""The self-update on a real installed copy of the application: a newer build published on the
service is offered, downloaded, verified and swapped in by the installer script, which relaunches
the application from the same place; what it refuses leaves the installed build as it was, with the
application still running."""

import hashlib
import plistlib
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

from harness import E2ETestCase, poll

UPDATE_NAME = "Nolar-28.zip"
ARCHIVE_PATH = "/updates/" + UPDATE_NAME
MANIFEST_PATH = "/app/mac/version.json"
PANEL_TITLE = "Обновление Нолара"


def sha256Of(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def makeUpdate(bundle, folder, build, versionName):
    """A copy of `bundle` that calls itself `build`, zipped with its top folder "Nolar.app/" (modes,
    the executable bit among them, kept in each entry's external attributes)."""
    staged = folder / "Nolar.app"
    subprocess.run(["cp", "-a", str(bundle), str(staged)], check=True)
    plist = staged / "Contents" / "Info.plist"
    info = plistlib.loads(plist.read_bytes())
    info.update(CFBundleVersion=str(build), CFBundleShortVersionString=versionName)
    plist.write_bytes(plistlib.dumps(info, sort_keys=False))
    archive = folder / UPDATE_NAME
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for path in [staged, *sorted(staged.rglob("*"))]:
            z.write(path, path.relative_to(folder))
    shutil.rmtree(staged)
    return archive


def bundleInfo(bundle):
    return plistlib.loads((bundle / "Contents" / "Info.plist").read_bytes())


class InstalledAppTestCase(E2ETestCase):
    """The build's bundle copied to "<session>/My Apps/Nolar.app" and launched from there, its window
    focused (the application active); build 28 of it zipped in `update`."""

    launch_app = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            cls.installAndLaunch()
        except BaseException:
            sys.stderr.write(cls.session.diagnostics(f"{cls.__name__} set-up"))
            cls.session.close(keep=True)
            raise

    @classmethod
    def installAndLaunch(cls):
        session = cls.session
        cls.bundle = session.root / "My Apps" / "Nolar.app"
        cls.bundle.parent.mkdir()
        subprocess.run(["cp", "-a", str(session.build.bundle), str(cls.bundle)], check=True)
        cls.executable = cls.bundle / "Contents" / "Linux" / "nolar"
        folder = session.root / "published"
        folder.mkdir()
        cls.update = makeUpdate(session.build.bundle, folder, 28, "1.5")
        cls.beforeLaunch()
        cls.app = session.launch(binary=cls.executable, wait_loaded=False)
        # The first automatic check offers at once only to an application in front.
        cls.app.focus()
        cls.app.wait_loaded()
        cls.afterLaunch()

    @classmethod
    def beforeLaunch(cls):
        pass

    @classmethod
    def afterLaunch(cls):
        pass

    def setUp(self):
        self.standin = self.session.standin

    # --- the updater's windows ---------------------------------------------------------------------

    def alerts(self, app):
        """The visible alerts attached to the main window (the progress panel stands alone)."""
        main = int(app.window())
        return [w for w in app.windows(("DIALOG",)) if app.transient_for(w) == main and app.visible(w)]

    def waitAlert(self, app, what, gone=()):
        """The one alert on screen, once it is not one of `gone` (answered alerts on their way out)."""
        alerts = poll(lambda: [w for w in self.alerts(app) if w not in gone], 30, what)
        self.assertEqual(len(alerts), 1, f"{what}: {alerts}")
        return alerts[0]

    def dismiss(self, app, wid, *keys):
        app.key(*keys, wid=wid)
        poll(lambda: wid not in self.alerts(app), 30, f"the alert to go after {keys}")

    def panels(self, app):
        return [w for w in app.windows(("DIALOG",)) if app.visible(w) and app.title(w) == PANEL_TITLE]

    # --- what is on disk ------------------------------------------------------------------------------

    def workFolders(self):
        return sorted(self.session.tmp_dir.glob("nolar-update-*"))

    def snapshot(self):
        """What an update would change: the installed build and executable, and the bundle's neighbours."""
        return {"info": bundleInfo(self.bundle), "executable": sha256Of(self.executable),
                "neighbours": sorted(p.name for p in self.bundle.parent.iterdir())}


class UpdateRefusedTest(InstalledAppTestCase):
    """A missing archive and "Позже" leave the installed build as it was. (The other refusals, a wrong
    digest, a bundle that is a link, a manifest the build's key did not sign, are the unit and
    platform tests' business: here they would take the same alerts.)"""

    @classmethod
    def afterLaunch(cls):
        # Past the automatic check that follows the start, nothing but the tests' own checks runs.
        cls.session.wait_for_log(r"update check: remote=0 min=0 mine=27 manual=false$", since=cls.app.log_start)

    def test_missing_archive_and_later_leave_everything_as_it_was(self):
        session, app = self.session, self.app
        before, folders = self.snapshot(), self.workFolders()

        # Escape neither dismisses a critical offer nor quits: the Return after it still downloads.
        self.standin.publish(zip=str(self.update), build=28, versionName="1.5", minBuild=28, mode="404")
        requestSeq, _, lines = session.marks()
        self.standin.queue_js("KelMac.checkUpdate(true)")
        session.wait_for_log(r"update check: remote=28 min=28 mine=27 manual=true$", since=lines)
        offer = self.waitAlert(app, "the critical update offer")
        app.key("Escape", "Return", wid=offer)
        download = self.standin.wait_request(ARCHIVE_PATH, since=requestSeq)
        self.assertEqual(download["status"], 404)
        failure = self.waitAlert(app, 'the alert "Не удалось скачать обновление"', gone=(offer,))
        self.assertEqual(self.panels(app), [])
        self.dismiss(app, failure, "Return")
        self.assertEqual(self.workFolders(), folders, "a failed download leaves no work folder")

        # The menu command runs a manual check; "Позже" downloads nothing.
        self.standin.publish(zip=str(self.update), build=28, versionName="1.5")
        requestSeq, _, lines = session.marks()
        app.key("F10", "Down", "Down", "Return")
        session.wait_for_log(r"update check: remote=28 min=0 mine=27 manual=true$", since=lines)
        offer = self.waitAlert(app, "the update offer from the menu")
        answered = self.standin.seqs()[0]
        self.dismiss(app, offer, "Right", "Return")
        # A download would have been requested at the answer, so before the next check's manifest.
        self.standin.queue_js("KelMac.checkUpdate(true)")
        barrier = self.standin.wait_request(MANIFEST_PATH, since=answered)
        again = self.waitAlert(app, "the offer of the next check", gone=(offer,))
        archives = self.standin.requests(path=ARCHIVE_PATH, since=requestSeq)
        self.assertEqual([r for r in archives if r["seq"] < barrier["seq"]], [])
        self.dismiss(app, again, "Tab", "Return")

        self.assertEqual(self.standin.requests(path=ARCHIVE_PATH, since=requestSeq), [])
        self.assertEqual(self.workFolders(), folders)
        self.assertEqual(self.snapshot(), before)
        self.assertTrue(app.running())


class UpdateInstallTest(InstalledAppTestCase):
    @classmethod
    def beforeLaunch(cls):
        cls.session.standin.publish(zip=str(cls.update), build=28, versionName="1.5", notes="Исправления.")

    def test_offer_at_start_installs_the_new_build_and_relaunches_it(self):
        session, old = self.session, self.app
        bundlePath = str(self.bundle)
        self.assertRegex(old.log_lines()[0], r" start 1\.4 \(27\) at " + re.escape(bundlePath) + "$")

        # The automatic check shortly after start: the application is in front, so it offers at once.
        session.wait_for_log(r"update check: remote=28 min=0 mine=27 manual=false$", since=old.log_start)
        offer = self.waitAlert(old, "the update offer of the automatic check")
        self.assertEqual(session.records("notifications"), [], "offered, not announced")
        marks = session.marks()
        old.key("Return", wid=offer)

        download = self.standin.wait_request(ARCHIVE_PATH, since=marks[0])
        self.assertEqual(download["status"], 200)
        self.assertEqual(old.wait_exit(60), 0)
        new = session.adopt_relaunch(since=marks, timeout=60)

        lines = session.log_lines()[old.log_start:]
        staged = next(i for i, l in enumerate(lines) if l.endswith("update: build 28 staged, restarting"))
        updated = next(i for i, l in enumerate(lines) if l.endswith("updated OK"))
        started = next(i for i, l in enumerate(lines) if re.search(r" start 1\.5 \(28\) at (.*)$", l))
        self.assertLess(staged, updated, lines)
        self.assertLess(updated, started, lines)
        self.assertTrue(lines[started].endswith(" at " + bundlePath), lines[started])
        self.assertEqual((new.loaded["kelMacVersion"], new.loaded["kelMacBuild"]), ("1.5", 28))
        self.assertNotEqual(new.pid, old.pid)

        info = bundleInfo(self.bundle)
        self.assertEqual((info["CFBundleVersion"], info["CFBundleShortVersionString"]), ("28", "1.5"))
        self.assertEqual(sorted(p.name for p in self.bundle.parent.iterdir()), ["Nolar.app"], "no backup left")
        # The installer removes the work folder last, after starting the new build.
        self.assertTrue(list(session.tmp_dir.glob("nolar-apply-update-*.sh")), "the installer ran from this TMPDIR")
        poll(lambda: not self.workFolders(), 30, "the work folder to be removed")


if __name__ == "__main__":
    unittest.main()
