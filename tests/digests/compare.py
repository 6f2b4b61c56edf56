"""Exact-solver runs of the digest matrix, held to a tolerance.

  compare.py summary DUMP...          one line per dump and field: name,
                                      largest magnitude, sum of squares
  compare.py compare RECORDED NOW     every run of RECORDED against NOW

Console and history text must match token for token, numbers to one unit
in the last printed digit; dump summaries (largest magnitude and root
sum of squares of each field) to a relative 1e-10 (an Eigen solve rounds differently between builds
at about 1e-15 of the field, grown over a few hundred steps).
"""
import math
import os
import struct
import sys

FIELDS = ("b", "bdf", "psi", "zeta", "u", "v", "w", "visc")


def summary(path):
    with open(path, "rb") as f:
        data = f.read()
    (length,) = struct.unpack_from("<i", data, 0)
    vals = struct.unpack_from("<%dd" % (length // 8), data, 4)
    nr, nz = int(vals[98]), int(vals[99])
    lines = []
    for k, name in enumerate(FIELDS):
        f = vals[100 + k * nr * nz: 100 + (k + 1) * nr * nz]
        lines.append("%s %s %.17g %.17g" % (os.path.basename(path), name,
                                            max(abs(x) for x in f), sum(x * x for x in f)))
    return lines


def number(tok):
    try:
        return float(tok)
    except ValueError:
        return None


def last_digit(tok):
    """One unit in the last printed digit of a number written in fixed or E form."""
    mant = tok.lower().split("e")[0]
    exp = int(tok.lower().split("e")[1]) if "e" in tok.lower() else 0
    decimals = len(mant.split(".")[1]) if "." in mant else 0
    return 10.0 ** (exp - decimals)


def same_text(a, b, where):
    ta, tb = a.split(), b.split()
    if len(ta) != len(tb):
        return "%s: %d tokens recorded, %d now" % (where, len(ta), len(tb))
    for x, y in zip(ta, tb):
        nx, ny = number(x), number(y)
        if nx is None or ny is None:
            if x != y:
                return "%s: '%s' recorded, '%s' now" % (where, x, y)
        elif not abs(nx - ny) <= 1.0001 * last_digit(x):
            return "%s: %s recorded, %s now" % (where, x, y)
    return None


def same_summary(a, b, where):
    la, lb = a.splitlines(), b.splitlines()
    if len(la) != len(lb):
        return "%s: %d lines recorded, %d now" % (where, len(la), len(lb))
    for x, y in zip(la, lb):
        fx, fy = x.split(), y.split()
        if fx[:2] != fy[:2]:
            return "%s: %s recorded, %s now" % (where, " ".join(fx[:2]), " ".join(fy[:2]))
        norm = math.sqrt(float(fx[3]))
        if not (abs(float(fx[2]) - float(fy[2])) <= 1e-10 * float(fx[2])
                and abs(norm - math.sqrt(float(fy[3]))) <= 1e-10 * norm):
            return "%s: %s recorded, %s now" % (where, x, y)
    return None


def compare(recorded, now):
    faults = []
    runs = sorted(os.listdir(recorded))
    if runs != sorted(os.listdir(now)):
        faults.append("exact-solver runs: %s recorded, %s now" % (runs, sorted(os.listdir(now))))
    for run in runs:
        for name, check in (("console.txt", same_text), ("qel.hist", same_text), ("dumps.txt", same_summary)):
            a = open(os.path.join(recorded, run, name)).read()
            b = open(os.path.join(now, run, name)).read() if os.path.exists(os.path.join(now, run, name)) else ""
            fault = check(a, b, run + "/" + name)
            if fault:
                faults.append(fault)
    for f in faults:
        print("digests: " + f, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    if sys.argv[1] == "summary":
        for p in sys.argv[2:]:
            print("\n".join(summary(p)))
    else:
        sys.exit(compare(sys.argv[2], sys.argv[3]))
