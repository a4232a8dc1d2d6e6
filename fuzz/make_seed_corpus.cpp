// make_seed_corpus DIR: writes the seed corpora of the fuzz targets into
// DIR/<target>/ from valid files made by the project's own writers (the SDM
// and MDM writers) and by the writers of the host's layouts. The committed
// corpora under fuzz/corpus/ are its output plus the fuzzers' findings.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "designmatrix/mdm_document.h"
#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::vector<tsl::MotionRow> motionRows(int count) {
  std::vector<tsl::MotionRow> rows;
  for (int i = 0; i < count; ++i) {
    const float f = static_cast<float>(i);
    rows.push_back({0.01f * f, -0.0003f * f, 12.5f * (i % 2 == 0 ? 1.0f : -1.0f), 5.806e-05f * f,
                    -0.5f, 0.0f});
  }
  rows[0] = {0, 0, 0, 0, 0, 0};
  return rows;
}

void sdmSeeds(const fs::path& dir) {
  tsl::SdmDocument two;
  two.NrOfDataPoints.value = 2;
  two.addPredictor({0.5f, -1.0f}, "A", 255, 0, 0);
  two.addPredictor({-0.25f, 0.0f}, "B", 0, 0, 255);
  two.writeToFile((dir / "two_predictors.sdm").string());
  tsl::SdmDocument empty;
  empty.NrOfDataPoints.value = 3;
  empty.writeToFile((dir / "no_predictors.sdm").string());
  tsl::writeHostMotionSdm((dir / "host_motion.sdm").string(), motionRows(6));
  tsl::SdmDocument motion((dir / "host_motion.sdm").string());
  motion.writeToFile((dir / "rewritten_motion.sdm").string());
}

void mdmSeeds(const fs::path& dir) {
  tsl::writeMdm((dir / "fmr.mdm").string(), {"C:/old/sub/run1_3DMC.sdm", "run2_3DMC.sdm"},
                {"C:/old/sub/run1.fmr", "run2.fmr"});
  tsl::writeMtcMdm((dir / "mtc.mdm").string(), {"a.srf"}, {"D:\\new\\run1_3DMC.sdm"}, {"run1.mtc"});
  tsl::MdmDocument document((dir / "fmr.mdm").string());
  document.path = (dir / "rewritten.mdm").string();
  document.writeToFile();
}

void fmrSeeds(const fs::path& dir) {
  tsl::FmrLayout run;
  tsl::writeFmrHeader((dir / "host_run.fmr").string(), run);
  run.crlf = false;
  run.quotedPrefix = false;
  run.dataType = 2;
  run.pastTransformation = false;
  run.sliceTiming = {0.0f, 500.0f, 1000.0f, 1500.0f};
  tsl::writeFmrHeader((dir / "lf_float_run.fmr").string(), run);
}

// The STC target's input: a byte choosing the target's header, then the file.
void stcSeeds(const fs::path& dir, const fs::path& scratch) {
  struct Seed {
    const char* name;
    std::uint8_t layout;
    int x, y, z, t;
    bool floats;
  };
  const Seed seeds[] = {{"int16_2x2x2x3", 0, 2, 2, 2, 3, false},
                        {"float_2x2x2x3", 1, 2, 2, 2, 3, true},
                        {"int16_single", 2, 1, 1, 1, 1, false},
                        {"float_3x2x1x2", 3, 3, 2, 1, 2, true}};
  for (const auto& seed : seeds) {
    const fs::path stc = scratch / "seed.stc";
    tsl::writeStc(
        stc.string(), seed.x, seed.y, seed.z, seed.t,
        [](int x, int y, int z, int t) {
          return static_cast<float>(x + 10 * y + 100 * z) - 7.25f * static_cast<float>(t);
        },
        seed.floats);
    std::string input = slurp(stc);
    input.insert(input.begin(), static_cast<char>(seed.layout));
    spit(dir / seed.name, input);
  }
  spit(dir / "no_volumes", std::string(1, '\x04'));
}

// The STC slice target's input: a byte choosing the target's header (its
// value modulo 6) and mask threshold (its value / 6 modulo 4), then the file.
// Runs whose DVARS can be computed, with bright first volumes, and a float
// run with a value that is not a number.
void stcSliceSeeds(const fs::path& dir, const fs::path& scratch) {
  struct Seed {
    const char* name;
    std::uint8_t layout;
    int x, y, z, t;
    bool floats;
  };
  const Seed seeds[] = {{"int16_2x2x2x5", 0 + 6 * 2, 2, 2, 2, 5, false},
                        {"float_3x2x1x5", 1 + 6 * 1, 3, 2, 1, 5, true},
                        {"int16_2x1x2x3", 2 + 6 * 0, 2, 1, 2, 3, false},
                        {"float_single", 3 + 6 * 1, 1, 1, 1, 1, true},
                        {"float_2x1x1x60", 5 + 6 * 2, 2, 1, 1, 60, true}};
  for (const auto& seed : seeds) {
    const fs::path stc = scratch / "seed.stc";
    tsl::writeStc(
        stc.string(), seed.x, seed.y, seed.z, seed.t,
        [](int x, int y, int z, int t) {
          const float bright = t < 2 ? 400.0f : 0.0f;
          return 500.0f + bright + static_cast<float>((x * 37 + y * 11 + z * 5 + t * 13) % 29);
        },
        seed.floats);
    std::string input = slurp(stc);
    input.insert(input.begin(), static_cast<char>(seed.layout));
    spit(dir / seed.name, input);
    if (seed.floats && seed.t == 5) {
      // 0x7FC00000, a quiet NaN, as slice 0's value 4 of volume 3.
      input.replace(1 + 4 * (3 * 6 + 4), 4, std::string("\x00\x00\xC0\x7F", 4));
      spit(dir / "float_3x2x1x5_nan", input);
    }
  }
  spit(dir / "no_volumes", std::string(1, '\x04'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seed_corpus DIR\n");
    return 2;
  }
  try {
    const fs::path root(argv[1]);
    for (const char* target :
         {"sdm_reader", "mdm_reader", "fmr_header", "stc_reader", "stc_slice_reader", "scratch"}) {
      fs::create_directories(root / target);
    }
    sdmSeeds(root / "sdm_reader");
    mdmSeeds(root / "mdm_reader");
    fmrSeeds(root / "fmr_header");
    stcSeeds(root / "stc_reader", root / "scratch");
    stcSliceSeeds(root / "stc_slice_reader", root / "scratch");
    fs::remove_all(root / "scratch");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
