#!/usr/bin/env python3
"""Writes a synthetic RINEX 2 observation file (or with --rinex3 a RINEX 3.04 one of four systems):
smooth signals, exact column layout.

Every observation of satellite s and type j at time t (seconds from the first epoch) is a
polynomial of degree <= 3 in t, so interpolation of degree 7 reproduces it to rounding.
"""
import argparse
import datetime
import random
import sys

TYPES = ["L1", "L2", "C1", "P1", "P2", "D1", "D2", "T1", "T2"]


def header_line(text, label):
    return f"{text:<60.60}{label:<20}"


# The station's records, the same in both versions.
STATION_RECORDS = [
    header_line(f"{'tester':<20}{'epofill':<40}", "OBSERVER / AGENCY"),
    header_line(f"{'12345':<20}{'SYNTHETIC RECEIVER':<20}{'1.0':<20}", "REC # / TYPE / VERS"),
    header_line(f"{'67890':<20}{'SYNTHETIC ANTENNA':<20}", "ANT # / TYPE"),
    header_line(f"{'4027881.3000':>14}{'306998.7500':>14}{'4919498.6000':>14}", "APPROX POSITION XYZ"),
    header_line(f"{'0.0000':>14}{'0.0000':>14}{'0.0000':>14}", "ANTENNA: DELTA H/E/N"),
]


def write_header(out, a, first):
    lines = [
        header_line(f"{a.version:>9}           {'OBSERVATION DATA':<20}{a.system:<20}", "RINEX VERSION / TYPE"),
        header_line(f"{'gen_rinex':<20}{'epofill tests':<20}{'06-DEC-26 12:00':<20}", "PGM / RUN BY / DATE"),
        header_line("Synthetic observations for tests and benchmarks", "COMMENT"),
        header_line("SYNT", "MARKER NAME"),
        header_line(f"{'SYNT 00001':<20}", "MARKER NUMBER"),
        *STATION_RECORDS,
        header_line(f"{1:6d}{1:6d}", "WAVELENGTH FACT L1/2"),
    ]
    types = a.types.split(",")
    for i in range(0, max(len(types), 1), 9):
        chunk = "".join(f"{t:>6}" for t in types[i:i + 9])
        lines.append(header_line((f"{len(types):6d}" if i == 0 else " " * 6) + chunk, "# / TYPES OF OBSERV"))
    if a.interval_record:
        lines.append(header_line(f"{a.interval:6d}", "INTERVAL"))
    lines.append(header_line(
        f"{first.year:6d}{first.month:6d}{first.day:6d}{first.hour:6d}{first.minute:6d}{first.second:13.7f}     GPS",
        "TIME OF FIRST OBS"))
    lines.append(header_line("", "END OF HEADER"))
    for line in lines:
        out.write(line.rstrip() + "\n" if a.strip else line + "\n")


# RINEX 3: satellite k (1-based) belongs to system SYSTEMS3[(k - 1) % 4], number (k - 1) // 4 + 1.
SYSTEMS3 = "GREC"
TYPES3 = {
    "G": "C1C L1C D1C S1C C2W L2W D2W S2W",
    "R": "L1C C1C D1C S1C L2P C2P D2P S2P",  # codes elsewhere than in the other lists
    "E": "C1C L1C D1C S1C C5Q L5Q D5Q S5Q C7Q L7Q",
    "C": "C2I L2I D2I S2I C7I L7I",
}


