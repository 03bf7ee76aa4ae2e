"""Quicklook figures: time-height panels of moments, wind barbs, virtual
temperatures, spectra.

Figures are drawn on matplotlib's Agg canvas (no display needed) and
written as PNG. Missing data is never given a colour: cells without a
value are left out, so the white panel shows through.
"""

import os
import tempfile

import matplotlib
import numpy as np

matplotlib.use("Agg")
from matplotlib import colors, dates  # noqa: E402
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from quellmar.errors import QuellmarFileError  # noqa: E402

# Colour maps and colour-bar labels by field.
FIELD_STYLE = {
    "SNR": ("viridis", "SNR (dB)"),
    "VEL": ("RdBu_r", "radial velocity (m s$^{-1}$)"),
    "WIDTH": ("magma_r", "spectral width (m s$^{-1}$)"),
    "NOISE": ("cividis", "noise level (dB)"),
    "VEL2": ("RdBu_r", "radial velocity, set 2 (m s$^{-1}$)"),
    "SNR2": ("viridis", "SNR, set 2 (dB)"),
    "WIDTH2": ("magma_r", "spectral width, set 2 (m s$^{-1}$)"),
    "AUX2": ("plasma", "auxiliary value, set 2 (stored / 10)"),
    # quellmar-moments files: the moments stored in the spectra file, and
    # the precipitation peak's.
    "VEL_STORED": ("RdBu_r", "stored velocity (m s$^{-1}$)"),
    "WIDTH_STORED": ("magma_r", "stored width (m s$^{-1}$)"),
    "SNR_STORED": ("viridis", "stored SNR (dB)"),
    "NOISE_STORED": ("cividis", "stored noise level (dB)"),
    "PRECIP_VEL": ("RdBu_r", "precipitation velocity (m s$^{-1}$)"),
    "PRECIP_WIDTH": ("magma_r", "precipitation width (m s$^{-1}$)"),
    "PRECIP_SNR": ("viridis", "precipitation SNR (dB)"),
    # Recomputed minus stored (quellmar-plot moments --minus-stored).
    "VEL-STORED": ("RdBu_r", "VEL − VEL_STORED (m s$^{-1}$)"),
    "WIDTH-STORED": ("RdBu_r", "WIDTH − WIDTH_STORED (m s$^{-1}$)"),
    "SNR-STORED": ("RdBu_r", "SNR − SNR_STORED (dB)"),
    "NOISE-STORED": ("RdBu_r", "NOISE − NOISE_STORED (dB)"),
}
# Fields drawn on a scale symmetric about 0 (outside RASS dwells).
SYMMETRIC_FIELDS = ("VEL", "VEL2", "VEL_STORED", "PRECIP_VEL",
                    "VEL-STORED", "WIDTH-STORED", "SNR-STORED", "NOISE-STORED")
# Dwells of this many spectral points or more are RASS dwells.
RASS_POINTS = 2048
TEMPERATURE_CMAP = "RdYlBu_r"
# The light part of YlGnBu, so that black barbs stand out on any speed.
SPEED_CMAP = colors.ListedColormap(matplotlib.colormaps["YlGnBu"](np.linspace(0.0, 0.6, 256)),
                                   name="speed")
W_CMAP = "RdBu_r"
POWER_CMAP = "viridis"
KNOTS_PER_M_S = 1.0 / 0.514444


def colour_range(values, symmetric=False):
    """The 2nd to 98th percentile of the finite values (symmetric about 0
    for velocities), widened to at least 1 unit."""
    finite = np.asarray(values, dtype=np.float64)
    finite = finite[np.isfinite(finite)]
    if finite.size == 0:
        return (-1.0, 1.0) if symmetric else (0.0, 1.0)
    low, high = np.percentile(finite, [2, 98])
    if symmetric:
        bound = max(abs(low), abs(high), 0.5)
        return -bound, bound
    if high - low < 1e-6:
        low, high = low - 0.5, high + 0.5
    return float(low), float(high)


