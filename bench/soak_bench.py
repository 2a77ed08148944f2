#!/usr/bin/python3
"""Soak: Nolar's memory and CPU while its page notifies, badges and churns its DOM every second.

One Nolar, launched as client_bench.py launches it, shows SoakPage.py's page from the stand-in;
its session bus activates tests/e2e/fake_peers.py, which counts the notifications and badge
updates (all but the newest notification are dismissed at every sample, as a user would). Window
shown for the first half of --minutes, hidden with Ctrl+W for the second. Every --interval s from
the first paint: PSS and anon PSS of the client's processes (all, per role) and their CPU time.
At the end: a summary against the 1.1x memory goal, a gnuplot PNG and (--write-results) RESULTS.md.

Usage: bench/soak_bench.py [--minutes 60] [--json FILE] [--write-results]
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from BenchStandin import BenchStandin  # noqa: E402
from client_bench import (TOP, Interrupted, Xvfb, byRole, certificate, enterPrivateNetwork,  # noqa: E402
                          hideWindow, onSignal, privateEnvironment)
from ProcessTree import ProcessTree, processTable, readFile  # noqa: E402
from ResultsFile import ResultsFile  # noqa: E402
import SoakPage  # noqa: E402

SERVICE = ("[D-BUS Service]\nName=org.freedesktop.Notifications\n"
           "Exec=/usr/bin/python3 %s --notifications %s --launcher-record %s\n")
BEGIN, END, SECTION = "<!-- soak_bench.py: generated begin -->", "<!-- soak_bench.py: generated end -->", "## Soak"
GOAL, DISMISSED = 1.1, 2  # end/first-minute memory; NotificationClosed's "dismissed by the user"


def readRecords(path):
    """The complete lines of a JSON-lines record of the notification server."""
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.endswith("\n")]
    except FileNotFoundError:
        return []


def clientBus(tree):
    """A connection to the client's own session bus."""
    root = tree.clientRoot(processTable())
    environ = (readFile("/proc/%d/environ" % root, "rb") or b"").split(b"\0") if root else []
    address = next((e[25:].decode() for e in environ if e.startswith(b"DBUS_SESSION_BUS_ADDRESS=")), None)
    if not address:
        raise RuntimeError("the client's session bus address is not in its environment")
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


def dismiss(bus, ids):
    """Has the notification server tell the app that the user closed these notifications."""
    for nid in ids:
        try:
            bus.call_sync("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                          "org.nolar.Test.Notifications", "EmitNotificationClosed",
                          GLib.Variant("(uu)", (nid, DISMISSED)), None, Gio.DBusCallFlags.NONE, 5000, None)
        except GLib.Error as failure:  # one lost dismissal does not end an hour's run
            print("could not dismiss notification %d: %s" % (nid, failure.message), flush=True)


