#!/usr/bin/python3
"""Start-up time, memory and CPU of Nolar against its peers showing the same page.

Every client runs on the same Xvfb display (1400x900x24, software rendering) under its own private
session bus and private HOME/XDG folders, and shows https://127.0.0.1:47443/messenger/ of the local
stand-in: its own light page, or with --page heavy one built like a real messenger (HeavyPage.py).
Per run:

  first render  launch (just before the client is spawned) -> arrival at the stand-in of the
                page's "rendered" report, sent after the first paint that shows its content;
                both ends are stamped with this machine's wall clock.
  memory        Pss and Pss_Anon summed over the client's process tree (ProcessTree.py says what
                belongs to it) --settle seconds after first render, window shown, also per role.
  CPU           utime+stime over the tree during the --after-load seconds from first render,
                window shown; and during --idle seconds starting 2 s after the window was hidden
                (Nolar: Ctrl+W, its own close-to-hide; the peers: what a window manager does on
                minimise, _NET_WM_STATE_HIDDEN then unmap). The stand-in counts the page's timer
                polls while hidden, and the page's document.visibilityState is read afterwards
                through its command hook, to show the hide took effect.

Runs as root: in a network namespace of its own (the stand-in's fixed port stays free for test
runs), at nice -10, reading the clients' page maps.

Usage: bench/client_bench.py [--page light|heavy] [--runs 7] [--clients nolar,minibrowser,chromium] [--write-results]
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

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from BenchStandin import BenchStandin  # noqa: E402
import HeavyPage  # noqa: E402
from ProcessTree import ProcessTree  # noqa: E402
from ResultsFile import ResultsFile  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE = "https://127.0.0.1:47443/messenger/"
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
# The WebKitSettings the app applies to its view, as MiniBrowser options: the
# "minibrowser-nolar-settings" client tells whether those settings explain a difference.
NOLAR_SETTINGS = ["--javascript-can-open-windows-automatically=true", "--enable-fullscreen=true",
                  "--media-playback-requires-user-gesture=false", "--enable-media-stream=true",
                  "--enable-webrtc=true", "--enable-developer-extras=true"]
CHROMIUM_FLAGS = ["--no-first-run", "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--no-sandbox", "--disable-gpu", "--ignore-certificate-errors"]
NETNS_FLAG = "NOLAR_CLIENT_BENCH_NETNS"
LABELS = {"nolar": "Nolar", "nolar-before": "Nolar before", "minibrowser": "MiniBrowser", "chromium": "Chromium --app",
          "minibrowser-nolar-settings": "MiniBrowser + Nolar's settings"}


def clientCommand(name, args, profile):
    if name == "nolar":
        return [args.nolar]
    if name == "nolar-before":
        return [args.nolar_before]
    if name == "minibrowser":
        return [MINIBROWSER, "--ignore-tls-errors", PAGE]
    if name == "minibrowser-nolar-settings":
        return [MINIBROWSER, "--ignore-tls-errors"] + NOLAR_SETTINGS + [PAGE]
    if name == "chromium":
        return ["chromium", "--app=" + PAGE, "--user-data-dir=" + os.path.join(profile, "chromium")] \
            + CHROMIUM_FLAGS
    raise SystemExit("unknown client " + name)


def privateEnvironment(profile, display, marker):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("XDG_", "DBUS_", "WAYLAND", "GDK_", "GTK_"))}
    folders = {"HOME": "home", "XDG_CONFIG_HOME": "config", "XDG_DATA_HOME": "data",
               "XDG_CACHE_HOME": "cache", "XDG_STATE_HOME": "state", "XDG_RUNTIME_DIR": "runtime"}
    for key, sub in folders.items():
        env[key] = os.path.join(profile, sub)
        os.makedirs(env[key], mode=0o700, exist_ok=True)
    env["DISPLAY"] = display
    env.pop(NETNS_FLAG, None)
    env[ProcessTree.MARKER] = marker
    return env


class Xvfb:
    def __init__(self):
        # Not Xvfb's own pick (-displayfd alone): it trusts lock files, and a display whose socket
        # exists without one belongs to someone else all the same.
        for number in range(90, 200):
            if not any(os.path.exists(p % number) for p in ("/tmp/.X%d-lock", "/tmp/.X11-unix/X%d")):
                self.display = self.start(number)
                if self.display:
                    return
        raise SystemExit("Xvfb did not start")

    def start(self, number):
        readEnd, writeEnd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", ":%d" % number, "-displayfd", str(writeEnd), "-screen", "0", "1400x900x24",
             "-nolisten", "tcp"],
            pass_fds=(writeEnd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(writeEnd)
        with os.fdopen(readEnd) as pipe:
            ready = pipe.readline().strip()
        if ready:
            return ":" + ready
        self.stop()
        return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


def xdotool(display, *argv):
    result = subprocess.run(["xdotool"] + list(argv), env=dict(os.environ, DISPLAY=display),
                            capture_output=True, text=True, timeout=20)
    return result.stdout.split()


def visibleWindows(display, pids):
    found = []
    for pid in sorted(pids):
        found += [w for w in xdotool(display, "search", "--onlyvisible", "--pid", str(pid)) if w not in found]
    return found


def probeDisplay(display):
    started = time.monotonic()
    try:
        answer = " ".join(xdotool(display, "getdisplaygeometry"))
    except subprocess.TimeoutExpired:
        answer = "no answer"
    return "%s in %.2f s" % (answer or "refused", time.monotonic() - started)


def windowSizes(display, pids):
    sizes = []
    for window in visibleWindows(display, pids):
        lines = xdotool(display, "getwindowgeometry", window)
        if "Geometry:" in lines:
            sizes.append(lines[lines.index("Geometry:") + 1])
    return sizes


def hideWindow(name, display, tree):
    """Hides the client's window the way its user would; returns the windows still shown."""
    shown = visibleWindows(display, tree.clientPids())
    if name == "nolar":
        for window in shown:
            xdotool(display, "windowactivate", "--sync", window)
            xdotool(display, "windowfocus", "--sync", window)
            xdotool(display, "key", "--window", "0", "--clearmodifiers", "ctrl+w")
            break
    else:
        # There is no window manager to ask for a minimise, so do what one does on iconify: flag
        # the window hidden (Chromium takes its page's visibility from that flag) and unmap it.
        for window in shown:
            subprocess.run(["xprop", "-id", window, "-f", "_NET_WM_STATE", "32a", "-set", "_NET_WM_STATE",
                            "_NET_WM_STATE_HIDDEN"], env=dict(os.environ, DISPLAY=display), timeout=20)
            xdotool(display, "windowunmap", "--sync", window)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        left = visibleWindows(display, tree.clientPids())
        if not left:
            return []
        time.sleep(0.2)
    return left