def beyond_scale(values, low, high):
    """The colour bar's extend for values drawn on the scale low to high:
    an arrow at each end that some finite value lies past, as the cells
    of those values take the end's colour."""
    finite = np.asarray(values, dtype=np.float64)
    finite = finite[np.isfinite(finite)]
    under, over = bool(np.any(finite < low)), bool(np.any(finite > high))
    return {(True, True): "both", (True, False): "min", (False, True): "max"}.get(
        (under, over), "neither")


def time_edges(times, lower=None, upper=None):
    """Cell edges along time that keep gaps open.

    Returns (edges, columns): 2 N edges, and for each of the 2 N - 1 cells
    the record drawn there or -1 for the gap after a record. A record's cell
    spans its own bounds when given, else half the usual spacing of the
    records on each side, never past the middle to a neighbour.
    """
    t = dates.date2num(np.asarray(times, dtype="datetime64[us]"))
    n = len(t)
    if lower is None:
        step = np.median(np.diff(t)) if n > 1 else 60.0 / 86400.0
        step = step if step > 0 else 60.0 / 86400.0
        left, right = t - step / 2, t + step / 2
        if n > 1:
            middle = (t[1:] + t[:-1]) / 2
            left[1:] = np.maximum(left[1:], middle)
            right[:-1] = np.minimum(right[:-1], middle)
    else:
        left = dates.date2num(np.asarray(lower, dtype="datetime64[us]"))
        right = dates.date2num(np.asarray(upper, dtype="datetime64[us]"))
    edges = np.empty(2 * n)
    edges[0::2], edges[1::2] = left, right
    edges = np.maximum.accumulate(edges)  # records out of order or overlapping
    columns = np.full(max(2 * n - 1, 0), -1)
    columns[0::2] = np.arange(n)
    return edges, columns


def with_gaps(values, columns):
    """values (N, ...) spread over the cells of time_edges, NaN in the gaps."""
    out = np.full((len(columns),) + values.shape[1:], np.nan)
    out[columns >= 0] = values[columns[columns >= 0]]
    return out


def centre_edges(centres):
    """Edges around increasing centres (half a step beyond the ends)."""
    c = np.asarray(centres, dtype=np.float64)
    if c.size == 0:
        return np.zeros(1)
    if c.size == 1:
        return np.array([c[0] - 0.5, c[0] + 0.5])
    middle = (c[1:] + c[:-1]) / 2
    return np.concatenate([[c[0] - (middle[0] - c[0])], middle, [c[-1] + (c[-1] - middle[-1])]])


def day_text(times):
    days = sorted({str(d)[:10] for d in np.asarray(times).astype("datetime64[D]")})
    if not days:
        return "no records"
    return days[0] if len(days) == 1 else "%s to %s" % (days[0], days[-1])


class DayOnceFormatter(dates.ConciseDateFormatter):
    """Concise time labels that name a day once: when a tick already reads
    the month and day (midnight among hourly ticks), the offset beneath the
    axis keeps only the year instead of repeating that date."""

    def format_ticks(self, values):
        labels = super().format_ticks(values)
        if self.offset_string and len(values):
            days = [dates.num2date(v).strftime("%b-%d") for v in values]
            if any(label == day for label, day in zip(labels, days)):
                self.offset_string = dates.num2date(values[-1]).strftime("%Y")
        return labels


def format_time_axis(ax):
    locator = dates.AutoDateLocator(minticks=4, maxticks=10)
    ax.xaxis.set_major_locator(locator)
    ax.xaxis.set_major_formatter(DayOnceFormatter(locator))
    ax.set_xlabel("time (UTC)")


def new_figure(width, height):
    fig = Figure(figsize=(width, height), dpi=100, facecolor="white", layout="constrained")
    FigureCanvasAgg(fig)
    return fig


def save(fig, out):
    """Writes the PNG under a temporary name beside `out`, then renames it,
    so that `out` is either the whole picture or untouched."""
    folder = os.path.dirname(os.path.abspath(out))
    try:
        handle, temporary = tempfile.mkstemp(prefix=os.path.basename(out) + ".tmp-",
                                             dir=folder)
    except OSError as e:
        raise QuellmarFileError("%s: cannot write (%s)" % (out, e.strerror)) from None
    try:
        with os.fdopen(handle, "wb") as f:
            fig.savefig(f, format="png", facecolor="white")
        os.chmod(temporary, 0o644)
        os.replace(temporary, out)
    except BaseException as e:
        os.unlink(temporary)
        if isinstance(e, OSError):
            raise QuellmarFileError("%s: cannot write (%s)" % (out, e.strerror)) from None
        raise


