#!/usr/bin/env python3
"""Mutation testing of epofill's modules (driver/, scanargs/, gpstime/, rinex/, interp/).

  tools/mutate.py generate [--seed S] [--count N]    writes the mutant list (tools/mutation/mutants.txt)
  tools/mutate.py run [--report FILE] [--only IDS]    applies each mutant, rebuilds, runs the tests

A run builds into build-mutation/ (-O1, no debug information, ccache when present), and for every
mutant: puts the mutation into the source, rebuilds the tests that link the mutated module (and the
program), runs those test binaries one after the other, the module's own first, stopping at the first
failing test, and puts the source back. A mutant is killed when a test fails or times out, survives
when every test passes, and is counted apart (excluded from the score) when it does not compile. An
entry whose source line is no longer in the file is reported as stale and left out.

List format, one mutant a line, tab-separated:
  id  file  line  column  kind  original  replacement  source line (stripped)
The column is 1-based in the source line as stored. When the line number no longer holds the stored
line, the mutant moves to the nearest line that does (stale when two are equally near, or none).
"""

import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES = ["driver", "scanargs", "gpstime", "rinex", "interp"]
DEFAULT_LIST = os.path.join(ROOT, "tools", "mutation", "mutants.txt")
BACKUP = ".mutate-backup"  # in the build folder: the original of the file being mutated

# Calls whose integer arguments are columns or widths of a fixed-column field.
FIELD_CALLS = re.compile(r"\b(fieldText|fieldInt|fieldDecimal|formatInt|formatFixed|formatBlanks|appendInt|"
                         r"appendFixed|appendGeneral|appendRight|appendLeft|padTo|substr|compare)\s*\(")


# ------------------------------------------------------------------------------------------------
# Candidates

def code_mask(line):
    """The line with comments and string/char literals blanked, same length."""
    out, i, n = [], 0, len(line)
    while i < n:
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out)[:n]


