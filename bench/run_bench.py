#!/usr/bin/env python3
"""Builds a release epofill and measures whole runs on generated files, with `cat` as the baseline.

    python3 bench/run_bench.py [--reps N] [--keep DIR]

Runs, each several times (medians reported): the day file (24 h at 30 s, 10 GPS satellites, types
L1 L2 C1 P1 P2 D1 D2, receiver clock offsets) with -n 1, -n 5 and -n 15; a 7-day and a 1-hour file
of the same kind with -n 1; the day file read from its gzip form and from its Compact RINEX + gzip
form (made by bench/crx_encode.cpp with the program's encoder) with -n 1 and -n 15; a RINEX 3.04 day file
(30 satellites of GPS, GLONASS, Galileo and BeiDou, six to ten types each, clock offsets) with -n 1
and -n 5; the cases take
turns run after run. Then `cat` of a file as large as the day output into a new file on the same
disk. Prints seconds, output MB/s, input and output epochs per second, peak resident memory, the
ratio of the day run to the baseline and, in processor time, of each stored form's run to the plain
file's. Then the day file with -n 1 written as .gz, .crx and .crx.gz: sizes, seconds and the ratio of
each to (plain run + `gzip -1` of the plain output), all measured in this run.
"""
import argparse
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TYPES = "L1,L2,C1,P1,P2,D1,D2"


def build():
    out = os.path.join(ROOT, "build-bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", out, "-DCMAKE_BUILD_TYPE=Release", "-DEPOFILL_TESTS=OFF",
                    "-DEPOFILL_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "-j2", "--target", "epofill", "bench_core", "crx_encode"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(out, "driver", "epofill")


def stored_forms(work, plain):
    """The day file as gzip and as Compact RINEX + gzip, made once."""
    gz = plain + ".gz"
    crx_gz = os.path.join(work, "day.crx.gz")
    if not os.path.exists(gz):
        with open(plain, "rb") as src, open(gz, "wb") as dst:
            subprocess.run(["gzip", "-c"], stdin=src, stdout=dst, check=True)
    if not os.path.exists(crx_gz):
        encoder = os.path.join(ROOT, "build-bench", "bench", "crx_encode")
        with open(plain, "rb") as src, open(crx_gz, "wb") as dst:
            enc = subprocess.Popen([encoder], stdin=src, stdout=subprocess.PIPE)
            subprocess.run(["gzip", "-c"], stdin=enc.stdout, stdout=dst, check=True)
            if enc.wait() != 0:
                raise SystemExit("crx_encode failed")
    return gz, crx_gz


def generate(path, epochs, rinex3=False):
    kind = ["--rinex3", "--sats", "30"] if rinex3 else ["--sats", "10", "--types", TYPES]
    with open(path, "w") as f:
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "gen_rinex.py"), "--epochs", str(epochs),
                        "--interval", "30", "--clock", "--start", "2001-08-28T00:00:00"] + kind, check=True, stdout=f)