def byRole(processes, key):
    """{role: sum of `key`} over a {"comm pid": {...}} table, and the total under "all"."""
    out = {}
    for entry in processes.values():
        if entry.get(key) is not None:
            out[entry["role"]] = out.get(entry["role"], 0) + entry[key]
    out["all"] = sum(v for k, v in out.items())
    return out


def runOnce(name, args, display, standin):
    profile = tempfile.mkdtemp(prefix="bench-%s-" % name)
    marker = os.path.basename(profile)
    env = privateEnvironment(profile, display, marker)
    standin.call("POST", "reset")
    since = standin.lastReportSeq()
    log = open(os.path.join(profile, "client.log"), "wb")
    started = time.time()
    launcher = subprocess.Popen(["dbus-run-session", "--"] + clientCommand(name, args, profile), env=env,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    tree = ProcessTree(launcher.pid, marker)
    result = {"client": name}
    try:
        rendered = standin.waitReport("rendered", since, args.timeout)
        if rendered is None:
            requests = standin.call("GET", "requests", {"nohooks": 1})
            raise RuntimeError("no 'rendered' report within %d s; processes: %s; requests: %s; X server: %s" % (
                args.timeout, " ".join(sorted(tree.memory())) or "none",
                " ".join("%s %s" % (r["path"], r["status"]) for r in requests) or "none", probeDisplay(display)))
        cpuAtLoad = tree.cpuTicks()
        result["startup_s"] = rendered["time"] - started
        time.sleep(max(0.0, rendered["time"] + args.settle - time.time()))
        result["memory"] = tree.memory()
        result["helper_memory"] = tree.memory(helpers=True)
        time.sleep(max(0.0, rendered["time"] + args.after_load - time.time()))
        result["cpu_load"] = tree.cpuSince(cpuAtLoad)
        result["window"] = windowSizes(display, tree.clientPids())
        result["still_shown"] = hideWindow(name, display, tree)
        time.sleep(2)
        polled = standin.lastRequestSeq()
        cpuAtHide = tree.cpuTicks()
        time.sleep(args.idle)
        result["cpu_hidden"] = tree.cpuSince(cpuAtHide)
        result["polls_per_s"] = standin.pollsSince(polled) / args.idle
        result["visibility"] = standin.askVisibility(since, 15)
        result.update(figures(result))
    except Exception as error:  # a failed run is reported and kept for a look, the others go on
        result["error"] = "%s (profile kept: %s)" % (error, profile)
    finally:
        result["leftover"] = tree.terminate()
        launcher.wait(10)
        log.close()
        if not args.keep_profiles and "error" not in result:
            shutil.rmtree(profile, ignore_errors=True)
    return result


def figures(result):
    """The run's headline figures, in all and per role: {"anon": {"all": kB, "web": kB, ...}, ...}."""
    return {"anon": byRole(result["memory"], "anon"), "pss": byRole(result["memory"], "pss"),
            "cpu_load_s": byRole(result["cpu_load"], "cpu"), "cpu_hidden_s": byRole(result["cpu_hidden"], "cpu"),
            "helper_pss": byRole(result["helper_memory"], "pss")}


METRICS = (  # key, column title, scale, digits
    ("startup_s", "start → first render (s)", 1, 3),
    ("anon", "anon PSS (MiB)", 1024, 1),
    ("pss", "total PSS (MiB)", 1024, 1),
    ("cpu_load_s", "CPU in the %(after)g s after load (s)", 1, 2),
    ("cpu_hidden_s", "CPU hidden, %(idle)g s (s)", 1, 2),
    ("polls_per_s", "page timer polls/s hidden", 1, 1),
    ("helper_pss", "bus services PSS (MiB)", 1024, 1),
)
RATIOS = ("startup_s", "anon", "pss", "cpu_load_s", "cpu_hidden_s")
ROLE_METRICS = ("anon", "pss", "cpu_load_s", "cpu_hidden_s")


def value(run, key, part="all"):
    figure = run.get(key)
    return figure.get(part) if isinstance(figure, dict) else figure


def summarise(results):
    summary = {}
    for name, runs in results.items():
        entry = {"runs": len(runs)}
        for key, _, _, _ in METRICS:
            values = [value(r, key) for r in runs if value(r, key) is not None]
            entry[key] = (statistics.median(values), min(values), max(values), len(values)) if values else None
        roles = sorted({part for r in runs for key in ROLE_METRICS for part in r.get(key, {}) if part != "all"})
        entry["roles"] = {part: {key: statistics.median([value(r, key, part) or 0 for r in runs]) for key in ROLE_METRICS}
                          for part in roles}
        entry["window"] = sorted({" ".join(r.get("window") or ["-"]) for r in runs})
        entry["visibility"] = sorted({str(r.get("visibility")) for r in runs})
        summary[name] = entry
    return summary


def cell(figures, scale, digits, runs):
    if figures is None:
        return "—"
    median, low, high = (v / scale for v in figures[:3])
    text = "%.*f (%.*f–%.*f)" % (digits, median, digits, low, digits, high)
    return text if figures[3] == runs else "%s, %d runs" % (text, figures[3])


def reportLines(summary, args):
    names = {"after": args.after_load, "idle": args.idle}
    titles = [title % names for _, title, _, _ in METRICS]
    lines = ["| Client | runs | " + " | ".join(titles) + " | window | page while hidden |",
             "|---" * (len(METRICS) + 4) + "|"]
    for name, s in summary.items():
        cells = [cell(s[key], scale, digits, s["runs"]) for key, _, scale, digits in METRICS]
        lines.append("| %s | %d | %s | %s | %s |" % (LABELS.get(name, name), s["runs"], " | ".join(cells),
                                                   ", ".join(s["window"]), ", ".join(s["visibility"])))
    lines += ["", "Medians, with the lowest and highest run in brackets."]
    nolar = summary.get("nolar")
    peers = [p for p in summary if p != "nolar"]
    if nolar and peers:
        lines += ["", "| Ratio of medians | " + " | ".join(t for (k, t, _, _), t in zip(METRICS, titles)
                                                      if k in RATIOS) + " |",
                  "|---" * (len(RATIOS) + 1) + "|"]
        for peer in peers:
            cells = []
            for key in RATIOS:
                a, b = nolar[key], summary[peer][key]
                cells.append("%.2fx" % (a[0] / b[0]) if a and b and b[0] else "—")
            lines.append("| Nolar / %s | %s |" % (LABELS.get(peer, peer), " | ".join(cells)))
    lines += ["", "Per process (medians of each role's sum; MiB and CPU seconds):", "",
              "| Client | process | " + " | ".join(t for (k, t, _, _), t in zip(METRICS, titles) if k in ROLE_METRICS)
              + " |", "|---" * (len(ROLE_METRICS) + 2) + "|"]
    for name, s in summary.items():
        for part, row in s["roles"].items():
            lines.append("| %s | %s | %.1f | %.1f | %.2f | %.2f |" % (
                LABELS.get(name, name), part, row["anon"] / 1024, row["pss"] / 1024, row["cpu_load_s"],
                row["cpu_hidden_s"]))
    return lines


def parseArgs():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="/work/build-bench", help="Nolar build folder (scripts/build DIR)")
    parser.add_argument("--nolar", help="the nolar binary (default: BUILD/Nolar.app/Contents/Linux/nolar)")
    parser.add_argument("--nolar-before", help="an earlier nolar binary: the client \"nolar-before\"")
    parser.add_argument("--clients", default="nolar,minibrowser,chromium",
                        help="comma list of nolar, nolar-before, minibrowser, chromium, minibrowser-nolar-settings")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--warmup", type=int, default=1, help="unrecorded runs per client first")
    parser.add_argument("--page", choices=("light", "heavy"), default="light",
                        help="the stand-in's own /messenger/ page, or one built like a real messenger (HeavyPage.py)")
    parser.add_argument("--settle", type=float, default=3.0, help="seconds from first render to the memory sample")
    parser.add_argument("--after-load", type=float, default=20.0, help="CPU window from first render, in seconds")
    parser.add_argument("--idle", type=float, default=20.0, help="CPU window while hidden, in seconds")
    parser.add_argument("--timeout", type=int, default=60, help="seconds to wait for the page to load")
    parser.add_argument("--retries", type=int, default=1, help="new attempts after a run that failed")
    parser.add_argument("--json", help="write every run's figures to this file")
    parser.add_argument("--write-results", action="store_true", help="update bench/RESULTS.md")
    parser.add_argument("--block", help="name of the RESULTS.md block to write (default: \"<page> page\")")
    parser.add_argument("--keep-profiles", action="store_true")
    parser.add_argument("--shared-network", action="store_true",
                        help="stay in the machine's network namespace (default: a private one)")
    args = parser.parse_args()
    args.nolar = args.nolar or os.path.join(args.build, "Nolar.app/Contents/Linux/nolar")
    args.block = args.block or "%s page" % args.page
    args.clients = [c.strip() for c in args.clients.split(",") if c.strip()]
    return args