def matching_paren(text, open_index):
    depth = 0
    for k in range(open_index, len(text)):
        if text[k] == "(":
            depth += 1
        elif text[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


SWAPS = {
    "relational": [(" < ", " > "), (" > ", " < "), (" <= ", " >= "), (" >= ", " <= "), (" == ", " != "),
                   (" != ", " == ")],
    "boundary": [(" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > ")],
    "arithmetic": [(" + ", " - "), (" - ", " + "), (" += ", " -= "), (" -= ", " += ")],
    "logical": [(" && ", " || "), (" || ", " && ")],
}
STATEMENT = re.compile(r"^\s*((?:\+\+|--)?[A-Za-z_][\w.\[\]>()\-]*\s*(?:=|\+=|-=|\|=|\+\+|--|\().*;)\s*$")
DECLARATION = re.compile(r"^\s*(return|const|constexpr|static|auto|bool|int|char|double|long|unsigned|std::|"
                         r"uint\w+|int\w+|size_t|if|for|while|case|else|using|typedef)\b")


def candidates(rel, lines):
    """Every mutation the operators can make in one file: (line, col, kind, original, replacement)."""
    found = []
    in_block_comment = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if in_block_comment:
            if "*/" in line:
                in_block_comment = False
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith("#") or stripped.startswith("//"):
            continue
        code = code_mask(line)
        for kind, pairs in SWAPS.items():
            for old, new in pairs:
                for m in re.finditer(re.escape(old), code):
                    # "a < b" inside a template argument list is rare with blanks around; "<<" and
                    # ">>" are excluded by the blanks.
                    found.append((number, m.start() + 2, kind, old.strip(), new.strip()))
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", code):
            value = int(m.group(1))
            before = code[:m.start()]
            is_field = bool(FIELD_CALLS.search(before)) or re.search(r"(COLUMN|WIDTH|_COL|LENGTH)\w*\s*=\s*$",
                                                                    before)
            kind = "column" if is_field else "constant"
            found.append((number, m.start() + 1, kind, m.group(1), str(value + 1)))
            if value > 0:
                found.append((number, m.start() + 1, kind, m.group(1), str(value - 1)))
        for m in re.finditer(r"\b(if|while) \(", code):
            open_index = m.end() - 1
            close = matching_paren(code, open_index)
            if close < 0:
                continue
            condition = line[open_index:close + 1]
            found.append((number, open_index + 1, "negate", condition, "(!" + condition + ")"))
        m = STATEMENT.match(code)
        if m and not DECLARATION.match(code) and code.rstrip().endswith(";") and "{" not in code:
            start = len(line) - len(line.lstrip())
            text = line[start:len(code.rstrip())]
            found.append((number, start + 1, "remove", text, ";"))
        for m in re.finditer(r"\b(break|continue);", code):
            found.append((number, m.start() + 1, "remove", m.group(0), ";"))
    return found


def module_files():
    files = []
    for module in MODULES:
        for name in sorted(os.listdir(os.path.join(ROOT, module))):
            if name.endswith((".cpp", ".h")) and name != "main.cpp":
                files.append(os.path.join(module, name))
    return files


def generate(args):
    rng = random.Random(args.seed)
    per_file = {}
    for rel in module_files():
        with open(os.path.join(ROOT, rel)) as f:
            lines = f.read().split("\n")
        per_file[rel] = (lines, candidates(rel, lines))
    # Each file gets a share by its candidate count; headers recompile most of the project, so
    # they get a fixed small share.
    headers = [r for r in per_file if r.endswith(".h")]
    sources = [r for r in per_file if r.endswith(".cpp")]
    header_share = min(args.headers, sum(len(per_file[r][1]) for r in headers))
    total_sources = sum(len(per_file[r][1]) for r in sources)
    chosen = []
    for group, share, total in ((headers, header_share, sum(len(per_file[r][1]) for r in headers)),
                                (sources, args.count - header_share, total_sources)):
        for rel in group:
            pool = per_file[rel][1]
            want = min(len(pool), round(share * len(pool) / total)) if total else 0
            # Each kind at most once per line, so that the picks spread over the file.
            seen, unique = set(), []
            for c in pool:
                if (c[0], c[2]) not in seen:
                    seen.add((c[0], c[2]))
                    unique.append(c)
            # Kinds in turn, so that statement removals (one candidate on most lines) do not crowd out
            # the operators.
            by_kind = {}
            for c in unique:
                by_kind.setdefault(c[2], []).append(c)
            for pool_of_kind in by_kind.values():
                rng.shuffle(pool_of_kind)
            picks, kinds = [], sorted(by_kind)
            while len(picks) < min(want, len(unique)):
                kind = rng.choice([k for k in kinds if by_kind[k]])
                picks.append(by_kind[kind].pop())
            chosen += [(rel,) + c for c in sorted(picks)]
    os.makedirs(os.path.dirname(args.list), exist_ok=True)
    with open(args.list, "w") as f:
        f.write("# Generated by tools/mutate.py generate --seed %d --count %d --headers %d\n"
                % (args.seed, args.count, args.headers))
        f.write("# id\tfile\tline\tcolumn\tkind\toriginal\treplacement\tsource line\n")
        for i, (rel, number, col, kind, old, new) in enumerate(chosen, 1):
            source_line = per_file[rel][0][number - 1]
            indent = len(source_line) - len(source_line.lstrip())
            f.write("M%03d\t%s\t%d\t%d\t%s\t%s\t%s\t%s\n" % (i, rel, number, col - indent, kind, old, new,
                                                             source_line.strip()))
    print("%d mutants written to %s" % (len(chosen), os.path.relpath(args.list, ROOT)))


# ------------------------------------------------------------------------------------------------
# Running

class Mutant:
    def __init__(self, fields):
        (self.id, self.file, line, col, self.kind, self.original, self.replacement, self.source) = fields
        self.line, self.col = int(line), int(col)
        self.module = self.file.split("/")[0]

    def describe(self):
        return "%s:%d: %s '%s' -> '%s'" % (self.file, self.line, self.kind, self.original, self.replacement)

    def mutated_text(self, text):
        """The file's text with the mutation applied, or None when the entry is stale."""
        lines = text.split("\n")
        index = self.line - 1
        if not (0 <= index < len(lines) and lines[index].strip() == self.source):
            # The line moved: the nearest occurrence, when one is nearer than the others.
            matches = sorted((abs(k - index), k) for k, l in enumerate(lines) if l.strip() == self.source)
            if not matches or (len(matches) > 1 and matches[0][0] == matches[1][0]):
                return None
            index = matches[0][1]
        line = lines[index]
        at = len(line) - len(line.lstrip()) + self.col - 1
        if line[at:at + len(self.original)] != self.original:
            return None
        lines[index] = line[:at] + self.replacement + line[at + len(self.original):]
        return "\n".join(lines)


def read_list(path):
    mutants = []
    with open(path) as f:
        for raw in f:
            raw = raw.rstrip("\n")
            if raw and not raw.startswith("#"):
                mutants.append(Mutant(raw.split("\t", 7)))
    return mutants


def default_signals():
    # The tests raise signals and expect their default actions, also when started under nohup.
    for number in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGPIPE):
        signal.signal(number, signal.SIG_DFL)


def kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def run_command(cmd, cwd, timeout, log=None):
    """Runs cmd in its own process group; returns (exit status or None on timeout, seconds)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=log or subprocess.DEVNULL, stderr=subprocess.STDOUT,
                            start_new_session=True, preexec_fn=default_signals)
    try:
        status = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill_group(proc)
        status = None
    except BaseException:
        kill_group(proc)
        raise
    return status, time.monotonic() - start


def link_graph(build):
    """Test executables and the module libraries each links, directly or not (from CMake's graph)."""
    dot = os.path.join(build, "graph", "deps.dot")
    os.makedirs(os.path.dirname(dot), exist_ok=True)
    subprocess.run(["cmake", "--graphviz=" + dot, "."], cwd=build, check=True, stdout=subprocess.DEVNULL)
    names, edges = {}, {}
    with open(dot) as f:
        for line in f:
            m = re.match(r'\s*"(node\d+)" \[ label = "([^"]+)"', line)
            if m:
                names[m.group(1)] = m.group(2).replace("\\n", "")
            m = re.match(r'\s*"(node\d+)" -> "(node\d+)"', line)
            if m:
                edges.setdefault(m.group(1), []).append(m.group(2))
    graph = {}
    for node, label in names.items():
        if not label.startswith("test_"):
            continue
        direct = {names[d] for d in edges.get(node, []) if names.get(d) in MODULES}
        reach, todo = set(), list(edges.get(node, []))
        while todo:
            d = todo.pop()
            if d in reach:
                continue
            reach.add(d)
            todo += edges.get(d, [])
        graph[label] = (direct, {names[d] for d in reach if names.get(d) in MODULES})
    return graph


def restore_backup(build):
    backup = os.path.join(build, BACKUP)
    if os.path.exists(backup):
        with open(backup) as f:
            rel, text = f.read().split("\n", 1)
        with open(os.path.join(ROOT, rel), "w") as f:
            f.write(text)
        os.remove(backup)
        print("restored %s from an interrupted run" % rel)


def run(args):
    for module in MODULES:
        if subprocess.run(["git", "diff", "--quiet", "--", module], cwd=ROOT).returncode != 0:
            sys.exit("%s/ has uncommitted changes; a mutation run needs a clean module tree" % module)
    build = os.path.abspath(args.build)
    os.makedirs(build, exist_ok=True)
    restore_backup(build)
    mutants = read_list(args.list)
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m.id in wanted]
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=None", "-DCMAKE_CXX_FLAGS=-O1 -g0",
                 "-DEPOFILL_WERROR=OFF", "-DEPOFILL_TESTS=ON"]
    if subprocess.run(["which", "ccache"], stdout=subprocess.DEVNULL).returncode == 0:
        configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    graph = link_graph(build)
    log_path = os.path.join(build, "mutate.log")
    log = open(log_path, "w")

    def build_targets(targets):
        cmd = ["cmake", "--build", build, "-j%d" % args.jobs, "--target"] + sorted(targets)
        return run_command(cmd, ROOT, args.build_timeout, log)[0] == 0

    def tests_for(module):
        # The module's own tests first, then the others that link it, fastest first.
        covering = [t for t, (_, reach) in graph.items() if module in reach]
        return sorted(covering, key=lambda t: (module not in graph[t][0], baseline_time.get(t, 0), t))

    def run_tests(tests):
        # Each test binary is built just before it runs: most mutants die in the first one, and the
        # links of the others are saved.
        for t in tests:
            if not build_targets([t]):
                return "build-failed", t
            status, _ = run_command([os.path.join(build, "tests", t), "--gtest_fail_fast", "--gtest_brief=1"],
                                    os.path.join(build, "tests"), timeouts[t], log)
            if status is None:
                return "killed", t + " (timeout)"
            if status != 0:
                return "killed", t
        return "survived", ""

    def not_killed_before(m):
        # An earlier run's log or report, read again for every mutant (that run may still go on):
        # a mutant it did not kill (survived, build-failed, stale) is skipped.
        if not args.skip_unkilled_in:
            return False
        with open(args.skip_unkilled_in) as f:
            return any(m.describe() in l and re.search(r"\b(survived|build-failed|stale)\b", l) for l in f)

    # The unmutated suite must pass; its times set the per-binary timeouts.
    started = time.monotonic()
    all_tests = sorted(graph)
    if not build_targets(all_tests + ["epofill"]):
        sys.exit("the unmutated project does not build; see " + log_path)
    baseline_time, timeouts = {}, {}
    for t in all_tests:
        status, seconds = run_command([os.path.join(build, "tests", t)], os.path.join(build, "tests"), 600, log)
        if status != 0:
            sys.exit("%s fails without a mutation; see %s" % (t, log_path))
        baseline_time[t] = seconds
        timeouts[t] = max(args.timeout, 4 * seconds)

    results = []
    # Mutants of one file in a row: the file is compiled once per mutant and once more at the end.
    order = sorted(mutants, key=lambda m: (m.file, m.id))
    current_file = None
    try:
        for n, m in enumerate(order, 1):
            path = os.path.join(ROOT, m.file)
            if m.file != current_file:
                with open(path) as f:
                    original = f.read()
                current_file = m.file
            text = m.mutated_text(original)
            t0 = time.monotonic()
            if not_killed_before(m):
                results.append((m, "skipped", "not killed in " + args.skip_unkilled_in))
            elif text is None:
                results.append((m, "stale", "source line not found"))
            else:
                with open(os.path.join(build, BACKUP), "w") as f:
                    f.write(m.file + "\n" + original)
                try:
                    with open(path, "w") as f:
                        f.write(text)
                    tests = tests_for(m.module)
                    if not build_targets(["epofill"]):
                        results.append((m, "build-failed", ""))
                    else:
                        outcome, by = run_tests(tests)
                        results.append((m, outcome, by))
                finally:
                    with open(path, "w") as f:
                        f.write(original)
                    os.remove(os.path.join(build, BACKUP))
            print("[%3d/%d] %-12s %5.1fs %s %s" % (n, len(order), results[-1][1], time.monotonic() - t0,
                                                    m.describe(), results[-1][2]), flush=True)
    finally:
        # The last file touched is back; its objects are rebuilt so the next run starts clean.
        build_targets(["epofill"])
        clean = all(subprocess.run(["git", "diff", "--quiet", "--", mod], cwd=ROOT).returncode == 0
                    for mod in MODULES)
        log.close()
        if not clean:
            print("WARNING: the module sources differ from git after the run", file=sys.stderr)
    elapsed = time.monotonic() - started
    write_report(args, results, elapsed)
    if not clean:
        sys.exit(1)


