"""The processes of one benchmarked client, found without cgroups.

A client is launched as `dbus-run-session -- CLIENT` in a session of its own, with a marker
variable (MARKER=<run id>) in its environment. Every process it starts inherits the marker unless
it scrubs its environment, so membership is decided per process from /proc:

  client   the launched CLIENT process (dbus-run-session's child that is not dbus-daemon) and every
           process whose parent chain reaches it: WebKit's web and network processes, Chromium's
           zygotes, renderers and utility processes;
           plus every process that carries the marker but whose parent chain reaches neither the
           launcher nor anything else we started: processes that were double-forked or orphaned
           and got reparented (Chromium's crashpad handler), to us since we are a subreaper.
  helpers  the rest of the launcher's subtree (the private dbus-daemon), and marked processes that
           the bus activated, which dbus-daemon detaches from itself and which carry
           DBUS_STARTER_ADDRESS (the accessibility bus launcher, its own dbus-daemon and registry,
           which every GTK client and Chromium start on demand), with what they spawned. Every
           client gets the same session bus, so these are reported apart, not in the client's
           figures.

Kernel threads and other users' processes never carry the marker and are never children of the
launcher, so they cannot leak in. A process whose /proc entry vanishes between reads is skipped.
"""
import ctypes
import re
import os
import signal
import time

PR_SET_CHILD_SUBREAPER = 36
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def readFile(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        return None


def processTable():
    """pid -> (ppid, comm, cpu ticks) for every live process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        stat = readFile("/proc/%s/stat" % entry)
        if not stat:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        # fields[0] is state (stat field 3): ppid is field 4, utime 14, stime 15.
        table[int(entry)] = (int(fields[1]), comm, int(fields[11]) + int(fields[12]))
    return table


def descends(pid, ancestor, table):
    seen = 0
    while pid in table and seen < 4096:
        if pid == ancestor:
            return True
        pid = table[pid][0]
        seen += 1
    return False


def rollup(pid):
    """[Pss, Pss_Anon, Rss] of the process in kB."""
    values = {}
    for line in (readFile("/proc/%d/smaps_rollup" % pid) or "").splitlines():
        key, _, rest = line.partition(":")
        if key in ("Pss", "Pss_Anon", "Rss"):
            values[key] = int(rest.split()[0])
    return [values.get("Pss", 0), values.get("Pss_Anon", 0), values.get("Rss", 0)]


def role(pid, comm):
    """What the process does for its client: ui, web, network, gpu, zygote, other."""
    if comm.startswith("WebKitWebProces"):
        return "web"
    if comm.startswith("WebKitNetworkPr"):
        return "network"
    # Chromium rewrites its command line into one blank-separated string.
    argv = re.split(rb"[\0 ]", readFile("/proc/%d/cmdline" % pid, "rb") or b"")
    kinds = {b"--type=renderer": "web", b"--type=gpu-process": "gpu", b"--type=zygote": "zygote",
             b"--utility-sub-type=network.mojom.NetworkService": "network"}
    found = [kinds[a] for a in argv if a in kinds]
    if found:
        return found[-1]
    if any(a.startswith(b"--type=") for a in argv) or comm in ("bwrap", "xdg-dbus-proxy", "chrome_crashpad"):
        return "other"
    return "ui"


class ProcessTree:
    MARKER = "NOLAR_CLIENT_BENCH_RUN"

    def __init__(self, launcherPid, marker):
        self.launcher = launcherPid
        self.marker = marker
        self.needle = ("%s=%s\0" % (self.MARKER, marker)).encode()

    @staticmethod
    def becomeSubreaper():
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")

    @staticmethod
    def reapOrphans():
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

    def environment(self, pid):
        """The process's environment as b"\\0NAME=value\\0...", or b"" when it does not carry our marker."""
        environ = readFile("/proc/%d/environ" % pid, "rb")
        if environ is None:
            return b""
        environ = b"\0" + environ
        return environ if environ.find(b"\0" + self.needle) >= 0 else b""

    def clientRoot(self, table):
        for pid, (ppid, comm, _) in table.items():
            if ppid == self.launcher and comm != "dbus-daemon":
                return pid
        return None

    def classify(self, table=None):
        """(client pids, helper pids) as the module docstring defines them."""
        table = table or processTable()
        root = self.clientRoot(table)
        client, helpers = set(), set()
        for pid in table:
            if root is not None and descends(pid, root, table):
                client.add(pid)
            elif descends(pid, self.launcher, table):
                helpers.add(pid)
            elif pid != os.getpid():
                environ = self.environment(pid)
                if b"\0DBUS_STARTER_ADDRESS=" in environ:
                    helpers.add(pid)
                elif environ:
                    client.add(pid)
        return client, helpers

    def clientPids(self):
        return self.classify()[0]

    def memory(self, helpers=False):
        """{"comm pid": {"role", "pss", "anon", "rss"} in kB} over the client's processes, or the helpers'."""
        table = processTable()
        chosen = self.classify(table)[1 if helpers else 0]
        out = {}
        for pid in sorted(chosen):
            pss, anon, rss = rollup(pid)
            out["%s %d" % (table[pid][1], pid)] = {"role": role(pid, table[pid][1]), "pss": pss, "anon": anon, "rss": rss}
        return out

    def cpuTicks(self):
        """{pid: (label, role, cpu ticks so far)} of the client's processes now."""
        table = processTable()
        return {pid: ("%s %d" % (table[pid][1], pid), role(pid, table[pid][1]), table[pid][2])
                for pid in self.classify(table)[0]}

    def cpuSince(self, before):
        """{"comm pid": {"role", "cpu" seconds}} used since the cpuTicks() snapshot `before`.

        A process that started since counts from zero; one that ended since is listed with None.
        """
        after = self.cpuTicks()
        used = {}
        for pid, (label, kind, ticks) in after.items():
            start = before[pid][2] if pid in before else 0
            used[label] = {"role": kind, "cpu": (ticks - start) / CLOCK_TICKS}
        for pid in set(before) - set(after):
            used[before[pid][0] + " (ended)"] = {"role": before[pid][1], "cpu": None}
        return used

    def everyPid(self):
        client, helpers = self.classify()
        return client | helpers | ({self.launcher} if os.path.exists("/proc/%d" % self.launcher) else set())

    def terminate(self):
        """Ends everything this run started: SIGTERM, then SIGKILL after 5 s; returns what survived."""
        for sig, grace in ((signal.SIGTERM, 5.0), (signal.SIGKILL, 5.0)):
            pids = self.everyPid()
            if not pids:
                return []
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + grace
            while time.monotonic() < deadline and self.everyPid():
                self.reapOrphans()
                time.sleep(0.1)
        self.reapOrphans()
        return sorted(self.everyPid())
