#!/usr/bin/python3
"""Compares Tessel's motion filters with scipy's (Debian's python3-scipy).

    /usr/bin/python3 bench/motion_filter_crosscheck.py DUMP [SDM:TR_MS ...]

DUMP is the built bench/motion_filter_dump. Without SDM files the script
writes motion files of its own into a temporary folder: slow drift, jitter,
two abrupt movements, all six parameters moving (translations mm, rotations
degrees), and at the short TRs a breathing oscillation of about 15 per minute,
strongest in the phase-encoding translation. Every run is filtered with a few
notch and low-pass settings (some with edges above the Nyquist frequency), by
Tessel and by scipy called as xcp_d calls it:

    iirnotch(f0, Q = f0 / bandwidth, fs), floor(order / 4) times filtfilt
    butter(floor(order / 2), cutoff, 'lowpass', fs=fs), once filtfilt
    filtfilt(b, a, x, padtype='constant', padlen=len(x) - 1)

on the file's values as float32, in double precision. Prints per case the
largest difference of the coefficients (relative), of the filtered values (mm
or degrees) and of framewise displacement computed from them (mm); the last
line is the largest of all. Where Tessel refuses a filter, it prints the
reason and what scipy's result is worth: how far its notch of no width
changes the data, or how far its low-pass in transfer-function form lies from
the same filter as second-order sections. Exit status 1 when a value differs
by more than 1e-9 or a case fails on one side only.
"""

import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from scipy.signal import butter, filtfilt, iirnotch, sosfiltfilt

TOLERANCE = 1e-9
HEAD_RADIUS_MM = 50.0

# (motion_filter, band_stop_min, band_stop_max, motion_filter_order)
SETTINGS = [
    (1, 12.0, 18.0, 4),
    (1, 12.0, 20.0, 8),
    (1, 15.0, 25.0, 4),
    (2, 6.0, 0.0, 4),
    (2, 6.0, 0.0, 8),
    (2, 40.0, 0.0, 2),
    (2, 6.0, 0.0, 16),
    (2, 1.2, 0.0, 24),
]

# (name, TR ms, volumes, breaths per minute or 0 for none)
RUNS = [
    ("multiband_tr800", 800.0, 600, 15.0),
    ("multiband_tr500", 500.0, 901, 16.5),
    ("fast_tr720", 720.0, 417, 14.0),
    ("single_band_tr1800", 1800.0, 241, 0.0),
    ("single_band_tr2000", 2000.0, 187, 0.0),
    ("short_tr800", 800.0, 5, 15.0),
    ("two_volumes", 800.0, 2, 0.0),
    ("one_volume", 800.0, 1, 0.0),
]