def enterPrivateNetwork(args):
    """Re-runs this script in a network namespace of its own with only loopback up.

    The stand-in has to listen on 127.0.0.1:47443 (the host the app is built for), which test runs
    on this machine use too; a private namespace keeps either from taking the port from the other.
    """
    if args.shared_network or os.geteuid() != 0:
        return
    if os.environ.get(NETNS_FLAG) == str(os.getpid()):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    env = dict(os.environ)
    env[NETNS_FLAG] = str(os.getpid())  # unshare execs in place: the pid stays the same
    os.execvpe("unshare", ["unshare", "--net", "--", "/usr/bin/python3", os.path.abspath(sys.argv[0])]
               + sys.argv[1:], env)


def certificate(args, scratch):
    folder = os.path.join(args.build, "test-cert")
    if not os.path.isfile(os.path.join(folder, "cert.pem")):
        folder = os.path.join(scratch, "cert")
    subprocess.run([os.path.join(TOP, "tools/standin/make-cert.sh"), folder], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")


class Interrupted(BaseException):
    """A signal to stop; not an Exception, so that no failed-run handler swallows it."""


def onSignal(number, _frame):
    raise Interrupted(signal.Signals(number).name)


def runAll(args, display, standin, results, failures):
    """Fills results (client -> runs) and failures as runs finish, so an interruption keeps them."""
    for name in args.clients:
        for _ in range(args.warmup):
            outcome = runOnce(name, args, display, standin).get("error", "done")
            print("warm-up %s: %s" % (name, outcome), flush=True)
    # Interleaved, so that a drift in the machine's load spreads over every client alike.
    for index in range(args.runs):
        for name in args.clients:
            for _ in range(1 + args.retries):
                result = runOnce(name, args, display, standin)
                if "error" not in result:
                    break
                print("run %d %-27s FAILED: %s" % (index + 1, name, result["error"]), flush=True)
                failures.append(result)
            else:
                continue
            results[name].append(result)
            print("run %d %-27s first render %.3f s  anon PSS %6.1f MiB  PSS %6.1f MiB  CPU after load %.2f s"
                  "  hidden %.2f s (%.1f polls/s)  page %s%s" % (
                      index + 1, name, result["startup_s"], result["anon"]["all"] / 1024, result["pss"]["all"] / 1024,
                      result["cpu_load_s"]["all"], result["cpu_hidden_s"]["all"], result["polls_per_s"],
                      result["visibility"], "  STILL SHOWN" if result["still_shown"] else ""), flush=True)


def publish(args, results, failures, load, interrupted):
    lines = reportLines(summarise(results), args)
    if failures:
        lines += ["", "Failed runs (left out, retried up to %d times): " % args.retries
                  + "; ".join("%s: %s" % (f["client"], f["error"]) for f in failures)]
    if interrupted:
        lines += ["", "INTERRUPTED by %s: only the runs finished before it are counted." % interrupted]
    print("\n".join(lines), flush=True)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"summary": summarise(results), "runs": results, "failures": failures,
                       "loadavg_at_start": load, "interrupted": interrupted}, f, indent=1)
    if args.write_results and not interrupted:
        ResultsFile(os.path.join(TOP, "bench/RESULTS.md")).writeClientTables(lines, args, load)


