#!/usr/bin/python3
"""Pictures of qel output.

  qelplot.py [FILE.nc] [--time T | --index K] [--hist HIST.csv] [-o PREFIX]
             [--movie MOVIE.gif|MOVIE.mp4]

FILE.nc, written by `qeltool nc`: four panels in the r-z plane at one time
(the last unless --time or --index is given), written to PREFIX-fields.png
(1000 x 800 pixels): the stream function psi (vorticity core) or the
pressure's departure from its horizontal mean at each height (primitive
core), the swirl v, the buoyancy b and the vertical velocity w. Signed
fields (psi, p', v, w) use a diverging colour map centred on zero; a field
that is zero everywhere says so. Stream-function contours are drawn over
the other panels (in the primitive core the stream function is integrated
from w: psi = integral of r w dr, or of w dr in plane geometry); solid
lines are positive, dashed negative.

HIST.csv, written by `qeltool hist`: the diagnostic columns against time,
written to PREFIX-history.png (1000 x 1000 pixels); columns that are zero
throughout the run (the pressure columns of the vorticity core, the swirl
of a run without one) are left out.

--movie animates the four panels over all the times of FILE.nc with colour
limits fixed over the run: a GIF (needs python3-pil) or, where ffmpeg is
installed, an MP4.

PREFIX defaults to the name of the first input without its extension.
Needs matplotlib and netCDF4 (Debian: apt-get install python3-matplotlib
python3-netcdf4 python3-pil); draws without a display. Every quantity is
non-dimensional (lengths in units of L, velocities of U, times of L/U).
"""

import argparse
import csv
import math
import os
import shutil
import sys

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
    from matplotlib import animation, ticker
    from netCDF4 import Dataset
except ImportError as e:
    sys.exit(
        "qelplot.py: %s; it needs matplotlib and netCDF4 "
        "(Debian: apt-get install python3-matplotlib python3-netcdf4)" % e
    )

DPI = 100
DIVERGING = "RdBu_r"
SEQUENTIAL = "viridis"

# Per panel: the title (the quantity plotted), its symbol for the colour
# bar, and whether it is signed (a diverging map centred on zero).
PANELS = {
    "psi": ("stream function psi", "psi", True),
    "p_anomaly": ("pressure departure from its horizontal mean, p - <p>(z)", "p - <p>", True),
    "v": ("swirl (azimuthal velocity) v", "v", True),
    "b": ("buoyancy b", "b", False),
    "w": ("vertical velocity w", "w", True),
}

# Readable titles of the history columns of `qeltool hist`.
HISTORY_TITLES = {
    "DT": "time step DT",
    "dt": "time step DT",
    "min_u": "smallest radial velocity u",
    "max_v": "largest swirl v",
    "max_w": "largest vertical velocity w",
    "pressure_deficit": "pressure deficit (smallest p - p at the outer bottom)",
    "divmax": "largest divergence before the pressure correction",
    "column_pressure_contrast": "column-pressure contrast (axis - 0.5 <= r <= 1)",
}


def stream_function(r, w, axi):
    """psi(r, z) = integral from the axis of r w dr (w dr in plane geometry),
    trapezoidal, for a flow given by its velocities only."""
    f = w * (r[np.newaxis, :] if axi else 1.0)
    dr = np.diff(r)[np.newaxis, :]
    psi = np.zeros_like(f)
    psi[:, 1:] = np.cumsum(0.5 * (f[:, 1:] + f[:, :-1]) * dr, axis=1)
    return psi


def fields_at(nc, index):
    """The four panel fields and the stream function at one time, as
    (name, array) pairs in z, r order."""
    var = nc.variables
    out = []
    if "psi" in var:
        psi = np.asarray(var["psi"][index, :, :], dtype=float)
        out.append(("psi", psi))
    else:
        p = np.asarray(var["p_point"][index, :, :], dtype=float)
        # The hydrostatic part swamps the dynamics: show the departure from
        # the mean over r at each height.
        out.append(("p_anomaly", p - np.nanmean(p, axis=1, keepdims=True)))
        axi = float(nc.getncattr("AXI")) != 0.0 if "AXI" in nc.ncattrs() else True
        psi = stream_function(np.asarray(var["r"][:], dtype=float),
                              np.asarray(var["w"][index, :, :], dtype=float), axi)
    for name in ("v", "b", "w"):
        out.append((name, np.asarray(var[name][index, :, :], dtype=float)))
    return out, psi


