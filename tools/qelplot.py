#!/usr/bin/python3
"""Pictures of qel output.

  qelplot.py [FILE.nc ...] [--time T | --index K] [--hist HIST.csv] [-o PREFIX]
             [--movie MOVIE.gif|MOVIE.mp4]

FILE.nc, written by `qeltool nc`: four panels in the r-z plane at one time
(the last unless --time or --index is given), written to PREFIX-fields.png
(1000 x 800 pixels): the stream function psi (vorticity core) or the
pressure's departure from its horizontal mean at each height (primitive
core), the swirl v, the buoyancy b and the vertical velocity w. Signed
fields (psi, p', v, w) use a diverging colour map centred on zero; a field
that is zero everywhere says so, and so does a field whose largest value
is at rounding level (below 1e-12) against its largest over the run (or,
for p', against the pressure itself, for v and w against the run's largest
velocity): it is drawn as zero instead of contouring rounding noise.
Stream-function contours are drawn over the other panels (in the primitive
core the stream function is integrated from w: psi = integral of r w dr, or
of w dr in plane geometry); solid lines are positive, dashed negative, and
the title gives their interval.

Several NetCDF files (the runs of a sweep) give one picture with one row of
the four panels per run (1600 x (100 + 550 x runs) pixels), each field with
the same colour limits and the stream-function contours at the same levels
in every row, each row titled with the run parameters that differ between
the runs.

HIST.csv, written by `qeltool hist`: the diagnostic columns against time,
written to PREFIX-history.png (1000 x 1000 pixels); columns that are zero
throughout the run (the pressure columns of the vorticity core, the swirl
of a run without one) are left out.

--movie animates the four panels over all the times of FILE.nc with colour
limits and stream-function contour levels fixed over the run: a GIF (needs
python3-pil) or, where ffmpeg is installed, an MP4.

PREFIX defaults to the name of the first input without its extension.
Inputs are checked before anything is written: a missing or unreadable
file, one that is not what `qeltool nc` or `qeltool hist` writes, or an
output directory that does not exist ends with one line on standard error
and status 2. Pictures are written to a temporary file and renamed.
Needs matplotlib and netCDF4 (Debian: apt-get install python3-matplotlib
python3-netcdf4 python3-pil); draws without a display. Every quantity is
non-dimensional (lengths in units of L, velocities of U, times of L/U).
"""

import argparse
import csv
import math
import os
import shutil
import subprocess
import sys

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
    from matplotlib import cm, colors, ticker
    from netCDF4 import Dataset
except ImportError as e:
    sys.exit(
        "qelplot.py: %s; it needs matplotlib and netCDF4 "
        "(Debian: apt-get install python3-matplotlib python3-netcdf4)" % e
    )

DPI = 100
DIVERGING = "RdBu_r"
SEQUENTIAL = "viridis"

# A field whose largest magnitude is below this fraction of its scale is
# rounding noise: double-precision rounding (2.2e-16 per operation)
# accumulated over some thousands of operations stays well below it.
ROUNDING = 1e-12

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
HISTORY_HEADER = ["time", "DT", "min_u", "max_v", "max_w", "pressure_deficit", "divmax",
                  "column_pressure_contrast"]

# The run parameters among the global attributes of `qeltool nc`; TIME and
# DT are those of the first time, not a property of the run.
RUN_PARAMETERS = [
    "DTMAX", "CFL", "DIFF", "USEPRIM", "ORDER", "REI", "REIT", "RWID", "HITE", "STR", "STZ",
    "PIT", "RLX", "AXI", "SWIRL", "SLIPB", "SLIPT", "SLIPS", "BDFON", "BDFZ", "BDFRZ", "BDFRX",
    "BDFTURNON", "BUOYBOUND", "BACTIVE", "BSMOOTH", "BINTERFACE", "FROUDEINV", "RAY", "PRN",
    "EXTRA1", "EXTRA2", "EXTRA3", "EXTRA4",
]


class InputError(Exception):
    """An input or output the user named cannot be used: one line, status 2."""


