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


def summary(path):
    with open(path, "rb") as f:
        data = f.read()
    vals = struct.unpack_from("<%dd" % (struct.unpack_from("<i", data)[0] // 8), data, 4)
    n = int(vals[98]) * int(vals[99])  # the fields follow the 100 parameters, nr and nz the last two
    return ["%s %s %.17g %.17g" % (os.path.basename(path), name, max(map(abs, f)), sum(x * x for x in f))
            for k, name in enumerate(("b", "bdf", "psi", "zeta", "u", "v", "w", "visc"))
            for f in [vals[100 + k * n: 100 + (k + 1) * n]]]


def close_text(x, y):
    """Equal words, or numbers within one unit in the last digit x prints (fixed or E form)."""
    try:
        nx, ny = float(x), float(y)
    except ValueError:
        return x == y
    mant, _, exp = x.lower().partition("e")
    return abs(nx - ny) <= 1.0001 * 10.0 ** (int(exp or 0) - len(mant.partition(".")[2]))


def close_summary(x, y):
    """The same dump and field, largest magnitude and root sum of squares to 1e-10."""
    (fx, fy), norm = (x.split(), y.split()), math.sqrt(float(x.split()[3]))
    return fx[:2] == fy[:2] and abs(float(fx[2]) - float(fy[2])) <= 1e-10 * float(fx[2]) \
        and abs(norm - math.sqrt(float(fy[3]))) <= 1e-10 * norm


def compare(recorded, now):
    runs = sorted(os.listdir(recorded))
    faults = [] if runs == sorted(os.listdir(now)) else \
        ["exact-solver runs: %s recorded, %s now" % (runs, sorted(os.listdir(now)))]
    for run in runs:
        for name, split, close in (("console.txt", str.split, close_text), ("qel.hist", str.split, close_text),
                                   ("dumps.txt", str.splitlines, close_summary)):
            a = split(open(os.path.join(recorded, run, name)).read())
            path = os.path.join(now, run, name)
            b = split(open(path).read()) if os.path.exists(path) else []
            if len(a) != len(b):
                faults.append("%s/%s: %d items recorded, %d now" % (run, name, len(a), len(b)))
            else:
                faults += ["%s/%s: '%s' recorded, '%s' now" % (run, name, x, y)
                           for x, y in zip(a, b) if not close(x, y)][:1]
    for f in faults:
        print("digests: " + f, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    if sys.argv[1] == "summary":
        for p in sys.argv[2:]:
            print("\n".join(summary(p)))
    else:
        sys.exit(compare(sys.argv[2], sys.argv[3]))
