// sample_study: writes a small but realistic study for trying the plug-in
// without a scanner or the host.
//
//   sample_study DIR            writes into DIR (created if needed):
//                                 run1.fmr, run1.stc, run1_3DMC.sdm,
//                                 run2.fmr, run2.stc, run2_3DMC.sdm,
//                                 study_3DMC.mdm (lists both runs),
//                                 mb1.fmr, mb1.stc, mb1_3DMC.sdm (a multiband
//                                 run of TR 800 ms whose motion estimates
//                                 breathe at 15 per minute)
//   sample_study --map-max FILE prints the largest value of the last map in a
//                               map file the host simulator saved (NIfTI-1)
//
// Each run has 150 volumes of 64 x 64 x 24 voxels (3.5 x 3.5 x 4 mm), 16-bit
// intensities of a head: an ellipsoid brain with a brighter grey-matter shell,
// bright ventricles and surrounding fluid, a dark skull, a thin scalp, a coil
// bias from front to back and thermal noise; the head's signal drops for a
// moment at each abrupt movement. The motion files hold a slow drift, small
// jitter and a few abrupt movements above 0.5 mm, in the number format of
// the host's motion correction (first row all zeros: the reference volume). Everything comes from
// fixed seeds: the same files on every run. Exit status 0 on success, 1 with the reason on standard
// error otherwise.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"

namespace {

constexpr int kDimX = 64;
constexpr int kDimY = 64;
constexpr int kSlices = 24;
constexpr int kVolumes = 150;
constexpr float kInplaneMm = 3.5F;
constexpr float kSliceThicknessMm = 3.5F;
constexpr float kSliceGapMm = 0.5F;
constexpr int kRepetitionTimeMs = 2000;

constexpr double kTwoPi = 6.283185307179586;

// Deterministic normal deviates: the engine is fixed by the standard, and the
// transform is our own, so the files do not depend on the library's
// distribution code.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : engine_(seed) {}
  double uniform() {
    // 53 random bits in (0, 1).
    const std::uint64_t high = engine_() >> 5;
    const std::uint64_t low = engine_() >> 6;
    return (static_cast<double>((high << 26) | low) + 0.5) / 9007199254740992.0;
  }
  double normal() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    const double radius = std::sqrt(-2.0 * std::log(uniform()));
    const double angle = kTwoPi * uniform();
    spare_ = radius * std::sin(angle);
    haveSpare_ = true;
    return radius * std::cos(angle);
  }

 private:
  std::mt19937 engine_;
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

// ---------------------------------------------------------------------------
// Motion
// ---------------------------------------------------------------------------

// An abrupt movement: from volume `first` on, the six parameters are offset
// by `offset`; with `lasting` false the head returns at the next volume.
struct Jolt {
  int first;
  std::array<double, 6> offset;  // mm, mm, mm, degrees, degrees, degrees
  bool lasting;
};

struct MotionPlan {
  std::array<double, 6> drift;       // total linear drift over the run
  std::array<double, 6> wave;        // amplitude of a slow oscillation
  std::array<double, 6> wavePeriod;  // in volumes
  double jitterMm;                   // sd of the volume-to-volume jitter
  double jitterDegrees;
  std::vector<Jolt> jolts;
  std::uint32_t seed;
};

// Rows of translations x, y, z (mm) and rotations x, y, z (degrees), relative
// to the first volume, which is the motion correction's reference.
std::vector<std::array<double, 6>> motionRows(const MotionPlan& plan) {
  Noise noise(plan.seed);
  std::vector<std::array<double, 6>> rows(kVolumes);
  for (int t = 0; t < kVolumes; ++t) {
    const double s = static_cast<double>(t) / (kVolumes - 1);
    for (int p = 0; p < 6; ++p) {
      const double jitter = p < 3 ? plan.jitterMm : plan.jitterDegrees;
      double value = plan.drift[p] * s + plan.wave[p] * std::sin(kTwoPi * t / plan.wavePeriod[p]) +
                     jitter * noise.normal();
      for (const Jolt& jolt : plan.jolts) {
        if (t >= jolt.first && (jolt.lasting || t == jolt.first)) value += jolt.offset[p];
      }
      rows[t][p] = value;
    }
  }
  const std::array<double, 6> reference = rows[0];
  for (auto& row : rows) {
    for (int p = 0; p < 6; ++p) row[p] -= reference[p];
  }
  return rows;
}

