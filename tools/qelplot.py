#!/usr/bin/python3
"""Quick-look pictures of qel output.

  qelplot.py [FILE.nc] [--time T | --index K] [--hist HIST.csv] [-o PREFIX]

FILE.nc, written by `qeltool nc`: filled contours in the r-z plane of the
stream function (or, in primitive mode, the pressure at the grid points),
the swirl v, the buoyancy b and the vertical velocity w at one time (the
last unless --time or --index is given), written to PREFIX-fields.png
(1000 x 800 pixels).

HIST.csv, written by `qeltool hist`: time series of the seven diagnostic
columns, written to PREFIX-history.png (1000 x 1000 pixels).

PREFIX defaults to the name of the first input without its extension.
Needs matplotlib and netCDF4 (Debian: apt-get install python3-matplotlib
python3-netcdf4); draws without a display.
"""

import argparse
import csv
import math
import os
import sys

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
    from netCDF4 import Dataset
except ImportError as e:
    sys.exit(
        "qelplot.py: %s; it needs matplotlib and netCDF4 "
        "(Debian: apt-get install python3-matplotlib python3-netcdf4)" % e
    )

DPI = 100


def panel(ax, fig, r, z, values, title, diverging=False):
    """Filled contours of one field; NaN and infinities left blank. A
    diverging field gets levels symmetric about 0, white at 0."""
    data = np.ma.masked_invalid(values)
    ax.set_title(title)
    ax.set_xlabel("r")
    ax.set_ylabel("z")
    ax.set_aspect("equal", adjustable="box")
    if data.count() == 0:
        ax.text(0.5, 0.5, "no finite values", ha="center", va="center", transform=ax.transAxes)
        return
    lo, hi = float(data.min()), float(data.max())
    if diverging:
        lo, hi = -max(abs(lo), abs(hi)), max(abs(lo), abs(hi))
    if hi > lo:
        levels = np.linspace(lo, hi, 21)
    else:
        # A uniform field: one band around its value.
        pad = 0.5 * max(abs(lo), 1.0)
        levels = [lo - pad, lo + pad]
    cs = ax.contourf(r, z, data, levels=levels, cmap="RdBu_r" if diverging else "viridis")
    fig.colorbar(cs, ax=ax)


def plot_fields(path, time, index, prefix):
    with Dataset(path) as nc:
        times = nc.variables["time"][:]
        if index is None:
            index = len(times) - 1 if time is None else int(np.argmin(np.abs(times - time)))
        if not 0 <= index < len(times):
            sys.exit("qelplot.py: %s holds %d times; index %d is outside" % (path, len(times), index))
        r = nc.variables["r"][:]
        z = nc.variables["z"][:]
        first = "psi" if "psi" in nc.variables else "p_point"
        names = [first, "v", "b", "w"]
        titles = {"psi": "stream function psi", "p_point": "pressure p", "v": "swirl v",
                  "b": "buoyancy b", "w": "vertical velocity w"}
        fig, axes = plt.subplots(2, 2, figsize=(10, 8), dpi=DPI, constrained_layout=True)
        for ax, name in zip(axes.flat, names):
            panel(ax, fig, r, z, np.asarray(nc.variables[name][index, :, :]), titles[name], name == "w")
        fig.suptitle("%s   t = %.4g" % (os.path.basename(path), float(times[index])))
        out = prefix + "-fields.png"
        fig.savefig(out, dpi=DPI)
        plt.close(fig)
        return out


def number(cell):
    """A CSV cell of `qeltool hist`: empty (asterisks in the history) is NaN."""
    try:
        return float(cell) if cell != "" else math.nan
    except ValueError:
        return math.nan


def plot_history(path, prefix):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if not rows or len(rows[0]) != 8:
        sys.exit("qelplot.py: %s is not a history table of `qeltool hist`" % path)
    header, rows = rows[0], rows[1:]
    columns = list(zip(*[[number(c) for c in row] for row in rows])) or [[]] * 8
    fig, axes = plt.subplots(4, 2, figsize=(10, 10), dpi=DPI, constrained_layout=True)
    for k, ax in enumerate(axes.flat):
        if k + 1 >= len(header):
            ax.axis("off")
            continue
        ax.plot(columns[0], columns[k + 1], ".-", markersize=3)
        ax.set_title(header[k + 1])
        ax.set_xlabel(header[0])
    fig.suptitle(os.path.basename(path))
    out = prefix + "-history.png"
    fig.savefig(out, dpi=DPI)
    plt.close(fig)
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("nc", nargs="?", help="NetCDF file of `qeltool nc`")
    p.add_argument("--time", type=float, help="model time to show (the nearest stored one)")
    p.add_argument("--index", type=int, help="index of the time to show (0 the first)")
    p.add_argument("--hist", help="CSV file of `qeltool hist`")
    p.add_argument("-o", "--out", help="prefix of the PNG files")
    a = p.parse_args()
    if a.nc is None and a.hist is None:
        p.error("give a NetCDF file, --hist, or both")
    if a.time is not None and a.index is not None:
        p.error("give --time or --index, not both")
    prefix = a.out or os.path.splitext(a.nc or a.hist)[0]
    if a.nc is not None:
        print("wrote", plot_fields(a.nc, a.time, a.index, prefix))
    if a.hist is not None:
        print("wrote", plot_history(a.hist, prefix))


if __name__ == "__main__":
    main()
