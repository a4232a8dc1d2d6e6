#!/usr/bin/python3
"""Cross-check of Tessel's DVARS and non-steady-state detection against nipype.

    python3 bench/dvars_crosscheck.py BENCH_DIR [--runs typical,float,large] [--repeat N]
                                      [--keep DIR]

BENCH_DIR holds the built dvars_bench and dvars_dump (build/default/bench).
For each run, dvars_bench writes it (FMR header and STC file), this script
converts it to NIfTI with nibabel, with the mask of the voxels whose first
volume is above 400, then runs nipype's compute_dvars with fMRIPrep's settings
(remove_zerovariance=True, variance_tol=1e-7, intensity_normalization=1000)
and NonSteadyStateDetector, runs dvars_dump on the same files, and prints the
largest relative differences (target 1e-4), also against a plain float64
numpy computation of the same steps (nipype works in float32), and the time
of DVARS in each, best of N with a warm cache: compute_dvars (the NIfTI's
loading included) against computeDvars (the STC file's reading included),
target 50x on the typical run; wall clock and, less disturbed by other work
on the machine, processor time.
The large run (1.2 GB of 16-bit data) needs several GB of memory in nipype
and is left out unless asked for.

Needs Debian's python3-nipype, python3-nitime (and their numpy, nibabel); a
benchmark only, never part of the build or the tests.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import nibabel as nb
import numpy as np
from nipype.algorithms.confounds import NonSteadyStateDetector, compute_dvars

THRESHOLD = 400.0
TARGET = 1e-4
KEYS = ("NrOfVolumes", "NrOfSlices", "ResolutionX", "ResolutionY", "DataType", "Prefix")


def read_header(path):
    """The FMR header entries the STC layout needs."""
    entries = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            parts = line.split(None, 1)
            if len(parts) == 2 and parts[0].endswith(":") and parts[0][:-1] in KEYS:
                entries.setdefault(parts[0][:-1], parts[1].strip().strip('"'))
    return entries


def to_nifti(fmr, folder):
    """The run as a 4D NIfTI (x, y, z, t) and its first-volume mask."""
    h = read_header(fmr)
    volumes, slices = int(h["NrOfVolumes"]), int(h["NrOfSlices"])
    columns, rows = int(h["ResolutionX"]), int(h["ResolutionY"])
    dtype = "<f4" if h.get("DataType") == "2" else "<i2"
    stc = os.path.join(os.path.dirname(fmr), h["Prefix"] + ".stc")
    data = np.fromfile(stc, dtype=dtype).reshape(slices, volumes, rows, columns)
    data = np.ascontiguousarray(data.transpose(3, 2, 0, 1))
    base = os.path.join(folder, os.path.basename(fmr)[:-4])
    nb.save(nb.Nifti1Image(data, np.eye(4)), base + ".nii")
    mask = (np.float32(data[..., 0]) > THRESHOLD).astype(np.uint8)
    nb.save(nb.Nifti1Image(mask, np.eye(4)), base + "_mask.nii")
    return base + ".nii", base + "_mask.nii", data


def best_time(repeat, work):
    """The best wall-clock and processor times of repeat calls, and the result."""
    best, best_cpu, result = None, None, None
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        result = work()
        elapsed, cpu = time.perf_counter() - start, time.process_time() - start_cpu
        best = elapsed if best is None else min(best, elapsed)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
    return best, best_cpu, result


def tessel(dump, fmr, repeat):
    out = subprocess.run([dump, fmr, str(THRESHOLD), str(repeat)], check=True,
                         capture_output=True, text=True)
    values = {"mean": [], "dvars": [], "std": []}
    for line in out.stdout.splitlines():
        word, *rest = line.split()
        if word in ("voxels", "non_steady_state"):
            values[word] = int(rest[0])
        elif word == "median":
            values[word] = float(rest[0])
        elif word == "seconds":
            values["seconds"], values["cpu"] = float(rest[0]), float(rest[1])
        elif word == "mean":
            values["mean"].append(float(rest[1]))
        elif word == "dvars":
            values["dvars"].append(float(rest[1]))
            values["std"].append(float(rest[2]))
    return values


def relative(ours, theirs):
    ours, theirs = np.asarray(ours, float), np.asarray(theirs, float)
    return float(np.max(np.abs(ours - theirs) / np.abs(theirs)))


def float64_reference(mask, data):
    """compute_dvars' steps in float64 (nipype computes in float32): the
    median, the number of voxels used, dvars and std_dvars."""
    mfunc = np.float64(data)[np.bool_(nb.load(mask).dataobj)]
    median = float(np.median(mfunc))
    scaled = mfunc / median * 1000
    sd = (np.percentile(scaled, 75, axis=1, method="lower")
          - np.percentile(scaled, 25, axis=1, method="lower")) / 1.349
    keep = sd > 1e-7
    scaled, sd = scaled[keep], sd[keep]
    x = scaled - scaled.mean(axis=1, keepdims=True)
    ar1 = np.sum(x[:, :-1] * x[:, 1:], axis=1) / np.sum(x * x, axis=1)
    diff_sd_mean = (np.sqrt(2 * (1 - ar1)) * sd).mean()
    dvars = np.sqrt(np.square(np.diff(scaled, axis=1)).mean(axis=0))
    return median, int(np.count_nonzero(keep)), dvars, dvars / diff_sd_mean


def check(run, args, folder):
    subprocess.run([os.path.join(args.bench_dir, "dvars_bench"), "--run", run, "--keep", folder,
                    "--write-only"], check=True, stdout=subprocess.DEVNULL)
    fmr = os.path.join(folder, run + ".fmr")
    nii, mask, data = to_nifti(fmr, folder)
    median, voxels, dvars64, std64 = float64_reference(mask, data)
    del data

    nipype_seconds, nipype_cpu, (std, nstd, _) = best_time(args.repeat, lambda: compute_dvars(
        nii, mask, remove_zerovariance=True, variance_tol=1e-7, intensity_normalization=1000))
    detector = NonSteadyStateDetector(in_file=nii)
    detect_seconds, _, detected = best_time(args.repeat,
                                         lambda: detector.run().outputs.n_volumes_to_discard)
    signal = nb.load(nii).dataobj[:, :, :, :50].mean(axis=0).mean(axis=0).mean(axis=0)

    dump = os.path.join(args.bench_dir, "dvars_dump")
    ours = tessel(dump, fmr, args.repeat)
    tessel_seconds = ours["seconds"]

    print(f"== {run} run ({nii}):")
    print(f"   voxels used: Tessel {ours['voxels']}, float64 numpy {voxels}; "
          f"median: Tessel {ours['median']:.9g}, float64 numpy {median:.9g}")
    worst = max(relative(ours["dvars"], nstd), relative(ours["std"], std))
    print(f"   largest relative difference to nipype: dvars {relative(ours['dvars'], nstd):.3g}, "
          f"std_dvars {relative(ours['std'], std):.3g}, "
          f"volume means {relative(ours['mean'], signal):.3g}  "
          f"({'within' if worst <= TARGET else 'ABOVE'} {TARGET:g})")
    print(f"   against float64 numpy: dvars {relative(ours['dvars'], dvars64):.3g}, "
          f"std_dvars {relative(ours['std'], std64):.3g}")
    print(f"   non-steady-state volumes: Tessel {ours['non_steady_state']}, nipype {detected}")
    print(f"   time: nipype compute_dvars {nipype_seconds:.3f} s (+ detector {detect_seconds:.3f}"
          f" s), Tessel computeDvars {tessel_seconds:.3f} s: {nipype_seconds / tessel_seconds:.1f} x")
    print(f"   processor time: nipype {nipype_cpu:.3f} s, Tessel {ours['cpu']:.3f} s (all threads):"
          f" {nipype_cpu / ours['cpu']:.1f} x")
    return (worst <= TARGET and ours["voxels"] == voxels
            and ours["non_steady_state"] == detected)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("bench_dir")
    parser.add_argument("--runs", default="typical,float")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--keep", help="folder for the runs and NIfTI files (kept)")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="tessel-crosscheck-") as scratch:
        folder = os.path.abspath(args.keep) if args.keep else scratch
        os.makedirs(folder, exist_ok=True)
        results = [check(run, args, folder) for run in args.runs.split(",")]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