def beam_mode(ds):
    """(mode, rass) of a beam's records: the mode most of them use, and
    whether its dwells are RASS dwells; (None, False) when unknown."""
    if "mode_index" not in ds or ds.sizes["time"] == 0:
        return None, False
    modes = ds["mode_index"].values
    values, counts = np.unique(modes, return_counts=True)
    mode = int(values[np.argmax(counts)])
    rass = "spectral_points" in ds and bool(
        np.any(ds["spectral_points"].values[modes == mode] >= RASS_POINTS))
    return mode, rass


def mode_norms(beams, field, vmin=None, vmax=None):
    """{mode: Normalize}: each operating mode its own colour range (the
    speed of sound and clear-air velocities do not share a scale), vmin
    and vmax, when given, in place of the computed ends."""
    by_mode = {}
    for ds in beams.values():
        mode, rass = beam_mode(ds)
        values = ds[field].values.ravel() if field in ds else np.zeros(0)
        entry = by_mode.setdefault(mode, [rass, []])
        entry[0] = entry[0] or rass
        entry[1].append(values)
    norms = {}
    for mode, (rass, values) in by_mode.items():
        low, high = colour_range(np.concatenate(values),
                                 symmetric=field in SYMMETRIC_FIELDS and not rass)
        low = low if vmin is None else vmin
        high = high if vmax is None else vmax
        if high <= low:
            high = low + 1.0
        norms[mode] = colors.Normalize(low, high)
    return norms


def moments_figure(beams, field, vmin=None, vmax=None):
    """One time-height panel per beam ({beam: Dataset} of read_moments),
    each with the colour scale of its operating mode."""
    cmap_name, label = FIELD_STYLE[field]
    cmap = matplotlib.colormaps[cmap_name].with_extremes(bad=(0, 0, 0, 0))
    norms = mode_norms(beams, field, vmin, vmax)

    fig = new_figure(11, 1.2 + 2.0 * len(beams))
    axes = fig.subplots(len(beams), 1, sharex=True, squeeze=False)[:, 0]
    for ax, (beam, ds) in zip(axes, beams.items()):
        ax.set_facecolor("white")
        mode, rass = beam_mode(ds)
        norm = norms[mode]
        edges, columns = time_edges(ds["time"].values)
        data = ds[field].values if field in ds else np.full(ds["height"].shape, np.nan)
        # Rays with the same gate geometry share one mesh.
        geometry = np.stack([ds["ray_start_range"].values, ds["ray_gate_spacing"].values,
                             ds["elevation"].values.astype(np.float64)], axis=1)
        shapes, which = np.unique(geometry, axis=0, return_inverse=True)
        which = np.asarray(which).ravel()
        for k, (first, spacing, elevation) in enumerate(shapes):
            rows = which == k
            grid = np.where(rows[:, None], data, np.nan)
            n = int(np.max(np.sum(np.isfinite(ds["height"].values[rows]), axis=1)))
            if n == 0:
                continue
            sine = np.sin(np.deg2rad(elevation))
            h_edges = (first + spacing * (np.arange(n + 1) - 0.5)) * sine / 1000.0
            cells = with_gaps(grid[:, :n], columns)
            ax.pcolormesh(edges, h_edges, np.ma.masked_invalid(cells.T),
                          cmap=cmap, norm=norm, shading="flat", rasterized=True)
        azimuth = float(ds["azimuth"].values[0]) if ds.sizes["time"] else 0.0
        elevation = float(ds["elevation"].values[0]) if ds.sizes["time"] else 0.0
        name = "" if mode is None else ", mode %d%s" % (mode, " (RASS)" if rass else "")
        ax.set_title("beam %d%s: azimuth %g°, elevation %g°" % (beam, name, azimuth, elevation),
                     fontsize=9, loc="left")
        ax.set_ylabel("height (km)")
        fig.colorbar(matplotlib.cm.ScalarMappable(norm, cmap), ax=ax, label=label,
                     fraction=0.03, pad=0.01)
    format_time_axis(axes[-1])
    any_ds = next(iter(beams.values()))
    times = np.concatenate([ds["time"].values for ds in beams.values()])
    title = field.replace("-STORED", " − " + field.replace("-STORED", "_STORED"))
    fig.suptitle("%s, %s, %s" % (any_ds.attrs.get("instrument_name", ""), day_text(times), title))
    return fig