const MotionPlan kRun1Motion{
    {0.25, -0.40, 0.60, 0.30, -0.15, 0.05},
    {0.05, 0.08, 0.03, 0.04, 0.03, 0.10},
    {60, 45, 80, 70, 55, 65},
    0.008,
    0.006,
    {
        {42, {0, 0, 0.9, 0, 0, 0}, true},      // the head sinks into the cushion
        {87, {0, 0, 0, 1.1, 0, 0}, true},      // a nod
        {118, {0, 1.4, 0, 0, 0, 0.8}, false},  // a brief jerk (a cough)
    },
    20261},
    kRun2Motion{{-0.30, 0.20, 0.45, -0.10, 0.25, -0.20},
                {0.04, 0.05, 0.06, 0.05, 0.02, 0.03},
                {50, 75, 65, 40, 90, 60},
                0.010,
                0.007,
                {
                    {30, {-0.7, 0, 0, 0, 0.5, 0}, true},  // a turn to the side
                    {101, {0, 0, -1.2, 0, 0, 0}, true},   // the head slides down
                },
                20262};

// A fast multiband acquisition: breathing (15 per minute, 5 volumes at TR
// 800 ms) moves the image along y by a quarter of a millimetre, which
// framewise displacement takes for head motion.
constexpr int kMultibandTrMs = 800;
const MotionPlan kMultibandMotion{{0.15, -0.20, 0.25, 0.10, -0.10, 0.05},
                                  {0.02, 0.25, 0.02, 0.02, 0.02, 0.02},
                                  {70, 5, 55, 45, 80, 65},
                                  0.008,
                                  0.006,
                                  {
                                      {90, {0, 0.8, 0.4, 0.6, 0, 0}, true},  // a nod
                                  },
                                  30303};

// ---------------------------------------------------------------------------
// Intensities
// ---------------------------------------------------------------------------

// Position of voxel index i along an axis of n voxels of size s, in mm from
// the grid's centre.
double centred(int i, int n, double s) { return (i - 0.5 * (n - 1)) * s; }

double squaredRadius(double x, double y, double z, double a, double b, double c) {
  return (x / a) * (x / a) + (y / b) * (y / b) + (z / c) * (z / c);
}

// Tissue intensity of a point (mm) of the head, before bias and noise.
double tissue(double x, double y, double z) {
  // Ventricles: two small ellipsoids beside the midline, bright in EPI.
  if (squaredRadius(x - 9.0, y - 6.0, z - 4.0, 6.0, 20.0, 9.0) <= 1.0 ||
      squaredRadius(x + 9.0, y - 6.0, z - 4.0, 6.0, 20.0, 9.0) <= 1.0) {
    return 1400.0;
  }
  const double brain = std::sqrt(squaredRadius(x, y, z, 64.0, 80.0, 46.0));
  if (brain <= 0.80) return 640.0;   // white matter
  if (brain <= 1.00) return 930.0;   // grey matter shell
  if (brain <= 1.05) return 1150.0;  // fluid around the brain
  if (brain <= 1.11) return 60.0;    // skull
  if (brain <= 1.17) return 320.0;   // scalp
  return 0.0;
}

