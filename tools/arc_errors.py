#!/usr/bin/env python3
"""Measures interpolation errors on real RINEX 2 observation files, with and without -a.

Each FILE:COARSE:INCREMENT is decimated to COARSE seconds (a loss of lock flagged on a dropped
epoch, or a flag-6 record after one, is carried to the next kept value, as a decimating tool must
do), densified back at INCREMENT seconds by epofill in both modes, and every new value is compared
with the observation that was withheld. Prints tables of rms and maximum errors per type and of
the values written; the last line per file is a CHECK line for tests/test_arc_runs.
"""
import argparse
import datetime
import math
import os
import subprocess
import sys
import tempfile


def parse(lines):
    """Header lines, type names and records: (first line, end line, flag, time, {(sat, j): (value, lli)})."""
    end = next(i for i, l in enumerate(lines) if l[60:73] == "END OF HEADER") + 1
    types = []
    for l in lines[:end]:
        if l[60:79] == "# / TYPES OF OBSERV":
            types += l[6:60].split()
    per_sat = max(1, (len(types) + 4) // 5)
    records, i = [], end
    while i < len(lines):
        head = lines[i]
        if not head.strip():
            i += 1
            continue
        flag = int(head[26:29] or 0)
        count = int(head[29:32] or 0)
        more = (count - 1) // 12 if count > 12 else 0
        if 2 <= flag <= 5:
            records.append((i, i + 1 + count, flag, None, {}))
            i += 1 + count
            continue
        sats = [head[32 + 3 * k:35 + 3 * k] for k in range(min(count, 12))]
        for c in range(more):
            sats += [lines[i + 1 + c][32 + 3 * k:35 + 3 * k] for k in range(min(count - 12 * (c + 1), 12))]
        sats = [("G" if s[0] == " " else s[0]) + "%02d" % int(s[1:] or 0) for s in sats]
        year = int(head[1:3])
        when = datetime.datetime(year + (2000 if year < 80 else 1900), int(head[4:6]), int(head[7:9]),
                                 int(head[10:12]), int(head[13:15])) + datetime.timedelta(seconds=float(head[15:26]))
        values, at = {}, i + 1 + more
        if flag != 6:
            for s in sats:
                for j in range(len(types)):
                    line = lines[at + j // 5] if at + j // 5 < len(lines) else ""
                    field = line[16 * (j % 5):16 * (j % 5) + 16]
                    v = float(field[:14] or 0) if field[:14].strip() else 0.0
                    if v != 0.0:
                        values[(s, j)] = (v, field[14:15].strip())
                at += per_sat
        else:
            values = {(s, None): None for s in sats}
            at += count * per_sat
        records.append((i, at, flag, when, values))
        i = at
    return lines[:end], types, records


def decimate(lines, coarse, rate):
    header, types, records = parse(lines)
    out = [("%6d" % coarse).ljust(60) + l[60:] if l[60:68] == "INTERVAL" else l for l in header]
    first = next(r[3] for r in records if r[3] is not None and r[2] != 6)
    carry, kept, slips = set(), False, set()
    for start, end, flag, when, values in records:
        if flag == 6:
            if kept:
                out += lines[start:end]
            else:
                carry |= {s for s, _ in values}
            continue
        if when is None:
            if kept:
                out += lines[start:end]
            continue
        offset = (when - first).total_seconds()
        kept = round(offset / rate) % round(coarse / rate) == 0
        if not kept:
            carry |= {key for key, (v, lli) in values.items() if lli and int(lli) & 1}
            continue
        body = lines[start:end]
        sats = list(dict.fromkeys(s for s, _ in values))
        per_sat = max(1, (len(types) + 4) // 5)
        more = end - start - 1 - len(sats) * per_sat  # satellite-list continuation lines
        for (s, j), (v, lli) in values.items():
            if (s, j) in carry or s in carry or (lli and int(lli) & 1):
                slips.add((round(offset / coarse), s, j))
                row = 1 + more + sats.index(s) * per_sat + j // 5
                line = body[row].ljust(16 * (j % 5 + 1))
                digit = str(int(lli or 0) | 1)
                body[row] = line[:16 * (j % 5) + 14] + digit + line[16 * (j % 5) + 15:]
        present = set(sats)
        carry = {k for k in carry if (k if isinstance(k, str) else k[0]) not in present}
        out += body
    return out, types, records, first, slips


def compare(lines, types, truth, first, coarse, slips):
    _, _, records = parse(lines)
    stats, written, inner, near = {}, 0, 0, 0
    last = max(round((r[3] - first).total_seconds() / coarse) for r in records if r[3] is not None and r[2] != 6)
    for _, _, flag, when, values in records:
        if when is None or flag == 6:
            continue
        offset = (when - first).total_seconds()
        if abs(offset - coarse * round(offset / coarse)) < 0.05:
            continue
        gap = math.floor(offset / coarse)
        written += len(values)
        inner += len(values) if 0 < gap < last - 1 else 0
        original = truth.get(round(offset * 100), {})
        for (s, j), (v, _) in values.items():
            if (s, j) not in original:
                continue
            error = abs(v - original[(s, j)][0])
            n, squares, worst = stats.get(j, (0, 0.0, 0.0))
            stats[j] = (n + 1, squares + error * error, max(worst, error))
            if types[j].startswith("L") and error > 1.0 and any((c, s, j) in slips for c in range(gap - 3, gap + 5)):
                near += 1
    return stats, written, inner, near


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--epofill", required=True)
    p.add_argument("cases", nargs="+", help="FILE:COARSE:INCREMENT")
    a = p.parse_args()
    a.epofill = os.path.abspath(a.epofill)
    rows, totals = [], []
    for case in a.cases:
        path, coarse, increment = case.rsplit(":", 2)
        coarse, increment = int(coarse), int(increment)
        lines = open(path, encoding="latin-1").read().splitlines()
        _, types, records = parse(lines)
        times = sorted(r[3] for r in records if r[3] is not None and r[2] != 6)
        rate = min((b - a_).total_seconds() for a_, b in zip(times, times[1:]) if b > a_)
        out, types, records, first, slips = decimate(lines, coarse, rate)
        truth = {round((r[3] - first).total_seconds() * 100): r[4] for r in records if r[3] is not None and r[2] != 6}
        name = os.path.basename(path)
        results = []
        with tempfile.TemporaryDirectory() as folder:
            open(os.path.join(folder, "coarse.obs"), "w", encoding="latin-1").write("\n".join(out) + "\n")
            for arc in ([], ["-a"]):
                dense = os.path.join(folder, "dense.obs")
                run = subprocess.run([a.epofill, "-i", "coarse.obs", "-o", "dense.obs", "-n", str(increment)] + arc,
                                     cwd=folder, capture_output=True, text=True)
                if run.returncode != 0:
                    sys.exit(f"{name}: epofill failed: {run.stderr}")
                dense_lines = open(dense, encoding="latin-1").read().splitlines()
                results.append(compare(dense_lines, types, truth, first, coarse, slips))
        for j in sorted(results[0][0]):
            for mode, r in zip(("default", "-a"), results):
                n, squares, worst = r[0].get(j, (0, 0.0, 0.0))
                rows.append(f"| {name} | {types[j]} | {mode} | {n} | {math.sqrt(squares / n) if n else 0:.3f} | {worst:.3f} |")
        totals.append(f"| {name} | {coarse} s -> {increment} s | {results[0][1]} | {results[1][1]} | {results[0][2]} | "
                      f"{results[1][2]} | {results[0][3]} | {results[1][3]} |")
        print(f"CHECK {name} {coarse} {results[0][2]} {results[1][2]} {results[1][3]}", file=sys.stderr)
    print("| file | type | mode | compared | rms | max |\n|---|---|---|---|---|---|")
    print("\n".join(rows))
    print("\n| file | decimated, densified | values written, default | -a | inner gaps, default | -a "
          "| phases > 1 cycle next to a flagged slip, default | -a |\n|---|---|---|---|---|---|---|---|")
    print("\n".join(totals))


if __name__ == "__main__":
    main()
