// A functional run's text header file (.fmr) as read from disk: its entries,
// the slice timing table and, on request, the run's voxel data from its STC
// file. It is distinct from the host's own record of the current run.
#ifndef TESSEL_FMR_FMR_HEADER_H
#define TESSEL_FMR_FMR_HEADER_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "designmatrix/header_field.h"
#include "motion/volume.h"

namespace tsl {

// Every entry starts absent; FileVersion holds -1 until it is read. A user
// reads an entry's value only when its present flag is set. The members
// PosInfosVerified to GapThickness come from the position block, which opens
// with the line "PositionInformationFromImageHeaders" and ends with
// "GapThickness:"; its own "SliceThickness:" fills PositionSliceThickness.
struct FmrFileHeader {
  FmrFileHeader() { FileVersion.value = -1; }

  std::string path;  // the file the record was read from

  HeaderField<int> FileVersion;
  HeaderField<int> NrOfVolumes;
  HeaderField<int> NrOfSlices;
  HeaderField<int> NrOfSkippedVolumes;
  HeaderField<std::string> Prefix;
  HeaderField<int> DataStorageFormat;
  HeaderField<int> DataType;
  HeaderField<int> TR;
  HeaderField<int> InterSliceTime;
  HeaderField<bool> TimeResolutionVerified;
  HeaderField<int> TE;
  HeaderField<int> SliceAcquisitionOrder;
  HeaderField<bool> SliceAcquisitionOrderVerified;
  HeaderField<int> ResolutionX;
  HeaderField<int> ResolutionY;
  HeaderField<std::string> LoadAMRFile;
  HeaderField<bool> ShowAMRFile;
  HeaderField<int> ImageIndex;
  HeaderField<int> LayoutNColumns;
  HeaderField<int> LayoutNRows;
  HeaderField<int> LayoutZoomLevel;
  HeaderField<int> SegmentSize;
  HeaderField<int> SegmentOffset;
  HeaderField<int> NrOfLinkedProtocols;
  HeaderField<std::string> ProtocolFile;
  HeaderField<float> InplaneResolutionX;
  HeaderField<float> InplaneResolutionY;
  HeaderField<float> SliceThickness;
  HeaderField<float> SliceGap;
  HeaderField<bool> VoxelResolutionVerified;

  HeaderField<bool> PosInfosVerified;
  HeaderField<int> CoordinateSystem;
  HeaderField<float> Slice1CenterX, Slice1CenterY, Slice1CenterZ;
  HeaderField<float> SliceNCenterX, SliceNCenterY, SliceNCenterZ;
  HeaderField<float> RowDirX, RowDirY, RowDirZ;
  HeaderField<float> ColDirX, ColDirY, ColDirZ;
  HeaderField<int> NRows;
  HeaderField<int> NCols;
  HeaderField<float> FoVRows;
  HeaderField<float> FoVCols;
  HeaderField<float> PositionSliceThickness;
  HeaderField<float> GapThickness;

  HeaderField<int> NrOfPastSpatialTransformations;
  HeaderField<std::string> LeftRightConvention;
  HeaderField<std::string> FirstDataSourceFile;
  HeaderField<int> MultibandSequence;
  HeaderField<int> SliceTimingTableSize;

  // Set when the reading stopped at a value that could not be read as its
  // form: key is the entry's name ("slice timing table" for a number of the
  // table), problem says what stood there, as in "value of TR cannot be read
  // as an integer (found "n/a")". Entries after it in the file are absent.
  // A file that ends right after a key sets nothing.
  struct UnreadValue {
    std::string key;
    std::string problem;
  };
  std::optional<UnreadValue> unreadValue;

  // The SliceTimingTableSize numbers that follow that key, in file order.
  std::vector<float> sliceTimingTable;
  // One volume per time point, in time order; empty unless the data were read.
  std::vector<Volume> voxelData;
};

// Parses the bytes of an FMR header file; path names the file: it becomes
// the record's path (beside which the STC file is looked for) and stands in
// every message. The voxel data are not read.
//
// The reader walks the text token by token and reads the value of every key
// it knows; other tokens are skipped. A value that cannot be read as its form
// leaves the entry present with the value of the failed extraction, is noted
// in unreadValue and ends the reading without an error. Line feeds and
// carriage return plus line feed read alike, a UTF-8 byte-order mark at the
// start is skipped; numbers are read with a decimal point whatever the
// locale.
//
// Throws IOError naming the file when it announces a slice timing table
// larger than the rest of the bytes could hold.
FmrFileHeader parseFmrFileHeader(std::string_view bytes, const std::string& path);

// Reads the header file at path and parses its bytes (parseFmrFileHeader),
// then, when readData is true, reads the run's voxel data with readStcData.
//
// Throws OpenFileError ("Failed opening for reading: " + path) when the file
// cannot be opened, IOError ("Failed reading FMR file: " + path) when reading
// fails, what parseFmrFileHeader throws and, with readData, the errors of
// readStcData.
FmrFileHeader readFmrFileHeader(const std::string& path, bool readData);

}  // namespace tsl

#endif