// The noise-free head on the run's grid, averaged over 2 x 2 x 2 points per
// voxel so that tissue borders fall off smoothly as in a real image.
std::vector<double> headPattern() {
  std::vector<double> pattern(static_cast<std::size_t>(kDimX) * kDimY * kSlices);
  const double sliceMm = kSliceThicknessMm + kSliceGapMm;
  std::size_t index = 0;
  for (int z = 0; z < kSlices; ++z) {
    for (int y = 0; y < kDimY; ++y) {
      for (int x = 0; x < kDimX; ++x) {
        double sum = 0.0;
        for (int k = 0; k < 8; ++k) {
          const double px = centred(x, kDimX, kInplaneMm) + ((k & 1) ? 0.25 : -0.25) * kInplaneMm;
          const double py = centred(y, kDimY, kInplaneMm) + ((k & 2) ? 0.25 : -0.25) * kInplaneMm;
          const double pz = centred(z, kSlices, sliceMm) + ((k & 4) ? 0.25 : -0.25) * sliceMm;
          sum += tissue(px, py, pz);
        }
        // Receive-coil bias: brighter towards the back of the head.
        const double bias = 1.0 - 0.15 * centred(y, kDimY, kInplaneMm) / 112.0;
        pattern[index++] = sum / 8.0 * bias;
      }
    }
  }
  return pattern;
}

// The head's signal per volume, as a fraction of its own: an abrupt
// movement disturbs the magnetisation, and the whole head loses 5 % of its
// signal per millimetre of the movement (rotations taken at 50 mm from the
// centre) in that volume and half as much in the next. This is what makes a
// band across the carpet plot and a peak of DVARS at the movement.
std::vector<double> signalGains(const MotionPlan& plan) {
  constexpr double kLossPerMm = 0.05;
  constexpr double kRadiusMm = 50.0;
  std::vector<double> gains(kVolumes, 1.0);
  for (const Jolt& jolt : plan.jolts) {
    double size = 0.0;
    for (int p = 0; p < 6; ++p) {
      size += std::fabs(jolt.offset[p]) * (p < 3 ? 1.0 : kRadiusMm * kTwoPi / 360.0);
    }
    if (jolt.first < kVolumes) gains[jolt.first] -= kLossPerMm * size;
    if (jolt.first + 1 < kVolumes) gains[jolt.first + 1] -= 0.5 * kLossPerMm * size;
  }
  return gains;
}

// 16-bit images of every volume, volume-major, x fastest: thermal noise on
// the head, a Rayleigh-like background, a slow global signal drift and the
// head's gains.
std::vector<std::int16_t> runImages(const std::vector<double>& pattern,
                                    const std::vector<double>& gains, std::uint32_t seed) {
  Noise noise(seed);
  std::vector<std::int16_t> images(pattern.size() * kVolumes);
  std::size_t out = 0;
  for (int t = 0; t < kVolumes; ++t) {
    const double drift = (1.0 + 0.01 * std::sin(kTwoPi * t / kVolumes)) * gains[t];
    for (const double mean : pattern) {
      double value;
      if (mean > 0.0) {
        value = mean * drift + 18.0 * noise.normal();
      } else {
        const double a = 9.0 * noise.normal();
        const double b = 9.0 * noise.normal();
        value = std::sqrt(a * a + b * b);
      }
      value = std::clamp(std::round(value), 0.0, 32767.0);
      images[out++] = static_cast<std::int16_t>(value);
    }
  }
  return images;
}

// ---------------------------------------------------------------------------
// Writing the study
// ---------------------------------------------------------------------------

void writeRun(const std::filesystem::path& dir, const std::string& name, const MotionPlan& motion,
              const std::vector<double>& pattern, std::uint32_t imageSeed,
              int trMs = kRepetitionTimeMs) {
  tsl::FmrLayout run;
  run.prefix = name;
  run.volumes = kVolumes;
  run.slices = kSlices;
  run.resolutionX = kDimX;
  run.resolutionY = kDimY;
  run.dataType = 1;
  run.tr = trMs;
  run.inplaneResolutionX = kInplaneMm;
  run.inplaneResolutionY = kInplaneMm;
  run.sliceThickness = kSliceThicknessMm;
  run.sliceGap = kSliceGapMm;
  tsl::writeFmrHeader((dir / (name + ".fmr")).string(), run);

  const std::vector<std::int16_t> images = runImages(pattern, signalGains(motion), imageSeed);
  const std::size_t volumeSize = pattern.size();
  tsl::writeStc((dir / (name + ".stc")).string(), kDimX, kDimY, kSlices, kVolumes,
                [&](int x, int y, int z, int t) {
                  const std::size_t index =
                      static_cast<std::size_t>(t) * volumeSize +
                      (static_cast<std::size_t>(z) * kDimY + static_cast<std::size_t>(y)) * kDimX +
                      static_cast<std::size_t>(x);
                  return static_cast<float>(images[index]);
                },
                false);

  std::vector<tsl::MotionRow> rows;
  for (const auto& row : motionRows(motion)) {
    tsl::MotionRow values{};
    for (std::size_t p = 0; p < values.size(); ++p) values[p] = static_cast<float>(row[p]);
    rows.push_back(values);
  }
  tsl::writeHostMotionSdm((dir / (name + "_3DMC.sdm")).string(), rows);
}