def limits_of(values, signed):
    """Colour limits: symmetric about 0 for a signed field; None when the
    field is zero (or has no finite value)."""
    data = values[np.isfinite(values)]
    if data.size == 0:
        return None
    lo, hi = float(data.min()), float(data.max())
    if lo == 0.0 and hi == 0.0:
        return None
    if signed:
        m = max(abs(lo), abs(hi))
        return (-m, m)
    if hi == lo:
        pad = 0.5 * max(abs(lo), 1e-12)
        return (lo - pad, hi + pad)
    return (lo, hi)


def levels_for(lims, signed):
    """Rounded contour levels covering the limits (about 20 bands, 40 for
    a signed field, which spends half on each sign), symmetric about zero
    for a signed field."""
    loc = ticker.MaxNLocator(nbins=40 if signed else 20, symmetric=signed, steps=[1, 2, 2.5, 5, 10])
    return loc.tick_values(*lims)


def panel(ax, fig, r, z, name, values, psi=None, lims=None):
    """One field in the r-z plane. Returns what was drawn: the colour map's
    name and the contour levels, or the map "zero" for a field that is zero
    everywhere."""
    title, symbol, signed = PANELS[name]
    ax.set_title(title, fontsize=10)
    ax.set_xlabel("r")
    ax.set_ylabel("z")
    ax.set_aspect("equal", adjustable="box")
    ax.set_xlim(float(r[0]), float(r[-1]))
    ax.set_ylim(float(z[0]), float(z[-1]))
    data = np.ma.masked_invalid(values)
    if lims is None:
        lims = limits_of(np.asarray(values), signed)
    if lims is None:
        finite = np.isfinite(values).any()
        ax.text(0.5, 0.5, "%s = 0 everywhere" % symbol if finite else "no finite values",
                ha="center", va="center", transform=ax.transAxes, fontsize=12, zorder=5,
                bbox=dict(boxstyle="round", facecolor="white", edgecolor="0.6"))
        drawn = {"cmap": "zero", "levels": []}
    else:
        cmap = DIVERGING if signed else SEQUENTIAL
        lev = levels_for(lims, signed)
        cs = ax.contourf(r, z, np.clip(data, lev[0], lev[-1]), levels=lev, cmap=cmap)
        cb = fig.colorbar(cs, ax=ax)
        cb.set_label("%s (non-dimensional)" % symbol)
        cb.locator = ticker.MaxNLocator(nbins=6, symmetric=signed)
        cb.formatter = ticker.ScalarFormatter(useMathText=True)
        cb.formatter.set_powerlimits((-3, 3))
        cb.update_ticks()
        drawn = {"cmap": cs.get_cmap().name, "levels": list(cs.levels)}
    if psi is not None and name != "psi":
        plim = limits_of(psi, True)
        if plim is not None:
            lev = ticker.MaxNLocator(nbins=12, symmetric=True).tick_values(*plim)
            lev = lev[lev != 0.0]
            ax.contour(r, z, psi, levels=lev, colors="k", linewidths=0.6, alpha=0.7,
                       linestyles=np.where(lev > 0, "solid", "dashed"))
    return drawn


def draw_fields(nc, index, fig=None, limits=None):
    """The four panels of one time on `fig` (a new figure by default).
    Returns the figure and, per panel, what was drawn (colour map or
    "zero", contour levels)."""
    r = np.asarray(nc.variables["r"][:], dtype=float)
    z = np.asarray(nc.variables["z"][:], dtype=float)
    fields, psi = fields_at(nc, index)
    if fig is None:
        fig = plt.figure(figsize=(10, 8), dpi=DPI, layout="constrained")
    fig.clear()
    axes = fig.subplots(2, 2)
    drawn = {}
    for ax, (name, values) in zip(axes.flat, fields):
        lims = limits.get(name) if limits else None
        drawn[name] = panel(ax, fig, r, z, name, values, psi, lims)
    t = float(nc.variables["time"][index])
    fig.suptitle("%s   t = %.4g   (contours: stream function, dashed negative)"
                 % (os.path.basename(nc.filepath()), t))
    return fig, drawn