def soak(args, display, standin, profile, run):
    """Fills run["samples"] as they come, so that an interruption keeps them."""
    env = privateEnvironment(profile, display, os.path.basename(profile))
    notes, badges = os.path.join(profile, "notifications.jsonl"), os.path.join(profile, "launcher.jsonl")
    services = os.path.join(env["XDG_DATA_HOME"], "dbus-1", "services")
    os.makedirs(services)
    with open(os.path.join(services, "org.freedesktop.Notifications.service"), "w") as f:
        f.write(SERVICE % (os.path.join(TOP, "tests/e2e/fake_peers.py"), notes, badges))
    since = standin.lastReportSeq()
    log = open(os.path.join(profile, "client.log"), "wb")
    launcher = subprocess.Popen(["dbus-run-session", "--", args.nolar], env=env, stdin=subprocess.DEVNULL,
                                stdout=log, stderr=log, start_new_session=True)
    tree, bus = ProcessTree(launcher.pid, os.path.basename(profile)), None
    try:
        rendered = standin.waitReport("rendered", since, args.timeout)
        if rendered is None:
            raise RuntimeError("no 'rendered' report within %d s (client log: %s)" % (args.timeout, log.name))
        start, length, cpu, seq, dismissed, page = rendered["time"], args.minutes * 60, tree.cpuTicks(), since, 0, None
        bus = clientBus(tree)
        for step in range(1, int(length // args.interval) + 1):
            at = step * args.interval
            time.sleep(max(0.0, start + at - time.time()))
            memory = tree.memory()
            if not memory:
                raise RuntimeError("the client's processes are gone after %g s (client log: %s)" % (at, log.name))
            used, cpu = byRole(tree.cpuSince(cpu), "cpu"), tree.cpuTicks()
            shown = readRecords(notes)
            dismiss(bus, [n["id"] for n in shown[dismissed:-1]])
            dismissed = max(dismissed, len(shown) - 1)
            reports = standin.call("GET", "reports", {"kind": "soak", "since": seq})
            if reports:
                seq, page = reports[-1]["seq"], reports[-1]["value"]
            sample = {"t": at, "phase": "shown" if at <= length / 2 else "hidden", "pss": byRole(memory, "pss"),
                      "anon": byRole(memory, "anon"), "cpu_s": used, "cpu_pct": 100 * used["all"] / args.interval,
                      "notifications": len(shown), "badges": len(readRecords(badges)), "page": page}
            run["samples"].append(sample)
            print(sampleLine(sample), flush=True)
            if "switch" not in run and at >= length / 2:
                run["switch"] = sample
                run["still_shown"] = hideWindow("nolar", display, tree)
                print("window hidden%s" % (" — STILL SHOWN: %s" % run["still_shown"] if run["still_shown"] else ""),
                      flush=True)
    finally:
        if bus:
            bus.close_sync(None)
        run["leftover"] = tree.terminate()
        launcher.wait(10)
        log.close()


def mib(kb):
    return kb / 1024


def clock(seconds):
    return "%d:%02d" % (seconds // 60, seconds % 60)


def sampleLine(s):
    page, roles = s["page"] or {}, " ".join("%s %.1f" % (r, mib(v)) for r, v in sorted(s["pss"].items()) if r != "all")
    return ("%6s %-6s PSS %6.1f MiB (%s)  anon %6.1f MiB  CPU %5.1f %%  notifications %5d  badges %5d  page tick %s"
            % (clock(s["t"]), s["phase"], mib(s["pss"]["all"]), roles, mib(s["anon"]["all"]), s["cpu_pct"],
               s["notifications"], s["badges"], page.get("tick", "-")))


def summaryLines(args, run, load):
    samples = run["samples"]
    first = next((s for s in samples if s["t"] >= 60), None)
    switch, last = run.get("switch"), samples[-1]
    roles = sorted({r for s in samples for r in s["pss"] if r != "all"})
    lines = ["Generated %s on %s (%d CPUs, 1-min load average %.2f at start): Nolar on SoakPage.py's page for %g "
             "min, window shown for the first half and hidden (Ctrl+W) for the second; %d samples, one every %g s."
             % (time.strftime("%Y-%m-%d %H:%M"), os.uname().nodename, os.cpu_count(), load, args.minutes,
                len(samples), args.interval), "",
             "| Memory (MiB) | at | PSS | anon PSS | " + " | ".join("%s PSS / anon" % r for r in roles) + " |",
             "|---" * (4 + len(roles)) + "|"]
    for label, s in (("after the first minute", first), ("at the switch to hidden", switch), ("at the end", last)):
        if s:
            lines.append("| %s | %s | %.1f | %.1f | %s |" % (
                label, clock(s["t"]), mib(s["pss"]["all"]), mib(s["anon"]["all"]),
                " | ".join("%.1f / %.1f" % (mib(s["pss"].get(r, 0)), mib(s["anon"].get(r, 0))) for r in roles)))
    if first and last is not first:
        def ratio(key, role="all"):
            return last[key].get(role, 0) / max(1, first[key].get(role, 0))
        lines.append("| end / first minute | | %.3f× | %.3f× | %s |" % (ratio("pss"), ratio("anon"), " | ".join(
            "%.2f× / %.2f×" % (ratio("pss", r), ratio("anon", r)) for r in roles)))
        verdicts = ["%s %.3f× — %s" % (name, ratio(key), "met" if ratio(key) <= GOAL else "NOT met")
                    for key, name in (("anon", "anon PSS"), ("pss", "PSS"))]
        lines += ["", "**Goal, memory at the end ≤ %.1f× memory after the first minute: %s.**" % (
            GOAL, "; ".join(verdicts))]
    cpu = {p: [s["cpu_pct"] for s in samples if s["phase"] == p] for p in ("shown", "hidden")}
    page = last["page"] or {}
    atSwitch = switch["notifications"] if switch else last["notifications"]
    lines += ["", "CPU of the client's processes, median of the %g s samples (%% of one core): shown %s, hidden %s." % (
        args.interval, *("%.1f %%" % statistics.median(v) if v else "—" for v in cpu.values())),
        "", "The page kept working: the notification server got %d notifications (%d shown, %d hidden) and %d badge "
        "updates; the page's last report: tick %s, %s bubbles, %s DOM elements, %s, permission %s%s." % (
            last["notifications"], atSwitch, last["notifications"] - atSwitch, last["badges"], page.get("tick", "-"),
            page.get("bubbles", "-"), page.get("nodes", "-"), page.get("visibility", "-"), page.get("permission", "-"),
            "; the window did NOT hide: %s" % run["still_shown"] if run.get("still_shown") else "")]
    return lines


def plot(args, run, scratch):
    data = os.path.join(scratch, "soak.dat")
    with open(data, "w") as f:
        for s in run["samples"]:
            f.write("%.3f %.2f %.2f %.2f\n" % (s["t"] / 60, mib(s["pss"]["all"]), mib(s["anon"]["all"]), s["cpu_pct"]))
    half = args.minutes / 2
    script = "\n".join([
        "set terminal pngcairo size 900,480 font 'sans,10'", "set output '%s'" % args.plot,
        "set title 'Nolar soak: %g min, page notifying, badging and editing its DOM every second'" % args.minutes,
        "set xlabel 'minutes'", "set ylabel 'MiB'", "set y2label 'CPU %% of one core (per %g s)'" % args.interval,
        "set ytics nomirror", "set y2tics", "set yrange [0:*]", "set y2range [0:*]", "set grid", "set key bottom right",
        "set arrow from %g, graph 0 to %g, graph 1 nohead dashtype 2" % (half, half),
        "set label 'window hidden' at %g, graph 0.96 offset 0.5,0" % half,
        "plot '%s' using 1:2 with lines lw 2 title 'PSS', '' using 1:3 with lines lw 2 title 'anon PSS', "
        "'' using 1:4 axes x1y2 with lines title 'CPU %%'" % data, ""])
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def writeResults(args, lines):
    text = open(args.results).read() if os.path.exists(args.results) else "# Benchmark results\n"
    if BEGIN not in text:
        text = text.rstrip("\n") + "\n\n%s\n\n%s\n%s\n" % (SECTION, BEGIN, END)
    link = os.path.relpath(args.plot, os.path.dirname(os.path.abspath(args.results)))
    command = "`/usr/bin/python3 bench/soak_bench.py --minutes %g --write-results`" % args.minutes
    block = "\n".join([BEGIN] + lines + ["", "![soak](%s)" % link, "", "Command: " + command, END])
    partial = args.results + ".partial"
    with open(partial, "w") as f:
        f.write(ResultsFile.replaceBlock(text, block, BEGIN, END))
    os.replace(partial, args.results)


def parseArgs():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--minutes", type=float, default=60, help="length; the window is hidden at half of it")
    parser.add_argument("--interval", type=float, default=10, help="seconds between samples")
    parser.add_argument("--build", default="/work/build-bench", help="Nolar build folder (scripts/build DIR)")
    parser.add_argument("--nolar", help="the nolar binary (default: BUILD/Nolar.app/Contents/Linux/nolar)")
    parser.add_argument("--timeout", type=int, default=60, help="seconds to wait for the page's first paint")
    parser.add_argument("--json", help="write every sample to this file")
    parser.add_argument("--plot", default=os.path.join(TOP, "bench/soak.png"), help="the PNG to write")
    parser.add_argument("--write-results", action="store_true", help="update the soak block of --results")
    parser.add_argument("--results", default=os.path.join(TOP, "bench/RESULTS.md"))
    parser.add_argument("--shared-network", action="store_true",
                        help="stay in the machine's network namespace (default: a private one)")
    args = parser.parse_args()
    args.nolar = args.nolar or os.path.join(args.build, "Nolar.app/Contents/Linux/nolar")
    args.plot, args.results = os.path.abspath(args.plot), os.path.abspath(args.results)
    if args.minutes * 60 < 2 * max(60, args.interval):
        parser.error("--minutes must leave a first minute in each half")
    return args


def main():
    args = parseArgs()
    enterPrivateNetwork(args)
    if not os.access(args.nolar, os.X_OK):
        raise SystemExit("no Nolar binary at %s: build it with scripts/build %s" % (args.nolar, args.build))
    ProcessTree.becomeSubreaper()
    os.nice(-10 if os.geteuid() == 0 else 0)  # as client_bench.py: concurrent builds disturb it less
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, onSignal)
    scratch = tempfile.mkdtemp(prefix="soak-bench-")
    xvfb = standin = stopped = None
    run, load = {"samples": []}, os.getloadavg()[0]
    try:
        cert, key = certificate(args, scratch)
        xvfb = Xvfb()
        SoakPage.write(os.path.join(scratch, "page"))
        standin = BenchStandin(os.path.join(TOP, "tools/standin/server.py"), cert, key, os.path.join(scratch, "page"))
        print("Xvfb on %s, 1-min load average %.2f, %g min, window hidden after %g min" % (
            xvfb.display, load, args.minutes, args.minutes / 2), flush=True)
        soak(args, xvfb.display, standin, os.path.join(scratch, "profile"), run)
    except (Interrupted, KeyboardInterrupt, RuntimeError) as stop:
        stopped = "%s: %s" % ("FAILED" if isinstance(stop, RuntimeError) else "INTERRUPTED", str(stop) or "SIGINT")
    finally:
        for part in (standin, xvfb):
            if part:
                part.stop()
        ProcessTree.reapOrphans()
        if args.json:
            with open(args.json, "w") as f:
                json.dump({"run": run, "stopped": stopped, "loadavg_at_start": load}, f, indent=1)
        if run["samples"]:
            lines = summaryLines(args, run, load)
            plot(args, run, scratch)
            print("\n".join(lines) + "\nplot: %s" % args.plot, flush=True)
            if args.write_results and not stopped:
                writeResults(args, lines)
        if stopped:
            print("kept %s" % scratch)  # the client's log is in profile/
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    if stopped:
        raise SystemExit("soak " + stopped)


if __name__ == "__main__":
    main()