def period_edges(ds):
    """time_edges of a profiles group, from its period bounds when present."""
    times = ds["time"].values
    if "time_bounds" in ds:
        bounds = ds["time_bounds"].values
        return time_edges(times, bounds[:, 0], bounds[:, 1])
    return time_edges(times)


def temperature_figure(ds, vmin=None, vmax=None):
    """The virtual temperature of one mode (read_temperatures' Dataset) as
    a time-height picture in degrees Celsius."""
    edges, columns = period_edges(ds)
    height = ds["height"].values.astype(np.float64) / 1000.0
    celsius = ds["virtual_temperature"].values.astype(np.float64) - 273.15
    low, high = colour_range(celsius)
    low = low if vmin is None else vmin
    high = high if vmax is None else vmax
    if high <= low:
        high = low + 1.0
    fig = new_figure(11, 5)
    ax = fig.subplots()
    ax.set_facecolor("white")
    cmap = matplotlib.colormaps[TEMPERATURE_CMAP].with_extremes(bad=(0, 0, 0, 0))
    mesh = ax.pcolormesh(edges, centre_edges(height),
                         np.ma.masked_invalid(with_gaps(celsius, columns).T),
                         cmap=cmap, norm=colors.Normalize(low, high), shading="flat",
                         rasterized=True)
    fig.colorbar(mesh, ax=ax, label="virtual temperature (°C)", fraction=0.03, pad=0.01,
                 extend=beyond_scale(celsius, low, high))
    ax.set_ylabel("height (km)")
    if len(edges):
        ax.set_xlim(edges[0], edges[-1])
    format_time_axis(ax)
    a = ds.attrs
    beam = " (RASS beam %d)" % a["rass_beam"] if "rass_beam" in a else ""
    fig.suptitle("%s, %s, virtual temperature of mode %d%s"
                 % (a.get("site_name", ""), day_text(ds["time"].values), a["mode"], beam))
    return fig


def room_for_barbs(fig, ax, barbs, low, high):
    """Widens the height axis of ax so that barbs drawn at heights low to
    high stay whole. A barb has a fixed size on the page, so the room is
    counted in pixels: below low as far as any barb reaches down from its
    point, above high as far as any reaches up, and 3 more for the line."""
    fig.draw_without_rendering()  # lays the figure out and sizes the barbs
    scales = barbs.get_transforms()  # pixels per unit of the barbs' shapes
    reach = np.concatenate([path.vertices[:, 1] * scales[k % len(scales)][1, 1]
                            for k, path in enumerate(barbs.get_paths())])
    below, above = max(0.0, -reach.min()) + 3.0, max(0.0, reach.max()) + 3.0
    pixels = ax.get_window_extent().height
    bottom, top = ax.get_ylim()
    # Each widening shrinks the pixels per km a little: a few rounds settle it.
    for _ in range(5):
        per_pixel = (top - bottom) / pixels
        bottom, top = min(bottom, low - below * per_pixel), max(top, high + above * per_pixel)
    ax.set_ylim(bottom, top)