def pick_index(nc, path, time, index):
    times = nc.variables["time"][:]
    if index is None:
        index = len(times) - 1 if time is None else int(np.argmin(np.abs(times - time)))
    if not 0 <= index < len(times):
        sys.exit("qelplot.py: %s holds %d times; index %d is outside" % (path, len(times), index))
    return index


def plot_fields(path, time, index, prefix):
    with Dataset(path) as nc:
        fig, drawn = draw_fields(nc, pick_index(nc, path, time, index))
        out = prefix + "-fields.png"
        fig.savefig(out, dpi=DPI)
        plt.close(fig)
        return out, drawn


def make_movie(path, out):
    """The four panels at every time of the file, colour limits fixed over
    the whole run."""
    if out.endswith(".mp4"):
        if shutil.which("ffmpeg") is None:
            sys.exit("qelplot.py: an MP4 movie needs ffmpeg (Debian: apt-get install ffmpeg); "
                     "name a .gif instead")
        writer = animation.FFMpegWriter(fps=4)
    elif out.endswith(".gif"):
        try:
            import PIL  # noqa: F401  (PillowWriter needs it)
        except ImportError:
            sys.exit("qelplot.py: a GIF movie needs python3-pil (Debian: apt-get install python3-pil)")
        writer = animation.PillowWriter(fps=4)
    else:
        sys.exit("qelplot.py: the movie must be named .gif or .mp4, found %s" % out)
    with Dataset(path) as nc:
        n = len(nc.variables["time"][:])
        limits = {}
        for k in range(n):
            fields, _ = fields_at(nc, k)
            for name, values in fields:
                lims = limits_of(values, PANELS[name][2])
                if lims is None:
                    continue
                old = limits.get(name)
                limits[name] = lims if old is None else (min(old[0], lims[0]), max(old[1], lims[1]))
        fig = plt.figure(figsize=(10, 8), dpi=DPI, layout="constrained")
        with writer.saving(fig, out, DPI):
            for k in range(n):
                draw_fields(nc, k, fig, limits)
                writer.grab_frame()
        plt.close(fig)
    return out, n


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
    # Columns that are zero throughout say nothing about this run.
    shown = [k for k in range(1, 8) if any(x != 0.0 for x in columns[k])]
    left_out = [header[k] for k in range(1, 8) if k not in shown]
    rows = max(1, (len(shown) + 1) // 2)
    fig, axes = plt.subplots(rows, 2, figsize=(10, 10), dpi=DPI, layout="constrained",
                             squeeze=False)
    for ax, k in zip(axes.flat, shown):
        ax.plot(columns[0], columns[k], ".-", markersize=3)
        ax.set_title(HISTORY_TITLES.get(header[k], header[k]), fontsize=10)
        ax.set_xlabel("model time t (non-dimensional)")
        ax.yaxis.set_major_formatter(ticker.ScalarFormatter(useMathText=True))
        ax.ticklabel_format(axis="y", style="sci", scilimits=(-3, 3))
    for ax in list(axes.flat)[len(shown):]:
        ax.axis("off")
    note = ("; zero throughout, left out: " + ", ".join(left_out)) if left_out else ""
    fig.suptitle("%s: diagnostics against model time%s" % (os.path.basename(path), note),
                 fontsize=11)
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
    p.add_argument("--movie", help="animate every time of FILE.nc into MOVIE.gif or MOVIE.mp4")
    p.add_argument("-o", "--out", help="prefix of the PNG files")
    a = p.parse_args()
    if a.nc is None and a.hist is None:
        p.error("give a NetCDF file, --hist, or both")
    if a.time is not None and a.index is not None:
        p.error("give --time or --index, not both")
    if a.movie is not None and a.nc is None:
        p.error("--movie needs a NetCDF file")
    prefix = a.out or os.path.splitext(a.nc or a.hist)[0]
    if a.nc is not None:
        print("wrote", plot_fields(a.nc, a.time, a.index, prefix)[0])
    if a.hist is not None:
        print("wrote", plot_history(a.hist, prefix))
    if a.movie is not None:
        out, n = make_movie(a.nc, a.movie)
        print("wrote %s (%d frames)" % (out, n))


if __name__ == "__main__":
    main()