def timed(command):
    """Wall seconds, peak resident memory (KiB) and processor seconds (user + system) of one child process."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    before = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - before
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - usage.ru_utime + after.ru_stime - usage.ru_stime
    if proc.returncode != 0:
        raise SystemExit(f"failed: {' '.join(command)}\n{proc.stderr}")
    peak = int(proc.stderr.strip().splitlines()[-1])
    return seconds, peak, cpu


def count_epochs(path):
    n = 0
    with open(path, "rb") as f:
        header = True
        for line in f:
            if header:
                header = b"END OF HEADER" not in line
                continue
            if len(line) > 29 and line[28:29] in b"01" and line[2:3] != b" " and line[:1] == b" ":
                n += 1
            elif line[:1] == b">" and line[31:32] in b"01":
                n += 1
    return n


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--reps", type=int, default=5)
    p.add_argument("--keep", help="folder for the generated files (default: a temporary one)")
    a = p.parse_args()
    binary = build()
    work = a.keep or tempfile.mkdtemp(prefix="epofill-bench-", dir=os.path.join(ROOT))
    os.makedirs(work, exist_ok=True)
    files = {"hour": 120, "day": 2880, "week": 20160, "day3": 2880}
    for name, epochs in files.items():
        path = os.path.join(work, f"{name}.obs")
        if not os.path.exists(path):
            generate(path, epochs, rinex3=name == "day3")

    day_gz, day_crx_gz = stored_forms(work, os.path.join(work, "day.obs"))
    inputs = {"day.gz": day_gz, "day.crx.gz": day_crx_gz}
    files["day.gz"] = files["day.crx.gz"] = files["day"]
    cases = [("day -n 1", "day", 1, ".out"), ("day -n 5", "day", 5, ".out"), ("day -n 15", "day", 15, ".out"),
             ("7 days -n 1", "week", 1, ".out"), ("1 hour -n 1", "hour", 1, ".out"),
             ("day -n 1 .gz", "day", 1, ".obs.gz"), ("day -n 1 .crx", "day", 1, ".crx"),
             ("day -n 1 .crx.gz", "day", 1, ".crx.gz"),
             ("day.gz -n 1", "day.gz", 1, ".out"), ("day.crx.gz -n 1", "day.crx.gz", 1, ".out"),
             ("day.gz -n 15", "day.gz", 15, ".out"), ("day.crx.gz -n 15", "day.crx.gz", 15, ".out"),
             ("R3 day -n 1", "day3", 1, ".out"), ("R3 day -n 5", "day3", 5, ".out")]
    rows = []
    sizes = {}
    day_output = None
    # The cases take turns, run after run, so that a busy spell of the machine weighs on all alike.
    runs = {label: [] for label, *_ in cases}
    for _ in range(a.reps):
        for label, name, n, suffix in cases:
            src = inputs.get(name, os.path.join(work, f"{name}.obs"))
            dst = os.path.join(work, f"{name}-n{n}{suffix}")
            # A new file each time, like the baseline: emptying the last run's output would be timed too.
            if os.path.exists(dst):
                os.remove(dst)
            runs[label].append(timed([binary, "-i", src, "-o", dst, "-n", str(n)]))
    for label, name, n, suffix in cases:
        dst = os.path.join(work, f"{name}-n{n}{suffix}")
        seconds = statistics.median(r[0] for r in runs[label])
        peak = max(r[1] for r in runs[label])
        in_epochs = files[name]
        out_epochs = count_epochs(dst) if suffix == ".out" else rows[0][6]
        out_mb = os.path.getsize(dst) / 1e6
        sizes[label] = out_mb
        cpu = statistics.median(r[2] for r in runs[label])
        rows.append((label, seconds, out_mb / seconds, in_epochs / seconds, out_epochs / seconds, peak, out_epochs, cpu))
        if label == "day -n 1":
            day_output = dst

    def shell_runs(command, dst):
        """Runs of a shell command that writes a new dst each time."""
        runs = []
        for _ in range(a.reps):
            if os.path.exists(dst):
                os.remove(dst)
            runs.append(timed(["sh", "-c", command]))
        return runs

    base_dst = os.path.join(work, "baseline.copy")
    base = shell_runs(f"cat '{day_output}' > '{base_dst}'", base_dst)
    base_seconds = statistics.median(r[0] for r in base)
    base_mb = os.path.getsize(day_output) / 1e6

    # gzip -1 of the plain day output: with the plain run, the yardstick of the compressed outputs.
    gzip_dst = os.path.join(work, "gzip1.gz")
    gzip_runs = shell_runs(f"gzip -1 -c '{day_output}' > '{gzip_dst}'", gzip_dst)
    gzip_seconds = statistics.median(r[0] for r in gzip_runs)
    sizes["gzip -1 of day -n 1"] = os.path.getsize(gzip_dst) / 1e6

    cpu = platform.processor() or ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    print(f"processor: {cpu}; {os.cpu_count()} cores; medians of {a.reps} runs")
    print(f"{'case':<18}{'seconds':>9}{'out MB/s':>10}{'in ep/s':>11}{'out ep/s':>12}{'peak MiB':>10}")
    for label, seconds, mbs, ies, oes, peak, *_ in rows:
        print(f"{label:<18}{seconds:9.3f}{mbs:10.1f}{ies:11.0f}{oes:12.0f}{peak / 1024:10.1f}")
    print(f"{'cat (baseline)':<18}{base_seconds:9.3f}{base_mb / base_seconds:10.1f}{'':>11}{'':>12}"
          f"{max(r[1] for r in base) / 1024:10.1f}")
    day = rows[0][1]
    print(f"day -n 1 / baseline: {day / base_seconds:.2f}")
    print(f"gzip -1 of the day -n 1 output: {gzip_seconds:.3f} s")
    print(f"{'output':<22}{'MB':>9}{'seconds':>9}{'/ (plain + gzip -1)':>21}{'peak MiB':>10}")
    timing = {r[0]: (r[1], r[5]) for r in rows}
    for label in ("day -n 1", "day -n 1 .gz", "day -n 1 .crx", "day -n 1 .crx.gz", "gzip -1 of day -n 1"):
        seconds, peak = timing.get(label, (gzip_seconds, max(r[1] for r in gzip_runs)))
        ratio = seconds / (day + gzip_seconds)
        print(f"{label:<22}{sizes[label]:9.2f}{seconds:9.3f}{ratio:21.2f}{peak / 1024:10.1f}")
    per_day = rows[0][1] / rows[0][6]
    per_week = rows[3][1] / rows[3][6]
    print(f"time per output epoch, 7 days / day: {per_week / per_day:.3f}")
    # Processor time: on a shared machine the wall time of the short runs varies too much to compare.
    cpu_of = {row[0]: row[7] for row in rows}
    for n in (1, 15):
        for form in ("day.gz", "day.crx.gz"):
            print(f"{form} -n {n} / day -n {n}, processor time: {cpu_of[f'{form} -n {n}'] * 1000:.1f} ms / "
                  f"{cpu_of[f'day -n {n}'] * 1000:.1f} ms = {cpu_of[f'{form} -n {n}'] / cpu_of[f'day -n {n}']:.3f}")
    if not a.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
