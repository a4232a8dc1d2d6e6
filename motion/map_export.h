// Hands a volume to the host as a new map of the current functional run and
// has the host save the run's maps to a file.
#ifndef TESSEL_MOTION_MAP_EXPORT_H
#define TESSEL_MOTION_MAP_EXPORT_H

#include <string>

#include "motion/volume.h"

namespace tsl {

// Creates a map in the host's current run, copies volume into its slices
// (voxel (x, y, z) to slice z, element y*DimX + x), sets the map's lower and
// upper values, and asks the host to save the run's maps to path.
//
// Throws std::logic_error "assertion failure (tessel:<line>): <expression>"
// when the host returns no slice array (52, "slices != nullptr") or a map
// whose grid differs from the volume's (53 "dim.z == header.DimZ", 54
// "dim.y == header.DimY", 55 "dim.x == header.DimX", checked in that order);
// the host's new map then stays empty and nothing is saved. Throws
// std::runtime_error when the host hands out a null slice, and what the host
// wrappers throw for a missing host function. Throws IOError "Failed writing
// file: " + path when the host did not write the file: after the save, path
// is not a regular file, or it is the same file as before, with the same size
// and last-write time. The map then stays in the host's run.
void exportMap(const Volume& volume, float lowerValue, float upperValue, const std::string& path);

}  // namespace tsl

#endif
