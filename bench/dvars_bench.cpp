// dvars_bench: how long DVARS and the non-steady-state detection take, and
// how much memory DVARS needs, on runs of typical and of large size.
//
//   dvars_bench [--run typical|large|float|all] [--repeat N] [--keep DIR] [--write-only]
//
// For each run it writes, into a temporary folder (or DIR, kept), a
// functional run with a head-shaped intensity pattern (an ellipsoid of about
// 40 % of the voxels above the mask threshold), autocorrelated noise, a slow
// drift, a few volumes of abrupt signal change, a block of constant voxels
// inside the head and three bright non-steady-state volumes at the start:
//   typical  64 x 64 x 30 voxels, 400 volumes, 16-bit
//   large    96 x 96 x 66 voxels, 1,000 volumes, 16-bit (about 1.2 GB)
//   float    64 x 64 x 30 voxels, 400 volumes, 32-bit floats (two passes)
// ("all" is typical and large.) Free disk space is checked first. Then it
// reads the file once to warm the cache and reports, best of N (default 3):
// DVARS (computeDvars, threshold 400) and DVARS with the carpet plot, the
// two alternating; the detection (detectNonSteadyStateVolumes); and the peak
// resident memory of a fresh process that computes DVARS alone, and one that
// makes the carpet plot too. --write-only writes the runs and stops
// (bench/dvars_crosscheck.py uses it with --keep).
// Targets of the large run: DVARS under 3 s, peak memory under 200 MB; the
// carpet plot adds under 10 % to the time and under 20 MB to the memory.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_noise.h"
#include "bench/bench_timing.h"
#include "examples/run_file_writer.h"
#include "fmr/fmr_header.h"
#include "report/carpet.h"
#include "signal/dvars.h"
#include "signal/non_steady_state.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tsl::bench::bestOf;
using tsl::bench::Clock;
using tsl::bench::hashNoise;
using tsl::bench::secondsOf;
using tsl::bench::voxelKey;

constexpr float kThreshold = 400.0f;
constexpr int kNonSteadyVolumes = 3;
// Room left on the disk beyond the run itself.
constexpr std::uintmax_t kSpareBytes = std::uintmax_t{256} << 20;

struct RunShape {
  const char* name;
  int dimX, dimY, slices, volumes;
  bool floats;
};

constexpr RunShape kTypical{"typical", 64, 64, 30, 400, false};
constexpr RunShape kLarge{"large", 96, 96, 66, 1000, false};
constexpr RunShape kFloat{"float", 64, 64, 30, 400, true};

// Inside the head: an ellipsoid whose semi-axes are 0.46 of the grid, about
// 41 % of the voxels; brighter towards the middle. The noise of each voxel is
// a moving average of two white-noise values, so neighbouring volumes
// correlate (lag-1 autocorrelation about 0.5); a slow drift, abrupt changes
// in volumes 0.3 T and 0.7 T, bright first volumes, and a cube of constant
// voxels that DVARS must leave out.
float intensity(const RunShape& s, int x, int y, int z, int t) {
  const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(s.dimX) - 0.5f;
  const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(s.dimY) - 0.5f;
  const float w = (static_cast<float>(z) + 0.5f) / static_cast<float>(s.slices) - 0.5f;
  const float r2 = (u * u + v * v + w * w) / (0.46f * 0.46f);
  const float noise =
      30.0f * (hashNoise(voxelKey(x, y, z, t)) + hashNoise(voxelKey(x, y, z, t + 1)) - 1.0f);
  if (r2 > 1.0f) return 20.0f + noise;
  if (std::abs(u) < 0.05f && std::abs(v) < 0.05f && std::abs(w) < 0.05f) return 777.0f;
  const float time = static_cast<float>(t) / static_cast<float>(s.volumes);
  float value = 900.0f - 300.0f * r2 + noise + 25.0f * time * (1.0f + u);
  if (t == (3 * s.volumes) / 10 || t == (7 * s.volumes) / 10) value += 60.0f * (0.5f + v);
  if (t < kNonSteadyVolumes) value *= 1.0f + 0.6f / static_cast<float>(t + 1);
  return value;
}

struct RunFiles {
  std::string fmr, stc;
};

