// displacement_bench: how long the displacement maps take, and how much
// memory the task needs, on runs of typical and of large size.
//
//   displacement_bench [--run typical|large|all] [--repeat N] [--keep DIR]
//
// For each run it writes, into a temporary folder (or DIR, kept), a 16-bit
// functional run with a head-shaped intensity pattern (an ellipsoid of about
// 40 % of the voxels above the mask threshold) and its motion file (slow
// drift, jitter and a few abrupt movements), then reports:
//   - the STC read: the first volume alone (what the task reads) and, for
//     comparison, the whole run as readStcData loads it;
//   - the kernel: the plain whole-grid computation (the oracle), the fast one
//     on one thread with the baseline x86-64 code and with AVX2, and on all
//     hardware threads as the task runs it, each checked bit for bit against
//     the oracle, with the speed-ups in the same run;
//   - the whole displacement task through the built plug-in in the host
//     simulator (no plots), with no map and with all seven maps selected:
//     wall time and peak resident memory of that process.
// Timings are the best of N repetitions (default 3; the oracle runs once).
// Exit status 1 when any result differs from the oracle or a step fails.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_noise.h"
#include "bench/bench_timing.h"
#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "motion/displacement_kernel.h"
#include "tests/support/reference_displacement.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tsl::bench::bestOf;
using tsl::bench::Clock;
using tsl::bench::hashNoise;
using tsl::bench::secondsOf;
using tsl::bench::voxelKey;

constexpr float kThreshold = 400.0f;
constexpr float kVoxelMm = 3.0f;
constexpr float kSliceMm = 3.5f;  // thickness 3 plus gap 0.5

struct RunShape {
  const char* name;
  int dimX, dimY, slices, volumes;
};

constexpr RunShape kTypical{"typical", 64, 64, 30, 400};
constexpr RunShape kLarge{"large", 96, 96, 66, 1000};

// Inside the head: an ellipsoid whose semi-axes are 0.46 of the grid, about
// 41 % of the voxels; brighter towards the middle, noisy everywhere.
float intensity(const RunShape& s, int x, int y, int z, int t) {
  const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(s.dimX) - 0.5f;
  const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(s.dimY) - 0.5f;
  const float w = (static_cast<float>(z) + 0.5f) / static_cast<float>(s.slices) - 0.5f;
  const float r2 = (u * u + v * v + w * w) / (0.46f * 0.46f);
  const float noise = 40.0f * (hashNoise(voxelKey(x, y, z, t)) - 0.5f);
  if (r2 <= 1.0f) return 900.0f - 300.0f * r2 + noise;
  return 20.0f + noise;
}

std::vector<tsl::MotionRow> motionOf(int volumes) {
  std::vector<tsl::MotionRow> rows;
  for (int t = 0; t < volumes; ++t) {
    const float s = static_cast<float>(t) / static_cast<float>(std::max(1, volumes - 1));
    tsl::MotionRow row{};
    for (std::size_t p = 0; p < 6; ++p) {
      const float drift = (p < 3 ? 0.8f : 0.6f) * s * (p % 2 == 0 ? 1.0f : -1.0f);
      const float jitter = 0.05f * (hashNoise(static_cast<std::uint64_t>(t) * 8 + p) - 0.5f);
      row[p] = t == 0 ? 0.0f : drift + jitter;
    }
    // A nod from a third of the run on, and a brief jerk at two thirds.
    if (t >= volumes / 3) row[3] += 1.2f;
    if (t == 2 * volumes / 3) row[1] += 1.5f;
    rows.push_back(row);
  }
  return rows;
}

struct RunFiles {
  std::string fmr, sdm;
};

RunFiles writeRun(const fs::path& dir, const RunShape& s) {
  tsl::FmrLayout layout;
  layout.prefix = s.name;
  layout.volumes = s.volumes;
  layout.slices = s.slices;
  layout.resolutionX = s.dimX;
  layout.resolutionY = s.dimY;
  layout.inplaneResolutionX = kVoxelMm;
  layout.inplaneResolutionY = kVoxelMm;
  layout.sliceThickness = 3.0f;
  layout.sliceGap = kSliceMm - 3.0f;
  const RunFiles files{(dir / (std::string(s.name) + ".fmr")).string(),
                       (dir / (std::string(s.name) + "_3DMC.sdm")).string()};
  tsl::writeFmrHeader(files.fmr, layout);
  tsl::writeStc((dir / (std::string(s.name) + ".stc")).string(), s.dimX, s.dimY, s.slices,
                s.volumes, [&s](int x, int y, int z, int t) { return intensity(s, x, y, z, t); },
                false);
  tsl::writeHostMotionSdm(files.sdm, motionOf(s.volumes));
  return files;
}

