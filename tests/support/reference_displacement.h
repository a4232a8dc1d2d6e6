// The displacement measures computed the plain way: the whole voxel grid
// moved by transformPoints volume by volume, three full point sets, and the
// measures taken over the mask. Slow and large, but easy to check by eye; it
// is the oracle the fast kernel must match bit for bit.
#ifndef TESSEL_TESTS_SUPPORT_REFERENCE_DISPLACEMENT_H
#define TESSEL_TESTS_SUPPORT_REFERENCE_DISPLACEMENT_H

#include <cstdint>
#include <vector>

#include "motion/displacement_kernel.h"

namespace tsl::testing {

// The contract of computeDisplacement, for a valid mask and document.
DisplacementMaps referenceDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                       const float extent[3], const SdmDocument& motion);

// The seven maps in a fixed order, for comparing two results map by map.
std::vector<const Volume*> mapsInOrder(const DisplacementMaps& maps);

// The position in mapsInOrder of the first map whose grid or bytes differ
// between a and b; -1 when all seven are the same bit for bit (where both
// hold a not-a-number, its sign and payload bits may differ).
int firstDifferentMap(const DisplacementMaps& a, const DisplacementMaps& b);

}  // namespace tsl::testing

#endif
