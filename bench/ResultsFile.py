"""bench/RESULTS.md is shared by several benchmarks: each owns one "## " section and rewrites only
the generated block inside it, keeping the prose written around the figures."""
import datetime
import os
import platform

SECTION = "## Client: start-up, memory, idle"
BEGIN = "<!-- client_bench.py: generated tables begin -->"
END = "<!-- client_bench.py: generated tables end -->"


class ResultsFile:
    def __init__(self, path):
        self.path = path

    def writeClientTables(self, tableLines, args, loadAverage):
        stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
        block = [BEGIN,
                 "Generated %s on %s (%d CPUs, 1-min load average %.2f at start): median of %d runs per "
                 "client after %d warm-up run(s); PSS sampled %g s after load; idle window %g s." % (
                     stamp, platform.node(), os.cpu_count(), loadAverage, args.runs, args.warmup,
                     args.settle, args.idle),
                 ""] + tableLines + [END]
        text = open(self.path).read() if os.path.exists(self.path) else "# Benchmark results\n"
        text = self.replaceBlock(text, "\n".join(block))
        partial = self.path + ".partial"
        with open(partial, "w") as f:
            f.write(text)
        os.replace(partial, self.path)

    @staticmethod
    def replaceBlock(text, block):
        if BEGIN in text and END in text:
            head, rest = text.split(BEGIN, 1)
            return head + block + rest.split(END, 1)[1]
        if SECTION in text:
            head, rest = text.split(SECTION, 1)
            return head + SECTION + "\n\n" + block + "\n" + rest
        return text.rstrip("\n") + "\n\n" + SECTION + "\n\n" + block + "\n"