def winds_figure(ds):
    """Barbs over shaded wind speed, and a panel of w, for one mode."""
    times = ds["time"].values
    edges, columns = period_edges(ds)
    height = ds["height"].values.astype(np.float64) / 1000.0
    h_edges = centre_edges(height)
    speed = ds["wind_speed"].values.astype(np.float64)
    w = ds["upward_air_velocity"].values.astype(np.float64)

    fig = new_figure(11, 7)
    top, bottom = fig.subplots(2, 1, sharex=True)
    for ax in (top, bottom):
        ax.set_facecolor("white")
        ax.set_ylabel("height (km)")
    # Speed shading from 0 to the 98th percentile of the speeds.
    finite = speed[np.isfinite(speed)]
    high = float(np.percentile(finite, 98)) if finite.size else 1.0
    shade = top.pcolormesh(edges, h_edges, np.ma.masked_invalid(with_gaps(speed, columns).T),
                           cmap=SPEED_CMAP, norm=colors.Normalize(0.0, max(high, 1.0)),
                           shading="flat", rasterized=True)
    fig.colorbar(shade, ax=top, label="wind speed (m s$^{-1}$)", fraction=0.03, pad=0.01)

    # Barbs in knots (half barb 5, full 10, pennant 50), thinned to a
    # readable density.
    u = ds["eastward_wind"].values.astype(np.float64)
    v = ds["northward_wind"].values.astype(np.float64)
    t_step = max(1, int(np.ceil(len(times) / 48)))
    h_step = max(1, int(np.ceil(len(height) / 24)))
    ti = np.arange(0, len(times), t_step)
    hi = np.arange(0, len(height), h_step)
    tt, hh = np.meshgrid(ti, hi, indexing="ij")
    uu, vv = u[tt, hh], v[tt, hh]
    keep = np.isfinite(uu) & np.isfinite(vv)
    centres = (edges[0::2] + edges[1::2]) / 2
    if keep.any():
        barbs = top.barbs(centres[tt[keep]], height[hh[keep]], uu[keep] * KNOTS_PER_M_S,
                          vv[keep] * KNOTS_PER_M_S, length=5.5, linewidth=0.7, color="black")
    top.set_title("horizontal wind (barbs in knots)", fontsize=9, loc="left")

    low, high = colour_range(w, symmetric=True)
    wmesh = bottom.pcolormesh(edges, h_edges, np.ma.masked_invalid(with_gaps(w, columns).T),
                              cmap=W_CMAP, norm=colors.Normalize(low, high),
                              shading="flat", rasterized=True)
    fig.colorbar(wmesh, ax=bottom, label="w (m s$^{-1}$)", fraction=0.03, pad=0.01)
    bottom.set_title("vertical air velocity w", fontsize=9, loc="left")
    if len(edges):
        top.set_xlim(edges[0], edges[-1])
    format_time_axis(bottom)
    fig.suptitle("%s, %s, winds of mode %d" % (ds.attrs.get("site_name", ""), day_text(times),
                                               ds.attrs["mode"]))
    if keep.any():  # last: it measures the figure as laid out
        room_for_barbs(fig, top, barbs, height[hh[keep]].min(), height[hh[keep]].max())
    return fig


def spectra_figure(ds):
    """The range-Doppler image of one record (read_spectra's Dataset)."""
    power = ds["power"].values
    low, high = colour_range(power)
    fig = new_figure(8, 6)
    ax = fig.subplots()
    ax.set_facecolor("white")
    velocity = ds["velocity"].values
    step = velocity[1] - velocity[0] if len(velocity) > 1 else 1.0
    v_edges = np.append(velocity, velocity[-1] + step) - step / 2 if len(velocity) else [0, 1]
    h_edges = centre_edges(ds["height"].values / 1000.0)
    if power.size:
        mesh = ax.pcolormesh(v_edges, h_edges, np.ma.masked_invalid(power),
                             cmap=POWER_CMAP, norm=colors.Normalize(low, high),
                             shading="flat", rasterized=True)
        fig.colorbar(mesh, ax=ax, label="power (dB)")
    ax.set_xlabel("Doppler velocity (m s$^{-1}$)")
    ax.set_ylabel("height (km)")
    a = ds.attrs
    ax.set_title("%s, %s UTC\nrecord %d, beam %d (azimuth %g°, elevation %g°), mode %d"
                 % (a.get("instrument_name", ""), a["time"].replace("T", " ").rstrip("Z"),
                    a["ray"], a["beam"], a["azimuth"], a["elevation"], a["mode"]),
                 fontsize=10)
    return fig
