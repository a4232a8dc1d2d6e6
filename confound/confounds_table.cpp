#include "confound/confounds_table.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ostream>
#include <stdexcept>

#include "designmatrix/motion_parameters.h"

namespace tsl {
namespace {

constexpr const char* kNotAvailable = "n/a";
constexpr const char* kParameterNames[kMotionParameterCount] = {"trans_x", "trans_y", "trans_z",
                                                                "rot_x",   "rot_y",   "rot_z"};
constexpr const char* kAxes[3] = {"x", "y", "z"};
constexpr int kTranslations = 3;

// The shortest text that reads back as value (a float as the float it is).
template <typename Number>
std::string shortest(Number value) {
  char digits[64];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

// stem followed by k in two digits or more.
std::string numbered(const char* stem, std::size_t k) {
  const std::string digits = std::to_string(k);
  return stem + std::string(digits.size() < 2 ? 1 : 0, '0') + digits;
}

std::size_t volumesOf(const ConfoundSeries& s) {
  return static_cast<std::size_t>(std::max(s.motion->NrOfDataPoints.value, 0));
}

void requireVolumes(std::size_t size, std::size_t volumes, const char* what) {
  if (size != volumes) {
    throw std::invalid_argument(std::string("Confounds table: the ") + what + " series holds " +
                                std::to_string(size) + " values for a run of " +
                                std::to_string(volumes) + " volumes");
  }
}

void requireSeries(const ConfoundSeries& s) {
  requireMotionParameters(*s.motion);
  const std::size_t n = volumesOf(s);
  requireVolumes(s.framewiseDisplacement.size(), n, "framewise displacement");
  requireVolumes(s.relativeRms.size(), n, "relative RMS");
  if (!s.dvars.empty() || !s.stdDvars.empty()) {
    requireVolumes(s.dvars.size(), n, "DVARS");
    requireVolumes(s.stdDvars.size(), n, "std DVARS");
  }
  if (s.filtered != nullptr) {
    for (const std::vector<double>& column : *s.filtered)
      requireVolumes(column.size(), n, "filtered motion");
    requireVolumes(s.framewiseDisplacementFiltered.size(), n, "filtered framewise displacement");
  }
  if (s.nonSteady > n)
    throw std::invalid_argument("Confounds table: more non-steady volumes than volumes");
  for (const std::size_t v : s.flagged) {
    if (v >= n)
      throw std::invalid_argument("Confounds table: flagged volume " + std::to_string(v) +
                                  " outside the run");
  }
}

// Parameter p of volume t as the table holds it: rotations in radians.
double parameter(const ConfoundSeries& s, std::size_t p, std::size_t t) {
  const double value = s.motion->columns[p][t];
  return p < kTranslations ? value : radiansOf(value);
}

std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

struct ColumnDescription {
  std::string name, description, units;
};

std::vector<ColumnDescription> describeColumns(const ConfoundSeries& s) {
  std::vector<ColumnDescription> columns;
  for (std::size_t p = 0; p < kMotionParameterCount; ++p) {
    const bool translation = p < kTranslations;
    const std::string what = std::string(translation ? "Translation along " : "Rotation about ") +
                             kAxes[p % kTranslations] + " as estimated by the motion correction";
    const std::string units = translation ? "mm" : "rad";
    const std::string squaredUnits = translation ? "mm^2" : "rad^2";
    columns.push_back({kParameterNames[p], what, units});
    columns.push_back({std::string(kParameterNames[p]) + "_derivative1",
                       "Change of " + std::string(kParameterNames[p]) + " from the previous volume",
                       units});
    columns.push_back({std::string(kParameterNames[p]) + "_power2",
                       "Square of " + std::string(kParameterNames[p]), squaredUnits});
    columns.push_back({std::string(kParameterNames[p]) + "_derivative1_power2",
                       "Square of " + std::string(kParameterNames[p]) + "_derivative1",
                       squaredUnits});
  }
  columns.push_back({"framewise_displacement",
                     "Framewise displacement (Power et al. 2012): summed absolute changes of the "
                     "parameters from the previous volume, rotations as arcs on a 50 mm sphere",
                     "mm"});
  columns.push_back({"relative_rms",
                     "Relative RMS displacement of the detrended parameters from the previous "
                     "volume over a 65 mm sphere (single precision)",
                     "mm"});
  const std::string dvarsUnits = "tenths of a percent of the run's median intensity";
  columns.push_back({"dvars",
                     "Root mean square over the brain voxels of the change from the previous "
                     "volume, intensities scaled to a median of 1000",
                     dvarsUnits});
  columns.push_back({"std_dvars", "DVARS divided by its expected value (Nichols 2013)", ""});
  if (s.filtered != nullptr) {
    for (std::size_t p = 0; p < kMotionParameterCount; ++p) {
      columns.push_back({std::string(kParameterNames[p]) + "_filtered",
                         std::string(kParameterNames[p]) + " after the motion filter",
                         p < kTranslations ? "mm" : "rad"});
    }
    columns.push_back({"framewise_displacement_filtered",
                       "Framewise displacement of the filtered parameters", "mm"});
  }
  for (std::size_t k = 0; k < s.nonSteady; ++k) {
    columns.push_back({numbered("non_steady_state_outlier", k),
                       "Volume " + std::to_string(k) + " is not yet at steady state", ""});
  }
  for (std::size_t k = 0; k < s.flagged.size(); ++k) {
    columns.push_back({numbered("motion_outlier", k),
                       "Volume " + std::to_string(s.flagged[k]) + " is censored", ""});
  }
  return columns;
}

}  // namespace

std::vector<std::string> confoundColumnNames(const ConfoundSeries& series) {
  std::vector<std::string> names;
  for (const ColumnDescription& c : describeColumns(series)) names.push_back(c.name);
  return names;
}

void writeConfoundsTable(std::ostream& out, const ConfoundSeries& s) {
  requireSeries(s);
  const std::size_t n = volumesOf(s);
  const std::vector<std::string> names = confoundColumnNames(s);
  for (std::size_t c = 0; c < names.size(); ++c) out << (c == 0 ? "" : "\t") << names[c];
  out << '\n';
  const bool haveDvars = !s.dvars.empty();
  for (std::size_t t = 0; t < n; ++t) {
    std::string row;
    auto cell = [&row](const std::string& text) {
      if (!row.empty()) row += '\t';
      row += text;
    };
    for (std::size_t p = 0; p < kMotionParameterCount; ++p) {
      const double value = parameter(s, p, t);
      cell(shortest(value));
      if (t == 0) {
        cell(kNotAvailable);
      } else {
        cell(shortest(value - parameter(s, p, t - 1)));
      }
      cell(shortest(value * value));
      if (t == 0) {
        cell(kNotAvailable);
      } else {
        const double change = value - parameter(s, p, t - 1);
        cell(shortest(change * change));
      }
    }
    cell(t == 0 ? kNotAvailable : shortest(s.framewiseDisplacement[t]));
    cell(t == 0 ? kNotAvailable : shortest(s.relativeRms[t]));
    cell(t == 0 || !haveDvars ? kNotAvailable : shortest(s.dvars[t]));
    cell(t == 0 || !haveDvars ? kNotAvailable : shortest(s.stdDvars[t]));
    if (s.filtered != nullptr) {
      for (std::size_t p = 0; p < kMotionParameterCount; ++p) {
        const double value = (*s.filtered)[p][t];
        cell(shortest(p < kTranslations ? value : radiansOf(value)));
      }
      cell(t == 0 ? kNotAvailable : shortest(s.framewiseDisplacementFiltered[t]));
    }
    for (std::size_t k = 0; k < s.nonSteady; ++k) cell(t == k ? "1" : "0");
    for (const std::size_t v : s.flagged) cell(t == v ? "1" : "0");
    out << row << '\n';
  }
}

void writeConfoundsSidecar(std::ostream& out, const ConfoundSeries& series,
                           const ConfoundsProvenance& p) {
  requireSeries(series);
  out << "{\n";
  for (const ColumnDescription& c : describeColumns(series)) {
    out << "  " << jsonString(c.name) << ": {\"Description\": " << jsonString(c.description);
    if (!c.units.empty()) out << ", \"Units\": " << jsonString(c.units);
    out << "},\n";
  }
  out << "  \"GeneratedBy\": {\"Name\": \"Tessel\", \"Version\": " << jsonString(p.version)
      << ", \"MotionFile\": " << jsonString(p.motionFile)
      << ", \"DataFile\": " << (p.dataFile.empty() ? "null" : jsonString(p.dataFile)) << "},\n";
  out << "  \"Censoring\": {\"Rule\": " << jsonString(p.rule)
      << ", \"SpikeMeasure\": " << p.spikeMeasure
      << ", \"SpikeThreshold\": " << shortest(p.spikeThreshold)
      << ", \"FdThreshold\": " << shortest(p.fdThreshold)
      << ", \"DvarsThreshold\": " << shortest(p.dvarsThreshold)
      << ", \"VolumesBefore\": " << p.volumesBefore << ", \"VolumesAfter\": " << p.volumesAfter
      << ", \"MinimumSegment\": " << p.minimumSegment
      << ", \"NonSteadyStateVolumes\": " << series.nonSteady
      << ", \"NonSteadyStateFound\": " << (p.nonSteadyDetected ? "\"detected\"" : "\"as set\"")
      << ", \"CensoredVolumes\": " << series.flagged.size() << "},\n";
  out << "  \"MotionFilter\": " << (p.motionFilter.empty() ? "null" : jsonString(p.motionFilter))
      << "\n";
  out << "}\n";
}

}  // namespace tsl
