// The voxel data of a functional run: its slice time-course file (.stc), next
// to the header file, named after the header's Prefix. The file holds, slice
// by slice, that slice's whole time series: NrOfVolumes images of ResolutionY
// rows of ResolutionX little-endian values, 32-bit floats when DataType is 2
// and 16-bit signed integers otherwise.
#ifndef TESSEL_FMR_STC_READER_H
#define TESSEL_FMR_STC_READER_H

#include <cstdint>
#include <string>
#include <string_view>

#include "fmr/fmr_header.h"
#include "motion/volume.h"

namespace tsl {

// directoryOf(header.path) + Prefix + ".stc".
// REQUIRES: header.Prefix.present.
std::string stcPathOf(const FmrFileHeader& header);

// Replaces header.voxelData with the file's contents: NrOfVolumes volumes of
// (ResolutionX, ResolutionY, NrOfSlices) voxels, in time order.
//
// Before anything is allocated or read, throws IOError naming the FMR file:
// with the key when NrOfVolumes, NrOfSlices, ResolutionX, ResolutionY or
// Prefix is absent or one of the four counts is negative, and when a volume
// would hold no voxel or more than a 32-bit element count. When the header
// reader stopped at an unreadable value (FmrFileHeader::unreadValue) that is
// one of these entries or DataType, or that lies before an absent one of
// them, the message is that problem instead ("FMR file <path>: value of TR
// cannot be read as an integer (found "n/a")"). Throws OpenFileError
// ("Failed opening STC for reading: " + STC path) when the STC file cannot be
// opened (a folder of that name included), and IOError naming the STC file
// and both sizes when its size differs from the one the header announces.
// A failed read throws IOError naming the STC file. On any error the voxel
// data are left as they were.
void readStcData(FmrFileHeader& header);

// readStcData on the bytes of the STC file, already in memory: the same
// checks and messages, the file named stcPathOf(header) in them; no file is
// opened.
void readStcData(FmrFileHeader& header, std::string_view stcBytes);

// The first time point of the run alone: the first image of every slice,
// read with the same checks as readStcData (the whole file's size included),
// without loading the rest of the run. Throws IOError naming the FMR file when
// NrOfVolumes is 0, since such a run has no first volume.
Volume readFirstVolume(const FmrFileHeader& header);

// readFirstVolume on the bytes of the STC file, already in memory, as
// readStcData(header, stcBytes) reads them.
Volume readFirstVolume(const FmrFileHeader& header, std::string_view stcBytes);

}  // namespace tsl

#endif