def stream_function(r, w, axi):
    """psi(r, z) = integral from the axis of r w dr (w dr in plane geometry),
    trapezoidal, for a flow given by its velocities only."""
    f = w * (r[np.newaxis, :] if axi else 1.0)
    dr = np.diff(r)[np.newaxis, :]
    psi = np.zeros_like(f)
    with np.errstate(over="ignore", invalid="ignore"):
        psi[:, 1:] = np.cumsum(0.5 * (f[:, 1:] + f[:, :-1]) * dr, axis=1)
    return psi


def largest(values):
    """Largest finite magnitude (0 when there is none)."""
    data = np.abs(values[np.isfinite(values)])
    return float(data.max()) if data.size else 0.0


class Run:
    """A NetCDF file of `qeltool nc`, checked on opening, read one time at
    a time."""

    def __init__(self, path):
        self.path = path
        try:
            self.nc = Dataset(path)
        except FileNotFoundError:
            raise InputError("%s: no such file" % path)
        except OSError as e:
            raise InputError("%s: not a NetCDF file (%s)" % (path, e.strerror or e))
        try:
            self._check()
        except InputError:
            self.nc.close()
            raise
        var = self.nc.variables
        self.primitive = "psi" not in var
        self.r = self._read("r")
        self.z = self._read("z")
        self.times = self._read("time")
        attrs = self.nc.ncattrs()
        self.params = {k: self.nc.getncattr(k) for k in RUN_PARAMETERS if k in attrs}
        self.axi = float(self.params.get("AXI", 1.0)) != 0.0
        self._scales = None

    def _check(self):
        var = self.nc.variables
        what = "%s: not a NetCDF file of `qeltool nc`" % self.path
        for name in ("r", "z", "time", "v", "b", "w"):
            if name not in var:
                raise InputError("%s (no variable %s)" % (what, name))
        if "psi" not in var and "p_point" not in var:
            raise InputError("%s (neither psi nor p_point)" % what)
        nt, nz, nr = (len(var[n]) if var[n].ndim == 1 else -1 for n in ("time", "z", "r"))
        if min(nt, nz, nr) < 1 or nz < 2 or nr < 2:
            raise InputError("%s (time, z and r must be one-dimensional, z and r of at least two "
                             "points, and at least one time)" % what)
        for name in ("psi", "p_point", "v", "b", "w"):
            if name in var and var[name].shape != (nt, nz, nr):
                raise InputError("%s (%s is %s, not time x z x r = %d x %d x %d)"
                                 % (what, name, "x".join(map(str, var[name].shape)), nt, nz, nr))

    def _read(self, name, index=None):
        v = self.nc.variables[name]
        data = v[:] if index is None else v[index, :, :]
        return np.ma.filled(np.ma.asarray(data, dtype=float), np.nan)

    def close(self):
        self.nc.close()

    def pick(self, time, index):
        """Index of the stored time nearest to `time`, or `index`, or the last."""
        n = len(self.times)
        if index is None:
            if time is None:
                return n - 1
            return int(np.nanargmin(np.abs(self.times - time))) if np.isfinite(self.times).any() else 0
        if not 0 <= index < n:
            raise InputError("%s holds %d times; index %d is outside" % (self.path, n, index))
        return index

    def frame(self, index):
        """The four panel fields and the stream function at one time, as
        (name, array) pairs in z, r order."""
        out = []
        if not self.primitive:
            psi = self._read("psi", index)
            out.append(("psi", psi))
        else:
            p = self._read("p_point", index)
            # The hydrostatic part swamps the dynamics: show the departure
            # from the mean over r at each height.
            with np.errstate(over="ignore", invalid="ignore"):
                mean = np.nanmean(p, axis=1, keepdims=True) if np.isfinite(p).any() else p
                out.append(("p_anomaly", p - mean))
            psi = stream_function(self.r, self._read("w", index), self.axi)
        for name in ("v", "b", "w"):
            out.append((name, self._read(name, index)))
        return out, psi

    def scales(self):
        """Per panel, the magnitude against which its rounding level is
        judged: the largest over the run of the field itself (the stream
        function, the buoyancy), of the pressure (for its departure, a
        difference of pressures), or of any velocity (for v and w)."""
        if self._scales is None:
            names = ["v", "w"] + (["u"] if "u" in self.nc.variables else [])
            s = {"psi": 0.0, "p_anomaly": 0.0, "velocity": 0.0, "b": 0.0, "contours": 0.0}
            for k in range(len(self.times)):
                s["velocity"] = max([s["velocity"]] + [largest(self._read(n, k)) for n in names])
                s["b"] = max(s["b"], largest(self._read("b", k)))
                if self.primitive:
                    s["p_anomaly"] = max(s["p_anomaly"], largest(self._read("p_point", k)))
                    psi = stream_function(self.r, self._read("w", k), self.axi)
                else:
                    psi = self._read("psi", k)
                s["psi"] = s["contours"] = max(s["psi"], largest(psi))
            s["v"] = s["w"] = s["velocity"]
            self._scales = s
        return self._scales