struct ProcessResult {
  int status = -1;
  double seconds = 0.0;
  long peakKb = 0;
};

// The child's peak resident set from wait4 counts the memory of the process
// it was started from (the high-water mark survives exec), and this program
// holds whole runs. So the task is started by a fresh copy of this program
// (--measure), which is small, and reports for its own child.
int measureChild(const std::string& logPath, const std::string& resultPath, char** argv) {
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (log < 0) return 127;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(log, 1);
    dup2(log, 2);
    execv(argv[0], argv);
    _exit(127);
  }
  close(log);
  if (pid < 0) return 127;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 127;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE* out = std::fopen(resultPath.c_str(), "w");
  if (out == nullptr) return 127;
  std::fprintf(out, "%d %.6f %ld\n", code, seconds, usage.ru_maxrss);
  return std::fclose(out) == 0 ? 0 : 127;
}

// Runs args through measureChild in a new copy of this program.
ProcessResult runProcess(const std::vector<std::string>& args, const std::string& logPath,
                         const std::string& resultPath) {
  std::vector<std::string> all{"/proc/self/exe", "--measure", logPath, resultPath};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (const std::string& a : all) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ);
  if (spawned != 0)
    throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(spawned));
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("measuring " + args[0] + " failed");
  }
  ProcessResult result;
  FILE* in = std::fopen(resultPath.c_str(), "r");
  const bool read = in != nullptr && std::fscanf(in, "%d %lf %ld", &result.status, &result.seconds,
                                                 &result.peakKb) == 3;
  if (in != nullptr) std::fclose(in);
  if (!read) throw std::runtime_error("cannot read " + resultPath);
  return result;
}