def main():
    args = parseArgs()
    enterPrivateNetwork(args)
    if "nolar" in args.clients and not os.access(args.nolar, os.X_OK):
        raise SystemExit("no Nolar binary at %s: build it with scripts/build %s" % (args.nolar, args.build))
    ProcessTree.becomeSubreaper()
    try:
        # Everything started from here inherits this: builds and tests running beside the benchmark
        # then disturb its timings less. Every client gets it alike.
        os.nice(-10)
    except PermissionError:
        pass
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, onSignal)
    scratch = tempfile.mkdtemp(prefix="client-bench-")
    xvfb = standin = interrupted = None
    results, failures, load = {name: [] for name in args.clients}, [], os.getloadavg()[0]
    try:
        cert, key = certificate(args, scratch)
        xvfb = Xvfb()
        pageDir = None
        if args.page == "heavy":
            pageDir = os.path.join(scratch, "heavy-page")
            HeavyPage.write(pageDir)
        standin = BenchStandin(os.path.join(TOP, "tools/standin/server.py"), cert, key, pageDir)
        print("Xvfb on %s, 1-min load average %.2f" % (xvfb.display, load), flush=True)
        runAll(args, xvfb.display, standin, results, failures)
    except (Interrupted, KeyboardInterrupt) as stop:
        interrupted = str(stop) or "SIGINT"
    finally:
        if standin:
            standin.stop()
        if xvfb:
            xvfb.stop()
        ProcessTree.reapOrphans()
        shutil.rmtree(scratch, ignore_errors=True)
    publish(args, results, failures, load, interrupted)


if __name__ == "__main__":
    main()
