// motion_filter_dump: the motion filter of one run, printed for comparison
// with a peer (bench/motion_filter_crosscheck.py runs scipy on the same file).
//
//   motion_filter_dump TYPE BAND_STOP_MIN BAND_STOP_MAX ORDER TR_MS SDM_FILE
//
// TYPE, the band (breaths per minute) and ORDER as the dialog's
// motion_filter, band_stop_min, band_stop_max and motion_filter_order; TR_MS
// the run's repetition time. Prints, numbers with 17 significant digits:
//   band <folded 0|1> <low Hz> <high Hz>
//   b <coefficients>
//   a <coefficients>
//   passes <n>
// then one line per volume with its six filtered motion parameters.
// Exit status 1 with the reason on standard error when the file cannot be
// read or the filter is refused, 2 for a bad command line.
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "confound/motion_filter.h"
#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"

namespace {

constexpr int kArgumentCount = 7;
constexpr int kBadCommandLine = 2;

template <typename T>
bool parse(const char* text, T& value) {
  const std::string s(text);
  const auto result = std::from_chars(s.data(), s.data() + s.size(), value);
  return result.ec == std::errc() && result.ptr == s.data() + s.size();
}

void printRow(const char* label, const std::vector<double>& values) {
  std::printf("%s", label);
  for (const double v : values) std::printf(" %.17g", v);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int type = 0;
  float low = 0.0f;
  float high = 0.0f;
  int order = 0;
  double trMs = 0.0;
  if (argc != kArgumentCount || !parse(argv[1], type) || !parse(argv[2], low) ||
      !parse(argv[3], high) || !parse(argv[4], order) || !parse(argv[5], trMs)) {
    std::fprintf(stderr,
                 "usage: motion_filter_dump TYPE BAND_STOP_MIN BAND_STOP_MAX ORDER TR_MS "
                 "SDM_FILE\n");
    return kBadCommandLine;
  }
  try {
    const tsl::MotionFilterParameters p = tsl::motionFilterParameters(type, low, high, order);
    if (p.type == tsl::MotionFilterType::kNone) {
      std::fprintf(stderr, "motion_filter_dump: TYPE 0 filters nothing\n");
      return kBadCommandLine;
    }
    const tsl::SdmDocument document(argv[6]);
    const tsl::MotionParameters motion = tsl::motionParametersOf(document);
    const tsl::FilteredMotion filtered = tsl::filterMotion(p, motion, trMs, document.path);
    const tsl::IirFilter filter = tsl::designMotionFilter(p, filtered.band);
    std::printf("band %d %.17g %.17g\n", filtered.band.folded ? 1 : 0, filtered.band.lowHz,
                filtered.band.highHz);
    printRow("b", filter.b);
    printRow("a", filter.a);
    std::printf("passes %d\n", filter.passes);
    for (std::size_t j = 0; j < motion.volumes.size(); ++j) {
      for (std::size_t c = 0; c < filtered.columns.size(); ++c) {
        std::printf(c == 0 ? "%.17g" : " %.17g", filtered.columns[c][j]);
      }
      std::printf("\n");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "motion_filter_dump: %s\n", error.what());
    return 1;
  }
  return 0;
}