def clean(name, values, scale):
    """The field to draw and a note: a signed field whose largest magnitude
    is at rounding level against `scale` becomes zero, a buoyancy whose
    variation is at rounding level becomes uniform."""
    finite = np.isfinite(values)
    if not finite.any():
        return values, None
    big = largest(values)
    if PANELS[name][2]:
        if 0.0 < big <= ROUNDING * scale:
            note = "%s at rounding level:\n|%s| <= %.1e,\nrun's scale %.1e;\ndrawn as zero" % (
                PANELS[name][1], PANELS[name][1], big, scale)
            return np.where(finite, 0.0, values), note
        return values, None
    lo, hi = float(values[finite].min()), float(values[finite].max())
    if lo != hi and hi - lo <= ROUNDING * max(scale, big):
        mid = 0.5 * lo + 0.5 * hi
        return np.where(finite, mid, values), "%s uniform\nto rounding level" % PANELS[name][1]
    return values, None


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


def merge(a, b):
    """The union of two colour limits (either may be None)."""
    if a is None or b is None:
        return a if b is None else b
    return (min(a[0], b[0]), max(a[1], b[1]))


def exponent(lims):
    """Power of ten that brings limits beyond 1e100 (or below 1e-100) to
    order one, so that contour levels stay finite for any double (a
    blown-up 1e308 as a vanishing 1e-300); 0 for every ordinary field."""
    m = max(abs(lims[0]), abs(lims[1]))
    if not (m > 0 and math.isfinite(m)) or 1e-100 <= m <= 1e100:
        return 0
    return math.floor(math.log10(m))