bool benchRun(const RunShape& s, const fs::path& dir, int repeat) {
  std::cout << "\n== " << s.name << " run: " << s.dimX << " x " << s.dimY << " x " << s.slices
            << " voxels, " << s.volumes << " volumes, 16-bit STC\n";
  RunFiles files;
  const double seconds = secondsOf([&] { files = writeRun(dir, s); });
  std::printf("   writing the run:                 %8.3f s (%.0f MB)\n", seconds,
              static_cast<double>(fs::file_size(dir / (std::string(s.name) + ".stc"))) / 1e6);

  const tsl::FmrFileHeader header = tsl::readFmrFileHeader(files.fmr, false);
  tsl::Volume first;
  const double firstRead = bestOf(repeat, [&] { first = tsl::readFirstVolume(header); });
  std::printf("   STC read, first volume:          %8.3f s\n", firstRead);
  {
    tsl::FmrFileHeader whole = header;
    const double wholeRead = secondsOf([&] { tsl::readStcData(whole); });
    std::printf("   STC read, whole run (readStcData): %6.3f s, %.0f MB of floats held\n",
                wholeRead,
                static_cast<double>(whole.voxelData.size()) * static_cast<double>(first.size()) *
                    4.0 / 1e6);
  }

  std::vector<std::int32_t> mask;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i] > kThreshold) mask.push_back(static_cast<std::int32_t>(i));
  }
  std::printf("   mask: %zu of %zu voxels (%.1f %%)\n", mask.size(), first.size(),
              100.0 * static_cast<double>(mask.size()) / static_cast<double>(first.size()));

  const tsl::SdmDocument motion(files.sdm);
  const tsl::Dim3 dims{s.dimX, s.dimY, s.slices};
  const float extent[3] = {static_cast<float>(s.dimX) * kVoxelMm,
                           static_cast<float>(s.dimY) * kVoxelMm,
                           static_cast<float>(s.slices) * kSliceMm};
  tsl::DisplacementMaps expected;
  const double reference = secondsOf(
      [&] { expected = tsl::testing::referenceDisplacement(mask, dims, extent, motion); });
  std::printf("   kernel, whole-grid reference:    %8.3f s\n", reference);

  bool identical = true;
  auto fast = [&](const char* label, tsl::KernelOptions options) {
    // Timed: the measures over the mask, as the task computes them. Checked:
    // the seven volumes made of them.
    const double t = bestOf(
        repeat, [&] { tsl::computeMaskedDisplacement(mask, dims, extent, motion, options); });
    const tsl::DisplacementMaps maps =
        tsl::computeDisplacement(mask, dims, extent, motion, options);
    const bool same = tsl::testing::firstDifferentMap(maps, expected) < 0;
    identical = identical && same;
    std::printf("   kernel, %-24s %8.3f s  %5.1f x reference, %s\n", label, t, reference / t,
                same ? "identical bits" : "DIFFERENT FROM THE REFERENCE");
    return t;
  };
  fast("baseline, 1 thread:", {tsl::KernelInstructions::baseline, 1});
  if (tsl::cpuHasAvx2()) {
    fast("AVX2, 1 thread:", {tsl::KernelInstructions::avx2, 1});
  } else {
    std::printf("   kernel, AVX2:                    this CPU has no AVX2\n");
  }
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  const std::string label = "as the task, " + std::to_string(threads) + " threads:";
  const double asTask = fast(label.c_str(), {});

  // The whole task through the built plug-in in the host simulator: once
  // with no map selected (the plug-in's own work: reading, mask, kernel),
  // once with all seven, where the host also saves them (the simulator, like
  // the host, writes all maps of the run so far into each map file).
  const std::string log = (dir / (std::string(s.name) + "_task.log")).string();
  const std::string resultFile = (dir / (std::string(s.name) + "_task.result")).string();
  for (const bool maps : {false, true}) {
    std::vector<std::string> args{TESSEL_SIMULATOR,
                                  "--plugin",
                                  TESSEL_PLUGIN,
                                  "--fmr",
                                  files.fmr,
                                  "--param",
                                  "sdmfile=" + files.sdm,
                                  "--param",
                                  "fmr_threshold=" + std::to_string(static_cast<int>(kThreshold))};
    for (const char* map : {"map_max_abs", "map_mean_abs", "map_max_rel", "map_mean_rel",
                            "map_max_abs_x", "map_max_abs_y", "map_max_abs_z"}) {
      args.push_back("--param");
      args.push_back(std::string(map) + (maps ? "=1" : "=0"));
    }
    for (const char* plot : {"plot_regular=0", "plot_detrended=0"}) {
      args.push_back("--param");
      args.push_back(plot);
    }
    args.push_back("--task");
    args.push_back("displacement");
    ProcessResult best;
    for (int i = 0; i < repeat; ++i) {
      const ProcessResult r = runProcess(args, log, resultFile);
      if (r.status != 0) {
        std::cerr << "the displacement task failed (status " << r.status << "), see " << log
                  << "\n";
        return false;
      }
      if (i == 0 || r.seconds < best.seconds) best.seconds = r.seconds;
      best.peakKb = std::max(best.peakKb, r.peakKb);
    }
    std::printf(
        "   whole task, %s %7.3f s  %5.2f x (kernel as the task + first volume), peak %.1f MB\n",
        maps ? "7 maps saved:      " : "no maps selected:  ", best.seconds,
        best.seconds / (asTask + firstRead), static_cast<double>(best.peakKb) / 1024.0);
  }
  return identical;
}

int usage() {
  std::cerr << "usage: displacement_bench [--run typical|large|all] [--repeat N] [--keep DIR]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "--measure")
    return measureChild(argv[2], argv[3], argv + 4);
  std::string which = "all";
  int repeat = 3;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--run" && i + 1 < argc) {
      which = argv[++i];
    } else if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      return usage();
    }
  }
  if (which != "typical" && which != "large" && which != "all") return usage();
  fs::path dir;
  try {
    if (keep.empty()) {
      char pattern[] = "/tmp/tessel-bench-XXXXXX";
      if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a temporary folder");
      dir = pattern;
    } else {
      dir = fs::absolute(keep);
      fs::create_directories(dir);
    }
    std::cout << "displacement_bench: files in " << dir.string() << ", best of " << repeat
              << ", CPU AVX2: " << (tsl::cpuHasAvx2() ? "yes" : "no")
              << ", hardware threads: " << std::thread::hardware_concurrency() << "\n";
    bool ok = true;
    if (which != "large") ok = benchRun(kTypical, dir, repeat) && ok;
    if (which != "typical") ok = benchRun(kLarge, dir, repeat) && ok;
    if (keep.empty()) fs::remove_all(dir);
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "displacement_bench: " << e.what() << "\n";
    if (keep.empty() && !dir.empty()) fs::remove_all(dir);
    return 1;
  }
}