def synthetic_motion(volumes, tr_ms, breaths_per_minute, seed):
    """Six columns of realistic motion estimates, rounded as an SDM holds them."""
    rng = np.random.default_rng(seed)
    t = np.arange(volumes) * tr_ms / 1000.0
    columns = []
    drift_mm = [0.3, -0.6, 0.9]
    drift_deg = [0.4, -0.2, 0.15]
    breathing_mm = [0.02, 0.25, 0.08]  # y: the phase-encoding direction
    breathing_deg = [0.06, 0.01, 0.02]
    span = max(t[-1], 1.0)
    for axis in range(6):
        drift = (drift_mm + drift_deg)[axis] * t / span
        walk = np.cumsum(rng.normal(0.0, 0.01, volumes))
        jitter = rng.normal(0.0, 0.02, volumes)
        column = drift + walk + jitter
        if breaths_per_minute > 0.0:
            amplitude = (breathing_mm + breathing_deg)[axis]
            rate = breaths_per_minute / 60.0 * (1.0 + 0.05 * np.sin(0.05 * t))
            column += amplitude * np.sin(2.0 * np.pi * rate * t + axis)
        for jump in (volumes // 3, 2 * volumes // 3):
            if 0 < jump < volumes:
                column[jump:] += rng.normal(0.0, 0.3)
        columns.append(column)
    return np.round(np.array(columns), 6)


def write_sdm(path, columns):
    names = ["Translation X [mm]", "Translation Y [mm]", "Translation Z [mm]",
             "Rotation X [deg]", "Rotation Y [deg]", "Rotation Z [deg]"]
    with open(path, "w", newline="") as out:
        out.write("FileVersion:            1\r\n\r\n")
        out.write("NrOfPredictors:         6\r\n")
        out.write("NrOfDataPoints:         %d\r\n" % columns.shape[1])
        out.write("IncludesConstant:       0\r\n")
        out.write("FirstConfoundPredictor: 1\r\n\r\n")
        out.write("   ".join(["255 0 0"] * 6) + "\r\n")
        out.write(" ".join('"%s"' % n for n in names) + "\r\n")
        for row in columns.T:
            out.write(" ".join("%.6f" % v for v in row) + "\r\n")


def read_sdm(path):
    """The first six predictors as float32 values, as Tessel reads them."""
    with open(path, encoding="utf-8-sig") as f:
        lines = [line.strip() for line in f]
    points = None
    start = None
    for i, line in enumerate(lines):
        if line.startswith("NrOfDataPoints:"):
            points = int(line.split()[1])
        if line.startswith("FirstConfoundPredictor:"):
            start = i + 1
    body = [line for line in lines[start:] if line]
    rows = body[2:2 + points]  # after the colours and the names
    values = np.array([[float(v) for v in row.split()[:6]] for row in rows])
    return values.astype(np.float32).astype(np.float64).T.reshape(6, points)


def fold(hz, fs):
    if hz > fs / 2.0:
        return abs(hz - math.floor((hz + fs / 2.0) / fs) * fs)
    return hz


def scipy_filter(setting, tr_ms, columns):
    kind, low_bpm, high_bpm, order = setting
    fs = 1000.0 / tr_ms
    low = fold(low_bpm / 60.0, fs)
    if kind == 1:
        high = fold(high_bpm / 60.0, fs)
        band = np.array([low, high])
        f0 = np.mean(band)
        bandwidth = np.abs(np.diff(band))[0]
        b, a = iirnotch(f0, f0 / bandwidth, fs=fs)
        passes = order // 4
    else:
        b, a = butter(order // 2, low, "lowpass", fs=fs)
        passes = 1
    out = columns.copy()
    for _ in range(passes):
        out = filtfilt(b, a, out, axis=1, padtype="constant", padlen=out.shape[1] - 1)
    return b, a, out


def scipy_flaw(setting, tr_ms, columns, filtered):
    """What a filter Tessel refuses does in scipy (see the module's text)."""
    kind, low_bpm, _, order = setting
    if kind == 1:
        return "the notch changes the data by %.3g" % np.max(np.abs(filtered - columns))
    fs = 1000.0 / tr_ms
    sos = butter(order // 2, fold(low_bpm / 60.0, fs), "lowpass", fs=fs, output="sos")
    exact = sosfiltfilt(sos, columns, axis=1, padtype="constant", padlen=columns.shape[1] - 1)
    return "its transfer function is off by %.3g" % np.max(np.abs(filtered - exact))


class Refused(Exception):
    pass


def tessel_filter(dump, setting, tr_ms, path):
    kind, low_bpm, high_bpm, order = setting
    args = [dump, str(kind), repr(low_bpm), repr(high_bpm), str(order), repr(tr_ms), path]
    result = subprocess.run(args, capture_output=True, text=True, check=False)
    if result.returncode == 1:
        raise Refused(result.stderr.strip())
    if result.returncode != 0:
        raise RuntimeError(result.stderr.strip())
    lines = result.stdout.splitlines()
    b = np.array([float(v) for v in lines[1].split()[1:]])
    a = np.array([float(v) for v in lines[2].split()[1:]])
    rows = [[float(v) for v in line.split()] for line in lines[4:]]
    return b, a, np.array(rows).T.reshape(6, len(rows))


def framewise_displacement(columns):
    if columns.shape[1] < 2:
        return np.zeros(columns.shape[1])
    change = np.abs(np.diff(columns, axis=1))
    change[3:] *= HEAD_RADIUS_MM * np.pi / 180.0
    return np.concatenate([[0.0], change.sum(axis=0)])


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    dump = argv[1]
    worst = 0.0
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        runs = []
        for arg in argv[2:]:
            path, _, tr = arg.rpartition(":")
            runs.append((os.path.basename(path), float(tr), path))
        if not runs:
            for seed, (name, tr, volumes, breathing) in enumerate(RUNS):
                path = os.path.join(folder, name + "_3DMC.sdm")
                write_sdm(path, synthetic_motion(volumes, tr, breathing, seed))
                runs.append((name, tr, path))
        print("%-22s %5s %-22s %10s %10s %10s" %
              ("run", "TR", "filter", "coeff", "values", "fd"))
        for name, tr, path in runs:
            columns = read_sdm(path)
            for setting in SETTINGS:
                kind, low, high, order = setting
                band = "notch %g-%g" % (low, high) if kind == 1 else "low-pass %g" % low
                label = "%s order %d" % (band, order)
                try:
                    with np.errstate(divide="ignore"):
                        b, a, expected = scipy_filter(setting, tr, columns)
                    tb, ta, actual = tessel_filter(dump, setting, tr, path)
                except Refused as refusal:
                    print("%-22s %5g %-22s refused; in scipy %s:\n    %s" %
                          (name, tr, label, scipy_flaw(setting, tr, columns, expected), refusal))
                    continue
                except Exception as error:  # a failure on one side only
                    print("%-22s %5g %-22s %s" % (name, tr, label, error))
                    failed = True
                    continue
                coefficients = max(np.max(np.abs(tb - b) / np.max(np.abs(b))),
                                   np.max(np.abs(ta - a) / np.max(np.abs(a))))
                values = np.max(np.abs(actual - expected))
                fd = np.max(np.abs(framewise_displacement(actual) -
                                   framewise_displacement(expected)))
                print("%-22s %5g %-22s %10.3g %10.3g %10.3g" %
                      (name, tr, label, coefficients, values, fd))
                worst = max(worst, values, fd)
    print("largest difference of filtered values or framewise displacement: %.3g" % worst)
    return 1 if failed or worst > TOLERANCE else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