void writeStudy(const std::filesystem::path& requested) {
  std::filesystem::create_directories(requested);
  // The study list names files by absolute path, as the host writes it, so
  // that it reads the same from any working folder.
  const std::filesystem::path dir = std::filesystem::absolute(requested);
  const std::vector<double> pattern = headPattern();
  writeRun(dir, "run1", kRun1Motion, pattern, 7101);
  writeRun(dir, "run2", kRun2Motion, pattern, 7102);
  writeRun(dir, "mb1", kMultibandMotion, pattern, 7103, kMultibandTrMs);
  tsl::writeMdm((dir / "study_3DMC.mdm").string(),
                {(dir / "run1_3DMC.sdm").string(), (dir / "run2_3DMC.sdm").string()},
                {(dir / "run1.fmr").string(), (dir / "run2.fmr").string()});
}

// ---------------------------------------------------------------------------
// Reading a saved map file
// ---------------------------------------------------------------------------

template <typename T>
T readLittleEndian(const std::vector<char>& bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// Largest value of the last map in a NIfTI-1 single file of float32 maps.
float lastMapMaximum(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open map file " + path);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  constexpr std::size_t kHeaderSize = 348;
  if (bytes.size() < kHeaderSize || readLittleEndian<std::int32_t>(bytes, 0) != 348) {
    throw std::runtime_error("map file " + path + " is not a NIfTI-1 file");
  }
  const auto rank = readLittleEndian<std::int16_t>(bytes, 40);
  const auto datatype = readLittleEndian<std::int16_t>(bytes, 70);
  if (rank < 3 || rank > 7 || datatype != 16) {
    throw std::runtime_error("map file " + path + " holds no float32 maps");
  }
  std::size_t voxels = 1;
  for (int axis = 1; axis <= 3; ++axis) {
    const auto n = readLittleEndian<std::int16_t>(bytes, 40 + 2 * static_cast<std::size_t>(axis));
    if (n <= 0) throw std::runtime_error("map file " + path + " has an empty grid");
    voxels *= static_cast<std::size_t>(n);
  }
  const std::int16_t maps = rank >= 4 ? readLittleEndian<std::int16_t>(bytes, 48) : 1;
  const float voxOffset = readLittleEndian<float>(bytes, 108);
  if (maps <= 0 || !(voxOffset >= static_cast<float>(kHeaderSize))) {
    throw std::runtime_error("map file " + path + " has a bad map count or data offset");
  }
  const auto start = static_cast<std::size_t>(voxOffset) +
                     (static_cast<std::size_t>(maps) - 1) * voxels * sizeof(float);
  if (bytes.size() < start + voxels * sizeof(float)) {
    throw std::runtime_error("map file " + path + " is shorter than its header announces");
  }
  float largest = -std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < voxels; ++i) {
    largest = std::max(largest, readLittleEndian<float>(bytes, start + i * sizeof(float)));
  }
  return largest;
}

int usage() {
  std::cerr << "usage: sample_study DIR\n"
               "       sample_study --map-max MAPFILE\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 2 && argv[1][0] != '-') {
      writeStudy(argv[1]);
      return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--map-max") {
      std::printf("%.3f\n", static_cast<double>(lastMapMaximum(argv[2])));
      return 0;
    }
    return usage();
  } catch (const std::exception& error) {
    std::cerr << "sample_study: " << error.what() << "\n";
    return 1;
  }
}
