"""bench/RESULTS.md is shared by several benchmarks: each owns one "## " section and rewrites only
the generated block inside it, keeping the prose written around the figures."""
import datetime
import os
import platform

SECTION = "## Client: start-up, memory, CPU"


class ResultsFile:
    def __init__(self, path):
        self.path = path

    def writeClientTables(self, tableLines, args, loadAverage):
        """Rewrites the block named args.block ("light page, after", say) of the client section."""
        stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
        begin = "<!-- client_bench.py %s: generated tables begin -->" % args.block
        end = "<!-- client_bench.py %s: generated tables end -->" % args.block
        block = [begin, "### %s" % args.block, "",
                 "Generated %s on %s (%d CPUs, 1-min load average %.2f at start), %s page: median of %d "
                 "interleaved runs per client after %d warm-up run(s); memory %g s after first render, CPU over "
                 "the %g s after it (window shown), then over %g s hidden." % (
                     stamp, platform.node(), os.cpu_count(), loadAverage, args.page, args.runs, args.warmup,
                     args.settle, args.after_load, args.idle),
                 ""] + tableLines + [end]
        text = open(self.path).read() if os.path.exists(self.path) else "# Benchmark results\n"
        text = self.replaceBlock(text, "\n".join(block), begin, end)
        partial = self.path + ".partial"
        with open(partial, "w") as f:
            f.write(text)
        os.replace(partial, self.path)

    @staticmethod
    def replaceBlock(text, block, begin, end):
        if begin in text and end in text:
            head, rest = text.split(begin, 1)
            return head + block + rest.split(end, 1)[1]
        if SECTION in text:
            head, rest = text.split(SECTION, 1)
            return head + SECTION + "\n\n" + block + "\n" + rest
        return text.rstrip("\n") + "\n\n" + SECTION + "\n\n" + block + "\n"