def write_report(args, results, elapsed):
    results.sort(key=lambda r: r[0].id)
    out = []
    out.append("Mutation report: %s, %d mutants, %.0f s (%.1f min)" % (os.path.relpath(args.list, ROOT),
                                                                     len(results), elapsed, elapsed / 60))
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT, capture_output=True, text=True)
    out.append("commit %s; score = killed / (killed + survived); build failures, stale entries and mutants "
               "skipped (not killed by an earlier run) are left out of the score" % commit.stdout.strip())
    out.append("")
    out.append("%-9s %7s %8s %12s %6s %7s %7s" % ("module", "killed", "survived", "build-failed", "stale", "skipped",
                                                  "score"))
    totals = [0, 0, 0, 0]
    for module in MODULES + ["all"]:
        rs = [r for r in results if module == "all" or r[0].module == module]
        counts = [sum(1 for r in rs if r[1] == k) for k in ("killed", "survived", "build-failed", "stale", "skipped")]
        scored = counts[0] + counts[1]
        out.append("%-9s %7d %8d %12d %6d %7d %6.1f%%" % (module, counts[0], counts[1], counts[2], counts[3], counts[4],
                                                           100.0 * counts[0] / scored if scored else 0))
    for module in MODULES:
        out.append("")
        out.append("== %s" % module)
        for r in results:
            if r[0].module == module:
                out.append("%s %-12s %s%s" % (r[0].id, r[1], r[0].describe(), ("  [" + r[2] + "]") if r[2] else ""))
    text = "\n".join(out) + "\n"
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    print(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    g = sub.add_parser("generate", help="write the mutant list")
    g.add_argument("--seed", type=int, default=12)
    g.add_argument("--count", type=int, default=230)
    g.add_argument("--headers", type=int, default=10, help="mutants in headers (each rebuilds much)")
    g.add_argument("--list", default=DEFAULT_LIST)
    r = sub.add_parser("run", help="apply, rebuild and test every mutant of the list")
    r.add_argument("--list", default=DEFAULT_LIST)
    r.add_argument("--build", default=os.path.join(ROOT, "build-mutation"))
    r.add_argument("--report", help="also write the report to this file")
    r.add_argument("--only", help="comma-separated mutant ids")
    r.add_argument("--skip-unkilled-in", metavar="LOG", help="leave out the mutants this log or report did not kill")
    r.add_argument("--jobs", type=int, default=2)
    r.add_argument("--timeout", type=float, default=10.0, help="least seconds per test binary")
    r.add_argument("--build-timeout", type=float, default=600.0)
    args = parser.parse_args()

    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    generate(args) if args.command == "generate" else run(args)


if __name__ == "__main__":
    main()
