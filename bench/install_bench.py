#!/usr/bin/python3
"""Update install: hashing and unpacking a 200 MB update archive with Nolar's own code
(bench_install: OpenSslSha256 + LibarchiveUnzip) against `openssl dgst -sha256` and `bsdtar -xf`
on the same file. Reports wall time, throughput and peak RSS (median of --runs runs each, after
one unrecorded warm-up run, so every tool reads the archive from the page cache). Not a test:
nothing fails on a number."""
import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SECTION = "## Update install"
BEGIN = "<!-- install_bench.py: generated tables begin -->"
END = "<!-- install_bench.py: generated tables end -->"
MIB = 1 << 20


def makeArchive(path, randomMiB, textMiB):
    """A bundle with incompressible payload (random bytes) and compressible text (log-like lines)."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        z.writestr("Nolar.app/Contents/Info.plist", "<plist version=\"1.0\"><dict/></plist>\n")
        for i in range(randomMiB // 16):
            z.writestr("Nolar.app/Contents/Lib/blob%02d.bin" % i, os.urandom(16 * MIB))
        line = "2026-03-01T09:05:%02dZ message %08d from the service, ordinary text compresses well\n"
        chunk = "".join(line % (n % 60, n) for n in range(MIB // 64)).encode()
        for i in range(textMiB // 16):
            z.writestr("Nolar.app/Contents/Resources/text%02d.txt" % i, chunk * (16 * MIB // len(chunk) + 1))
    return os.path.getsize(path)


def measure(argv, work):
    """Wall seconds and peak RSS (KiB) of one run of argv. The peak comes from /usr/bin/time:
    a child forked from this (large) Python process would inherit its high-water mark."""
    report = os.path.join(work, "time.txt")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv, stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("failed: %s" % " ".join(argv))
    with open(report) as f:
        return seconds, int(f.read().split()[-1])


def medianRuns(argv, runs, work):
    dest = argv[-1] if argv[-1].startswith(work) else None
    results = []
    for i in range(runs + 1):
        if dest:
            shutil.rmtree(dest, ignore_errors=True)
            if argv[0].endswith("bsdtar"):
                os.makedirs(dest)
        # Earlier runs' unpacked files are flushed first, so no run pays for another's writeback.
        os.sync()
        result = measure(argv, work)
        if i > 0:
            results.append(result)
    if dest:
        shutil.rmtree(dest, ignore_errors=True)
    return statistics.median(r[0] for r in results), statistics.median(r[1] for r in results)


def section(rows, size, unpacked, args):
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    load = os.getloadavg()[0]
    base = rows["noop"][1]
    lines = [BEGIN,
             "Generated %s on %s (%d CPUs, 1-min load average %.2f at start): archive %.1f MiB "
             "(%.1f MiB unpacked), median of %d runs after one warm-up, archive in the page cache; "
             "peak RSS from /usr/bin/time (%%M)." % (stamp, platform.node(), os.cpu_count(), load, size / MIB,
                                         unpacked / MIB, args.runs),
             "",
             "| Step | Tool | Time (s) | Throughput (MiB/s of archive) | Peak RSS (MiB) |",
             "|---|---|---|---|---|"]
    names = [("hash", "SHA-256", "Nolar (OpenSslSha256)"), ("openssl", "SHA-256", "openssl dgst -sha256"),
             ("unzip", "unpack", "Nolar (LibarchiveUnzip)"), ("bsdtar", "unpack", "bsdtar -xf"),
             ("both", "hash + unpack", "Nolar, as `install` runs them"),
             ("noop", "start only", "bench_install baseline")]
    for key, step, tool in names:
        seconds, rss = rows[key]
        rate = "—" if key == "noop" else "%.0f" % (size / MIB / seconds)
        lines.append("| %s | %s | %.3f | %s | %.1f |" % (step, tool, seconds, rate, rss / 1024))
    hashRatio = rows["openssl"][0] / rows["hash"][0]
    unzipRatio = rows["bsdtar"][0] / rows["unzip"][0]
    lines += ["",
              "Hashing throughput: %.2f× openssl's (target ≥ 0.9×). Unpacking throughput: %.2f× bsdtar's. "
              "Memory growth of hash + unpack over the baseline: %.1f MiB for a %.0f MiB archive." % (
                  hashRatio, unzipRatio, (rows["both"][1] - base) / 1024, size / MIB),
              END]
    return "\n".join(lines)


def writeResults(path, block):
    text = open(path).read() if os.path.exists(path) else "# Benchmark results\n"
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        text = head + block + rest.split(END, 1)[1]
    elif SECTION in text:
        head, rest = text.split(SECTION, 1)
        text = head + SECTION + "\n\n" + block + "\n" + rest
    else:
        text = text.rstrip("\n") + "\n\n" + SECTION + "\n\n" + block + "\n"
    with open(path + ".partial", "w") as f:
        f.write(text)
    os.replace(path + ".partial", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="/work/build-updater", help="a configured build folder")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--random-mib", type=int, default=176)
    parser.add_argument("--text-mib", type=int, default=320)
    parser.add_argument("--write-results", action="store_true", help="rewrite the section in RESULTS.md")
    args = parser.parse_args()
    subprocess.run(["cmake", "--build", args.build, "--target", "bench_install", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    tool = os.path.join(args.build, "bench", "bench_install")
    work = tempfile.mkdtemp(prefix="nolar-install-bench-")
    try:
        archive = os.path.join(work, "update.zip")
        size = makeArchive(archive, args.random_mib, args.text_mib)
        unpacked = sum(i.file_size for i in zipfile.ZipFile(archive).infolist())
        dest = os.path.join(work, "unpacked")
        rows = {
            "noop": medianRuns([tool, "noop"], args.runs, work),
            "hash": medianRuns([tool, "hash", archive], args.runs, work),
            "openssl": medianRuns(["openssl", "dgst", "-sha256", archive], args.runs, work),
            "unzip": medianRuns([tool, "unzip", archive, dest], args.runs, work),
            "bsdtar": medianRuns(["bsdtar", "-xf", archive, "-C", dest], args.runs, work),
            "both": medianRuns([tool, "both", archive, dest], args.runs, work),
        }
    finally:
        shutil.rmtree(work, ignore_errors=True)
    block = section(rows, size, unpacked, args)
    print(block)
    if args.write_results:
        writeResults(os.path.join(HERE, "RESULTS.md"), block)


if __name__ == "__main__":
    main()
