#!/usr/bin/env bash
# The sample study's report through the plug-in, as the browser test's
# generator: sample_study_report.sh <page> <runs>. The sample study (two runs)
# is written into a temporary folder and the confound task run on it in the
# host simulator with the report on, fMRIPrep's rule and DVARS; the page is
# copied to <page>. TESSEL_SAMPLE_STUDY, TESSEL_SIMULATOR and TESSEL_PLUGIN
# name the programs.
set -euo pipefail
page=$1
[ "$2" = 2 ] || { echo "the sample study has 2 runs, not $2" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$TESSEL_SAMPLE_STUDY" "$dir" >/dev/null
args=(--plugin "$TESSEL_PLUGIN" --fmr "$dir/run1.fmr" --param sdmfile="$dir/study_3DMC.mdm")
for p in fmr_threshold=100 spike_threshold=0.5 create_spikes=1 spike_before=1 spike_after=2 \
         spike_min_segment=5 spike_measure=2 fd_threshold=0.5 dvars_threshold=1.5 \
         qc_max_mean_fd=0.5 qc_max_flagged_percent=20 create_report=1; do
  args+=(--param "$p")
done
"$TESSEL_SIMULATOR" "${args[@]}" --task confound >"$dir/log.txt" 2>"$dir/messages.txt"
if [ -s "$dir/messages.txt" ]; then cat "$dir/messages.txt" >&2; exit 1; fi
cp "$dir/study_3DMC_report.html" "$page"
