// Writers of motion files in the host's own layout: the SDM that the host's 3D
// motion correction writes per run (*_3DMC.sdm) and the MDM that lists several
// runs. Used by the sample-study generator and by the tests; the plug-in itself
// reads these files but writes them only in its own layout.
#ifndef TESSEL_EXAMPLES_MOTION_FILE_WRITER_H
#define TESSEL_EXAMPLES_MOTION_FILE_WRITER_H

#include <array>
#include <string>
#include <vector>

#include "designmatrix/motion_parameters.h"  // MotionRow

namespace tsl {

// The host's number field: six significant digits right-aligned in 12
// characters, as printf("%12g") prints in the "C" locale: "           0" for
// zero, exponents for small and large magnitudes ("   5.806e-05"). A value
// whose text fills all 12 characters touches the field before it
// ("   0.0310625-0.000387509"); a longer one takes what it needs.
std::string hostNumber(float value);

// Names and colours of the six motion predictors, in file order.
extern const std::array<std::string, 6> kMotionPredictorNames;
extern const std::array<std::array<int, 3>, 6> kMotionPredictorColours;

// The text of a motion SDM: the host's header (FileVersion 1, six predictors,
// rows.size() data points, IncludesConstant 0, FirstConfoundPredictor 1), the
// colour line, the names line, and one line of six hostNumber fields per row.
// Lines end in CRLF.
std::string hostMotionSdmText(const std::vector<MotionRow>& rows);

// Writes hostMotionSdmText(rows) to path, complete or not at all. Throws
// std::runtime_error naming the path when it cannot be written.
void writeHostMotionSdm(const std::string& path, const std::vector<MotionRow>& rows);

// Writes an MDM of functional runs ("FMR") in the host's layout: study j is the
// line "dataPaths[j]" "sdmPaths[j]". REQUIRES: both lists equally long. Paths
// are written as given. Complete or not at all; throws std::runtime_error
// naming the path on failure.
void writeMdm(const std::string& path, const std::vector<std::string>& sdmPaths,
              const std::vector<std::string>& dataPaths);

// The same for mesh time courses ("MTC"): each study line carries three
// quoted paths, "leadingPaths[j]" "dataPaths[j]" "sdmPaths[j]". REQUIRES: the
// three lists equally long.
void writeMtcMdm(const std::string& path, const std::vector<std::string>& leadingPaths,
                 const std::vector<std::string>& sdmPaths,
                 const std::vector<std::string>& dataPaths);

// The MDM text that writeMdm (typeOfFunctionalData "FMR", leadingPaths empty)
// and writeMtcMdm ("MTC") write.
std::string mdmText(const std::string& typeOfFunctionalData,
                    const std::vector<std::string>& leadingPaths,
                    const std::vector<std::string>& sdmPaths,
                    const std::vector<std::string>& dataPaths);

}  // namespace tsl

#endif