def write_header3(out, a, first):
    lines = [
        header_line(f"{'3.04':>9}           {'OBSERVATION DATA':<20}{'M':<20}", "RINEX VERSION / TYPE"),
        header_line(f"{'gen_rinex':<20}{'epofill tests':<20}{'20261206 120000 UTC':<20}", "PGM / RUN BY / DATE"),
        header_line("Synthetic observations for tests and benchmarks", "COMMENT"),
        header_line("SYNT", "MARKER NAME"),
        header_line("GEODETIC", "MARKER TYPE"),
        *STATION_RECORDS,
    ]
    for system in SYSTEMS3:
        codes = TYPES3[system].split()
        for i in range(0, len(codes), 13):
            head = f"{system}  {len(codes):3d}" if i == 0 else " " * 6
            lines.append(header_line(head + "".join(f" {c}" for c in codes[i:i + 13]), "SYS / # / OBS TYPES"))
    lines.append(header_line("DBHZ", "SIGNAL STRENGTH UNIT"))
    if a.interval_record:
        lines.append(header_line(f"{a.interval:10.3f}", "INTERVAL"))
    lines.append(header_line(
        f"{first.year:6d}{first.month:6d}{first.day:6d}{first.hour:6d}{first.minute:6d}{first.second:13.7f}     GPS",
        "TIME OF FIRST OBS"))
    lines.append(header_line(" 1 R01  1", "GLONASS SLOT / FRQ #"))
    lines.append(header_line("", "END OF HEADER"))
    for line in lines:
        out.write(line.rstrip() + "\n")


def write_epoch3(out, a, e, start, drop, blank):
    t = e * a.interval
    when = start + datetime.timedelta(seconds=t)
    sats = [s for s in range(1, a.sats + 1) if (e, s) not in drop]
    line = (f"> {when.year:4d} {when.month:02d} {when.day:02d} {when.hour:02d} {when.minute:02d}"
            f"{when.second + when.microsecond / 1e6:11.7f}  0{len(sats):3d}")
    reset = a.clock_reset is not None and e >= a.clock_reset
    if a.clock:
        line += f"      {1.0e-4 + 1.0e-9 * t + 1.0e-14 * t * t + (1.0e-3 if reset else 0.0):15.12f}"
    out.write(line + "\n")
    for s in sats:
        system = SYSTEMS3[(s - 1) % 4]
        text = f"{system}{(s - 1) // 4 + 1:02d}"
        for j, code in enumerate(TYPES3[system].split()):
            if (e, s, j) in blank:
                text += " " * 16
            else:
                v = signal(s, j, t, a) if code[0] != "S" else 30.0 + s + 0.25 * j
                if reset and code[0] == "C":
                    v += 299792.458  # 1 ms of range
                text += f"{v:14.3f}{(e + s) % 2 if code[0] == 'L' else ' '}{(s + j) % 9 + 1 if j < 3 else ' '}"
        out.write(text.rstrip() + "\n")


def signal(sat, j, t, a):
    # Carrier phases and ranges of about 2e7, Dopplers of a few thousand; degree <= 3 in t.
    base = 2.0e7 + 1.0e5 * sat + 1.0e3 * j
    if TYPES[j % 9].startswith("D") if j < 9 else False:
        base = -1000.0 * sat + 10.0 * j
    t_h = t / 3600.0
    return base + (37.0 + sat) * t_h * 100.0 + 0.5 * (sat - 5) * t_h * t_h + 0.01 * t_h ** 3


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--start", default="2001-08-28T00:00:00")
    p.add_argument("--epochs", type=int, default=20)
    p.add_argument("--interval", type=int, default=30)
    p.add_argument("--no-interval-record", dest="interval_record", action="store_false")
    p.add_argument("--sats", type=int, default=4, help="satellites per epoch (G01 ...)")
    p.add_argument("--types", default="L1,L2,C1,P1,P2,D1,D2")
    p.add_argument("--clock", action="store_true", help="write receiver clock offsets")
    p.add_argument("--skip", default="", help="comma-separated epoch indices to leave out")
    p.add_argument("--drop", default="", help="epoch:sat pairs whose satellite is left out")
    p.add_argument("--blank", default="", help="epoch:sat:type values left blank")
    p.add_argument("--no-lli", dest="lli", action="store_false", help="no loss-of-lock digits")
    p.add_argument("--slips", default="", help="epoch:sat:type values with loss of lock (bit 0) set")
    p.add_argument("--version", default="2.10")
    p.add_argument("--system", default="G (GPS)")
    p.add_argument("--strip", action="store_true", help="cut trailing blanks")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--clock-reset", type=int, help="RINEX 3: from this epoch on the receiver clock is 1 ms later")
    p.add_argument("--rinex3", action="store_true",
                   help="RINEX 3.04 of systems G, R, E, C in turn (--types, --events and --strip do not apply)")
    p.add_argument("--repeat", default="", help="comma-separated epoch indices written twice (same time)")
    p.add_argument("--events", default="",
                   help="E:FLAG:N event records after epoch E (-1: before the first); flags 2-5 carry N "
                        "COMMENT lines, flag 6 N cycle-slip satellite records at the time of epoch E")
    a = p.parse_args()
    random.seed(a.seed)
    types = a.types.split(",")
    start = datetime.datetime.fromisoformat(a.start)
    skip = {int(x) for x in a.skip.split(",") if x}
    drop = {tuple(int(v) for v in x.split(":")) for x in a.drop.split(",") if x}
    blank = {tuple(int(v) for v in x.split(":")) for x in a.blank.split(",") if x}
    a.slip_set = {tuple(int(v) for v in x.split(":")) for x in a.slips.split(",") if x}
    repeat = {int(x) for x in a.repeat.split(",") if x}
    events = [tuple(int(v) for v in x.split(":")) for x in a.events.split(",") if x]
    out = sys.stdout
    if a.rinex3:
        write_header3(out, a, start)
        for e in range(a.epochs):
            if e not in skip:
                write_epoch3(out, a, e, start, drop, blank)
        return
    write_header(out, a, start)
    write_events(out, a, events, -1, start)
    for e in range(a.epochs):
        if e not in skip:
            for _ in range(2 if e in repeat else 1):
                write_epoch(out, a, e, start, types, drop, blank)
        write_events(out, a, events, e, start)