RunFiles runFiles(const fs::path& dir, const RunShape& s) {
  return {(dir / (std::string(s.name) + ".fmr")).string(),
          (dir / (std::string(s.name) + ".stc")).string()};
}

std::uintmax_t stcBytes(const RunShape& s) {
  return static_cast<std::uintmax_t>(s.dimX) * s.dimY * s.slices * s.volumes * (s.floats ? 4 : 2);
}

RunFiles writeRun(const fs::path& dir, const RunShape& s) {
  const std::uintmax_t available = fs::space(dir).available;
  if (available < stcBytes(s) + kSpareBytes) {
    throw std::runtime_error("not enough free disk space in " + dir.string() + " for the " +
                             s.name + " run: " + std::to_string(available >> 20) + " MB free, " +
                             std::to_string((stcBytes(s) + kSpareBytes) >> 20) + " MB needed");
  }
  tsl::FmrLayout layout;
  layout.prefix = s.name;
  layout.volumes = s.volumes;
  layout.slices = s.slices;
  layout.resolutionX = s.dimX;
  layout.resolutionY = s.dimY;
  layout.dataType = s.floats ? 2 : 1;
  const RunFiles files = runFiles(dir, s);
  tsl::writeFmrHeader(files.fmr, layout);
  tsl::writeStc(
      files.stc, s.dimX, s.dimY, s.slices, s.volumes,
      [&s](int x, int y, int z, int t) { return intensity(s, x, y, z, t); }, s.floats);
  return files;
}

// Reads the whole file once, so that the timings see a warm cache.
void warmCache(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(std::size_t{1} << 22);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
  }
}

// The study report's carpet plot, made from the DVARS pass.
struct CarpetVisitor : tsl::MaskedSeriesVisitor {
  std::optional<tsl::CarpetPlot> plot;
  void begin(std::size_t voxels, std::size_t volumes,
             const std::vector<std::size_t>& sliceStarts) override {
    plot.emplace(voxels, volumes, sliceStarts);
  }
  void visit(std::size_t slice, std::size_t voxel, const float* series,
             std::size_t volumes) override {
    plot->addVoxelOf(slice, voxel, std::span<const float>(series, volumes));
  }
};