def scaled(values, k):
    """values / 10^k, computed without overflow."""
    with np.errstate(over="ignore", invalid="ignore"):
        return values / 10.0**k if -300 <= k <= 300 else (values / 10.0**(k // 2)) / 10.0**(k - k // 2)


def levels_for(lims, signed):
    """Rounded contour levels covering the limits (about 20 bands, 40 for
    a signed field, which spends half on each sign), symmetric about zero
    for a signed field."""
    loc = ticker.MaxNLocator(nbins=40 if signed else 20, symmetric=signed, steps=[1, 2, 2.5, 5, 10])
    return loc.tick_values(*lims)


def contour_levels(lims):
    """Stream-function contour levels (in units of 10^k) and k: about 12
    rounded intervals symmetric about zero, zero itself left out."""
    if lims is None:
        return None, 0
    k = exponent(lims)
    m = max(abs(lims[0]), abs(lims[1]))
    m = float(scaled(np.array([m]), k)[0])
    lev = ticker.MaxNLocator(nbins=12, symmetric=True).tick_values(-m, m)
    return lev[lev != 0.0], k


def interval_text(levels, k):
    """The contour interval, levels[1] - levels[0] in units of 10^k."""
    if levels is None or len(levels) < 2:
        return "no stream-function contours (psi = 0)"
    step = float(levels[1] - levels[0])
    e = math.floor(math.log10(step))
    return "contours: stream function every %.3ge%d, dashed negative" % (step / 10.0**e, e + k)


class Panel:
    """One field in the r-z plane with fixed colour limits (None: the field
    is zero throughout), its colour bar drawn once; show() replaces only the
    filled contours, the stream-function lines and the note."""

    def __init__(self, ax, fig, r, z, name, lims):
        title, symbol, signed = PANELS[name]
        self.ax, self.r, self.z, self.name, self.lims = ax, r, z, name, lims
        ax.set_title(title, fontsize=10)
        ax.set_xlabel("r")
        ax.set_ylabel("z")
        ax.set_aspect("equal", adjustable="box")
        ax.set_xlim(float(r[0]), float(r[-1]))
        ax.set_ylim(float(z[0]), float(z[-1]))
        self.text = ax.text(0.5, 0.5, "", ha="center", va="center", transform=ax.transAxes,
                            fontsize=10, zorder=5, visible=False,
                            bbox=dict(boxstyle="round", facecolor="white", edgecolor="0.6"))
        # A note over the panel must not shrink it.
        self.text.set_in_layout(False)
        self.artists = []
        self.k = 0
        self.levels = None
        if lims is not None:
            self.k = exponent(lims)
            lo, hi = (float(x) for x in scaled(np.array(lims), self.k))
            self.levels = levels_for((lo, hi), signed)
            self.cmap = plt.get_cmap(DIVERGING if signed else SEQUENTIAL)
            self.norm = colors.BoundaryNorm(self.levels, self.cmap.N)
            cb = fig.colorbar(cm.ScalarMappable(norm=self.norm, cmap=self.cmap), ax=ax)
            unit = "non-dimensional" if self.k == 0 else "non-dimensional, x 1e%d" % self.k
            cb.set_label("%s (%s)" % (symbol, unit))
            cb.locator = ticker.MaxNLocator(nbins=6, symmetric=signed)
            cb.formatter = ticker.ScalarFormatter(useMathText=True)
            cb.formatter.set_powerlimits((-3, 3))
            cb.update_ticks()

    def show(self, values, note=None, psi=None, psi_levels=None, psi_k=0):
        """Draw one time. Returns what was drawn: the colour map's name and
        the contour levels (in units of 10^exponent), or the map "zero"."""
        for a in self.artists:
            for c in a.collections:
                c.remove()
        self.artists = []
        symbol = PANELS[self.name][1]
        finite = np.isfinite(values).any()
        zero = self.lims is None or not finite or largest(values) == 0.0 and PANELS[self.name][2]
        if zero:
            text = note or ("%s = 0 everywhere" % symbol if finite else "no finite values")
            drawn = {"cmap": "zero", "levels": [], "exponent": 0, "note": text}
        else:
            data = np.ma.masked_invalid(scaled(values, self.k))
            cs = self.ax.contourf(self.r, self.z, np.clip(data, self.levels[0], self.levels[-1]),
                                  levels=self.levels, cmap=self.cmap, norm=self.norm)
            self.artists.append(cs)
            text = note
            drawn = {"cmap": self.cmap.name, "levels": list(self.levels), "exponent": self.k,
                     "note": note}
        self.text.set_text(text or "")
        self.text.set_visible(bool(text))
        if psi is not None and psi_levels is not None and self.name != "psi":
            data = np.ma.masked_invalid(scaled(psi, psi_k))
            # Only the levels the field reaches (contour warns of the others).
            lev = psi_levels[(psi_levels >= data.min()) & (psi_levels <= data.max())]
            if len(lev):
                lines = self.ax.contour(self.r, self.z, data, levels=lev, colors="k",
                                        linewidths=0.6, alpha=0.7,
                                        linestyles=np.where(lev > 0, "solid", "dashed"))
                self.artists.append(lines)
        return drawn


def frame_of(run, index):
    """One time of a run, ready to draw: per panel the field and its note,
    and the stream function for the contours (None at rounding level)."""
    fields, psi = run.frame(index)
    scales = run.scales()
    out = [(name,) + clean(name, values, scales[name]) for name, values in fields]
    psi, psi_note = clean("psi", psi, scales["contours"])
    return out, (None if psi_note or largest(psi) == 0.0 else psi)


def limits_over(frames):
    """Per field, the colour limits covering all the given frames."""
    limits = {}
    for fields, _ in frames:
        for name, values, _ in fields:
            limits[name] = merge(limits.get(name), limits_of(values, PANELS[name][2]))
    return limits


def psi_limits_over(frames):
    lims = None
    for _, psi in frames:
        if psi is not None:
            lims = merge(lims, limits_of(psi, True))
    return lims


class FieldsFigure:
    """The four panels of a run on a figure (or subfigure) with limits and
    stream-function levels fixed when it is made; update() draws one time."""

    def __init__(self, fig, run, fields, limits, psi_levels, psi_k, shape=(2, 2)):
        axes = fig.subplots(*shape)
        self.psi_levels, self.psi_k = psi_levels, psi_k
        self.panels = [Panel(ax, fig, run.r, run.z, name, limits.get(name))
                       for ax, (name, _, _) in zip(np.ravel(axes), fields)]

    def update(self, fields, psi):
        """Draw one time. Returns, per panel, what was drawn, and under
        "contours" the stream-function levels (units of 10^psi_k) or None."""
        drawn = {p.name: p.show(values, note, psi, self.psi_levels, self.psi_k)
                 for p, (_, values, note) in zip(self.panels, fields)}
        drawn["contours"] = None if psi is None or self.psi_levels is None else list(self.psi_levels)
        return drawn


def title_of(run, index):
    return "%s   t = %.4g" % (os.path.basename(run.path), float(run.times[index]))


def draw_fields(run, index):
    """The picture of one time of one run, colour limits and contour levels
    from that time. Returns the figure and, per panel, what was drawn."""
    frame = frame_of(run, index)
    psi_levels, k = contour_levels(psi_limits_over([frame]))
    fig = plt.figure(figsize=(10, 8), dpi=DPI, layout="constrained")
    drawn = FieldsFigure(fig, run, frame[0], limits_over([frame]), psi_levels, k).update(*frame)
    drawn["title"] = fig.suptitle("%s   (%s)" % (title_of(run, index),
                                                interval_text(psi_levels, k))).get_text()
    return fig, drawn


def draw_runs(runs, indices):
    """One row per run, the same colour limits per field and the same
    stream-function levels in every row; each row titled with the run
    parameters that differ between the runs."""
    frames = [frame_of(run, k) for run, k in zip(runs, indices)]
    limits = limits_over(frames)
    psi_levels, k = contour_levels(psi_limits_over(frames))
    fig = plt.figure(figsize=(16, 1 + 5.5 * len(runs)), dpi=DPI, layout="constrained")
    differ = [p for p in RUN_PARAMETERS
              if len({repr(run.params.get(p)) for run in runs}) > 1]
    drawn = []
    for sub, run, index, frame in zip(fig.subfigures(len(runs), 1, squeeze=False).flat, runs,
                                      indices, frames):
        label = ", ".join("%s = %s" % (p, "%.6g" % run.params[p] if p in run.params else "?")
                          for p in differ) or "the same parameters as the other runs"
        row = FieldsFigure(sub, run, frame[0], limits, psi_levels, k, (1, 4)).update(*frame)
        row["title"] = sub.suptitle("%s   %s" % (title_of(run, index), label), fontsize=11).get_text()
        drawn.append(row)
    fig.suptitle("%d runs, same colour limits per field   (%s)"
                 % (len(runs), interval_text(psi_levels, k)))
    return fig, drawn


def output_dir(path):
    """The directory a file is to be written into, which must exist."""
    d = os.path.dirname(path) or "."
    if not os.path.isdir(d):
        raise InputError("%s: cannot write there, directory %s does not exist" % (path, d))
    if not os.access(d, os.W_OK):
        raise InputError("%s: cannot write there, directory %s is not writable" % (path, d))
    return d


def temporary(path):
    d = os.path.dirname(path) or "."
    return os.path.join(d, ".%s.%d.tmp%s" % (os.path.basename(path), os.getpid(),
                                              os.path.splitext(path)[1]))


def save(fig, out):
    """Write a picture through a temporary file renamed over `out`."""
    tmp = temporary(out)
    try:
        fig.savefig(tmp, dpi=DPI)
        os.replace(tmp, out)
    except OSError as e:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise InputError("%s: cannot write (%s)" % (out, e.strerror or e))
    finally:
        plt.close(fig)
    return out


class GifFrames:
    """Frames collected and written as one looping GIF (python3-pil)."""

    def __init__(self, out, fps):
        from PIL import Image
        self.image, self.out, self.fps, self.frames = Image, out, fps, []

    def add(self, rgba):
        self.frames.append(self.image.fromarray(np.array(rgba[:, :, :3])))

    def close(self):
        self.frames[0].save(self.out, format="GIF", save_all=True, append_images=self.frames[1:],
                            duration=int(1000 / self.fps), loop=0)


class Mp4Frames:
    """Frames piped as raw RGBA to ffmpeg, which encodes an H.264 MP4."""

    def __init__(self, out, fps, width, height):
        self.proc = subprocess.Popen(
            ["ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgba",
             "-s", "%dx%d" % (width, height), "-r", str(fps), "-i", "-", "-pix_fmt", "yuv420p",
             "-f", "mp4", out], stdin=subprocess.PIPE)

    def add(self, rgba):
        self.proc.stdin.write(np.ascontiguousarray(rgba).tobytes())

    def close(self):
        self.proc.stdin.close()
        if self.proc.wait() != 0:
            raise OSError("ffmpeg ended with status %d" % self.proc.returncode)


def check_movie(out):
    """The movie's format from its name, with what it needs installed."""
    if out.endswith(".mp4"):
        if shutil.which("ffmpeg") is None:
            raise InputError("%s: an MP4 movie needs ffmpeg (Debian: apt-get install ffmpeg); "
                             "name a .gif instead" % out)
        return "mp4"
    if out.endswith(".gif"):
        try:
            import PIL  # noqa: F401
        except ImportError:
            raise InputError("%s: a GIF movie needs python3-pil (Debian: apt-get install python3-pil)"
                             % out)
        return "gif"
    raise InputError("%s: the movie must be named .gif or .mp4" % out)


def make_movie(run, out, kind, fps=4):
    """The four panels at every time of the run, colour limits and
    stream-function contour levels fixed over the whole run. The figure, its
    axes, colour bars and labels are laid out and rendered once; each frame
    restores that background and draws on it only what changes: the filled
    contours, the stream-function lines, the notes and the title."""
    n = len(run.times)
    limits, psi_lims = {}, None
    for k in range(n):
        frame = frame_of(run, k)
        for name, lims in limits_over([frame]).items():
            limits[name] = merge(limits.get(name), lims)
        psi_lims = merge(psi_lims, psi_limits_over([frame]))
    psi_levels, pk = contour_levels(psi_lims)
    fig = plt.figure(figsize=(10, 8), dpi=DPI, layout="constrained")
    title = fig.suptitle(title_of(run, 0) + "   (" + interval_text(psi_levels, pk) + ")")
    figure = FieldsFigure(fig, run, frame_of(run, 0)[0], limits, psi_levels, pk)
    canvas = fig.canvas
    tmp = temporary(out)
    try:
        # The layout of the first frame, then frozen; the static background
        # rendered without anything that changes.
        canvas.draw()
        fig.set_layout_engine("none")
        title.set_visible(False)
        for p in figure.panels:
            p.text.set_visible(False)
        canvas.draw()
        background = canvas.copy_from_bbox(fig.bbox)
        title.set_visible(True)
        renderer = canvas.get_renderer()
        width, height = canvas.get_width_height()
        frames = GifFrames(tmp, fps) if kind == "gif" else Mp4Frames(tmp, fps, width, height)
        drawn = []
        for k in range(n):
            drawn.append(figure.update(*frame_of(run, k)))
            title.set_text("%s   (%s)" % (title_of(run, k), interval_text(psi_levels, pk)))
            canvas.restore_region(background)
            for p in figure.panels:
                for a in p.artists:
                    for c in a.collections:
                        c.draw(renderer)
                for spine in p.ax.spines.values():
                    spine.draw(renderer)
                if p.text.get_visible():
                    p.text.draw(renderer)
            title.draw(renderer)
            drawn[-1]["title"] = title.get_text()
            frames.add(np.asarray(canvas.buffer_rgba()))
        frames.close()
        os.replace(tmp, out)
    except (OSError, ValueError, subprocess.SubprocessError) as e:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise InputError("%s: cannot write the movie (%s)" % (out, getattr(e, "strerror", None) or e))
    finally:
        plt.close(fig)
    return out, drawn


def read_history(path):
    """The rows of a CSV file of `qeltool hist`, checked: the header, eight
    cells a row, each a number or empty (asterisks in the history, NaN)."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
    except FileNotFoundError:
        raise InputError("%s: no such file" % path)
    except UnicodeDecodeError as e:
        raise InputError("%s: not UTF-8 text (byte %d); expected the CSV of `qeltool hist`"
                         % (path, e.start))
    except (OSError, csv.Error) as e:
        raise InputError("%s: cannot read (%s)" % (path, getattr(e, "strerror", None) or e))
    if not rows or [c.strip() for c in rows[0]] != HISTORY_HEADER:
        raise InputError("%s: not a history table of `qeltool hist` (its first line must be %s)"
                         % (path, ",".join(HISTORY_HEADER)))
    table = []
    for line, row in enumerate(rows[1:], start=2):
        if len(row) != 8:
            raise InputError("%s: line %d has %d cells, expected 8" % (path, line, len(row)))
        values = []
        for col, cell in enumerate(row, start=1):
            try:
                values.append(float(cell) if cell.strip() != "" else math.nan)
            except ValueError:
                raise InputError("%s: line %d, column %d: '%s' is not a number"
                                 % (path, line, col, cell[:40]))
        table.append(values)
    return rows[0], table


def plot_history(path, header, table, prefix):
    columns = [list(c) for c in zip(*table)] or [[] for _ in range(8)]
    # Columns that are zero throughout say nothing about this run.
    shown = [k for k in range(1, 8) if any(x != 0.0 for x in columns[k])]
    left_out = [header[k] for k in range(1, 8) if k not in shown]
    nrows = max(1, (len(shown) + 1) // 2)
    fig, axes = plt.subplots(nrows, 2, figsize=(10, 10), dpi=DPI, layout="constrained",
                             squeeze=False)
    for ax, k in zip(axes.flat, shown):
        y = np.array(columns[k])
        # A blown-up run: the finite values only, beyond what a float can draw.
        y[~np.isfinite(y) | (np.abs(y) > 1e300)] = np.nan
        ax.plot(columns[0], y, ".-", markersize=3)
        ax.set_title(HISTORY_TITLES.get(header[k], header[k]), fontsize=10)
        ax.set_xlabel("model time t (non-dimensional)")
        ax.yaxis.set_major_formatter(ticker.ScalarFormatter(useMathText=True))
        ax.ticklabel_format(axis="y", style="sci", scilimits=(-3, 3))
    for ax in list(axes.flat)[len(shown):]:
        ax.axis("off")
    note = ("; zero throughout, left out: " + ", ".join(left_out)) if left_out else ""
    fig.suptitle("%s: diagnostics against model time%s" % (os.path.basename(path), note),
                 fontsize=11)
    return save(fig, prefix + "-history.png")


def finite_float(text):
    try:
        x = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a number" % text)
    if not math.isfinite(x):
        raise argparse.ArgumentTypeError("'%s' is not a finite model time" % text)
    return x


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("nc", nargs="*", help="NetCDF files of `qeltool nc` (one row per run)")
    p.add_argument("--time", type=finite_float, help="model time to show (the nearest stored one)")
    p.add_argument("--index", type=int, help="index of the time to show (0 the first)")
    p.add_argument("--hist", help="CSV file of `qeltool hist`")
    p.add_argument("--movie", help="animate every time of FILE.nc into MOVIE.gif or MOVIE.mp4")
    p.add_argument("-o", "--out", help="prefix of the PNG files")
    a = p.parse_args()
    if not a.nc and a.hist is None:
        p.error("give a NetCDF file, --hist, or both")
    if a.time is not None and a.index is not None:
        p.error("give --time or --index, not both")
    if a.movie is not None and len(a.nc) != 1:
        p.error("--movie needs one NetCDF file")
    prefix = a.out or os.path.splitext(a.nc[0] if a.nc else a.hist)[0]
    runs = []
    try:
        # Every input and output is checked before anything is drawn.
        for path in a.nc:
            runs.append(Run(path))
        indices = [run.pick(a.time, a.index) for run in runs]
        history = read_history(a.hist) if a.hist is not None else None
        output_dir(prefix + "-x.png")
        kind = None
        if a.movie is not None:
            output_dir(a.movie)
            kind = check_movie(a.movie)
        if runs:
            fig = (draw_fields(runs[0], indices[0]) if len(runs) == 1 else draw_runs(runs, indices))[0]
            print("wrote", save(fig, prefix + "-fields.png"))
        if history is not None:
            print("wrote", plot_history(a.hist, *history, prefix))
        if kind is not None:
            out, drawn = make_movie(runs[0], a.movie, kind)
            print("wrote %s (%d frames)" % (out, len(drawn)))
    except InputError as e:
        sys.stdout.flush()
        print("qelplot.py: %s" % e, file=sys.stderr)
        sys.exit(2)
    finally:
        for run in runs:
            run.close()


if __name__ == "__main__":
    main()