def write_events(out, a, events, after, start):
    for e, flag, n in events:
        if e != after:
            continue
        if flag == 6:
            # Cycle-slip records: epoch time and satellite list as an observation epoch.
            when = start + datetime.timedelta(seconds=max(e, 0) * a.interval)
            line = (f"{when.year % 100:3d}{when.month:3d}{when.day:3d}{when.hour:3d}{when.minute:3d}"
                    f"{when.second + when.microsecond / 1e6:11.7f}{flag:3d}{n:3d}")
            out.write(line + "".join(f"G{s:2d}" for s in range(1, n + 1)) + "\n")
            for s in range(1, n + 1):
                fields = [f"{1.0:14.3f}  "] + [" " * 16] * (len(a.types.split(",")) - 1)
                for i in range(0, len(fields), 5):
                    out.write("".join(fields[i:i + 5]).rstrip() + "\n")
        else:
            # Special records with blank time fields, as splicing tools write them.
            out.write(" " * 26 + f"{flag:3d}{n:3d}\n")
            for i in range(n):
                out.write(header_line(f"EVENT {flag} AFTER EPOCH {e} LINE {i + 1}", "COMMENT") + "\n")


def write_epoch(out, a, e, start, types, drop, blank):
    t = e * a.interval
    when = start + datetime.timedelta(seconds=t)
    sats = [s for s in range(1, a.sats + 1) if (e, s) not in drop]
    line = (f"{when.year % 100:3d}{when.month:3d}{when.day:3d}{when.hour:3d}{when.minute:3d}"
            f"{when.second + when.microsecond / 1e6:11.7f}{0:3d}{len(sats):3d}")
    for i, s in enumerate(sats):
        if i and i % 12 == 0:
            out.write(line + "\n")
            line = " " * 32
        line += f"G{s:2d}"
    if a.clock:
        line = line.ljust(68) + f"{1.0e-4 + 1.0e-9 * t + 1.0e-14 * t * t:12.9f}"
    out.write((line.rstrip() if a.strip else line.ljust(80) if len(sats) <= 12 or a.clock else line) + "\n")
    for s in sats:
        fields = []
        for j, _ in enumerate(types):
            if (e, s, j) in blank:
                fields.append(" " * 16)
            else:
                v = signal(s, j, t, a)
                lli = (e + s + j) % 2 if j < 2 and a.lli else ' '
                if (e, s, j) in a.slip_set:
                    lli = 1
                fields.append(f"{v:14.3f}{lli}{(s + j) % 9 + 1 if j < 3 else ' '}")
        for i in range(0, max(len(fields), 1), 5):
            text = "".join(fields[i:i + 5])
            out.write((text.rstrip() if a.strip else text) + "\n")


if __name__ == "__main__":
    main()