// The peak resident memory of a fresh copy of this program computing DVARS
// alone (--peak), or with the carpet plot, in kB. The copy reports its own
// high-water mark (VmHWM, of the memory it mapped after exec) on its standard
// output: the peak that wait4 reports would count this process's memory,
// which survives exec.
long peakKbOfDvars(const std::string& fmr, bool carpet) {
  std::string threshold = std::to_string(kThreshold);
  std::vector<std::string> args{"/proc/self/exe", "--peak", fmr, threshold,
                                carpet ? "carpet" : "alone"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (spawned != 0) {
    close(ends[0]);
    throw std::runtime_error(std::string("cannot start: ") + std::strerror(spawned));
  }
  std::string output;
  char buffer[256];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;)
    output.append(buffer, static_cast<std::size_t>(got));
  close(ends[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the DVARS process failed");
  }
  return std::atol(output.c_str());
}

// This process's peak resident memory, in kB, from /proc/self/status.
long ownPeakKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

int computeForPeak(const char* fmr, const char* threshold, bool carpet) {
  const tsl::FmrFileHeader header = tsl::readFmrFileHeader(fmr, false);
  CarpetVisitor visitor;
  const tsl::DvarsSeries dvars =
      tsl::computeDvars(header, std::strtof(threshold, nullptr), carpet ? &visitor : nullptr);
  if (carpet && visitor.plot->image().pixels.empty()) return 1;
  std::printf("%ld\n", ownPeakKb());
  return dvars.voxels > 0 ? 0 : 1;
}

void benchRun(const RunShape& s, const fs::path& dir, int repeat, bool writeOnly) {
  std::cout << "\n== " << s.name << " run: " << s.dimX << " x " << s.dimY << " x " << s.slices
            << " voxels, " << s.volumes << " volumes, " << (s.floats ? "float" : "16-bit")
            << " STC\n";
  RunFiles files;
  const double writing = secondsOf([&] { files = writeRun(dir, s); });
  std::printf("   writing the run:            %8.3f s (%.0f MB)\n", writing,
              static_cast<double>(fs::file_size(files.stc)) / 1e6);
  if (writeOnly) return;

  warmCache(files.stc);
  const tsl::FmrFileHeader header = tsl::readFmrFileHeader(files.fmr, false);
  tsl::DvarsSeries dvars;
  std::size_t carpetRows = 0;
  // The two alternate, so that a change in the machine's pace meets both.
  double dvarsSeconds = std::numeric_limits<double>::infinity();
  double carpetSeconds = dvarsSeconds;
  for (int i = 0; i < repeat; ++i) {
    dvarsSeconds =
        std::min(dvarsSeconds, secondsOf([&] { dvars = tsl::computeDvars(header, kThreshold); }));
    carpetSeconds = std::min(carpetSeconds, secondsOf([&] {
                               CarpetVisitor visitor;
                               dvars = tsl::computeDvars(header, kThreshold, &visitor);
                               carpetRows = visitor.plot->image().height;
                             }));
  }
  std::size_t nonSteady = 0;
  const double detectSeconds =
      bestOf(repeat, [&] { nonSteady = tsl::detectNonSteadyStateVolumes(header); });
  const long peakKb = peakKbOfDvars(files.fmr, false);
  const long carpetPeakKb = peakKbOfDvars(files.fmr, true);

  double meanStd = 0.0;
  double maxStd = 0.0;
  for (std::size_t t = 1; t < dvars.stdDvars.size(); ++t) {
    meanStd += dvars.stdDvars[t];
    maxStd = std::max(maxStd, dvars.stdDvars[t]);
  }
  meanStd /= static_cast<double>(dvars.stdDvars.size() - 1);
  std::printf("   DVARS:                      %8.3f s  (%.0f MB/s), peak %.1f MB\n", dvarsSeconds,
              static_cast<double>(stcBytes(s)) / 1e6 / dvarsSeconds,
              static_cast<double>(peakKb) / 1024.0);
  std::printf("     %zu voxels, median %.6g, mean std DVARS %.4f, max %.4f\n", dvars.voxels,
              dvars.median, meanStd, maxStd);
  std::printf(
      "   DVARS with the carpet plot: %8.3f s  (%+.1f %%, %zu rows), peak %.1f MB (%+.1f MB)\n",
      carpetSeconds, 100.0 * (carpetSeconds / dvarsSeconds - 1.0), carpetRows,
      static_cast<double>(carpetPeakKb) / 1024.0,
      static_cast<double>(carpetPeakKb - peakKb) / 1024.0);
  std::printf("   non-steady-state detection: %8.3f s  (%zu volumes)\n", detectSeconds, nonSteady);
}

int usage() {
  std::cerr << "usage: dvars_bench [--run typical|large|float|all] [--repeat N] [--keep DIR] "
               "[--write-only]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--peak") {
    try {
      return computeForPeak(argv[2], argv[3], std::string(argv[4]) == "carpet");
    } catch (const std::exception& e) {
      std::cerr << "dvars_bench: " << e.what() << "\n";
      return 1;
    }
  }
  std::string which = "all";
  int repeat = 3;
  std::string keep;
  bool writeOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--run" && i + 1 < argc) {
      which = argv[++i];
    } else if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else if (a == "--write-only") {
      writeOnly = true;
    } else {
      return usage();
    }
  }
  std::vector<RunShape> runs;
  if (which == "typical" || which == "all") runs.push_back(kTypical);
  if (which == "large" || which == "all") runs.push_back(kLarge);
  if (which == "float") runs.push_back(kFloat);
  if (runs.empty()) return usage();
  fs::path dir;
  try {
    if (keep.empty()) {
      char pattern[] = "/tmp/tessel-dvars-XXXXXX";
      if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a temporary folder");
      dir = pattern;
    } else {
      dir = fs::absolute(keep);
      fs::create_directories(dir);
    }
    std::cout << "dvars_bench: files in " << dir.string() << ", best of " << repeat << "\n";
    for (const RunShape& s : runs) {
      benchRun(s, dir, repeat, writeOnly);
      if (keep.empty()) {
        for (const std::string& file : {runFiles(dir, s).fmr, runFiles(dir, s).stc}) {
          fs::remove(file);
        }
      }
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "dvars_bench: " << e.what() << "\n";
    if (keep.empty() && !dir.empty()) fs::remove_all(dir);
    return 1;
  }
}
