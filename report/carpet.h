// The carpet plot of a run (Power 2017): one image column per volume, one
// row per group of masked voxels, grey for how far each voxel's signal lies
// from its own trend at that volume. Head motion shows as a band across all
// rows at once; a lone voxel's noise does not.
//
// It is built while the run's voxel data pass by, voxel after voxel, so that
// the DVARS pass can feed it: memory is one accumulator per pixel and a few
// numbers per row, nothing per voxel.
//
// Each voxel's series x (T values) becomes z-scores: x minus its mean and
// its least-squares line over the volume index, divided by the standard
// deviation of what is left (n - 1 divisor). A voxel whose deviation is 0
// (constant, or a straight line) has z = 0 at every volume; so has every
// voxel of a run of one volume. A residual sum of squares within
// kCarpetFlatTolerance of the sum of squares about the mean counts as 0:
// what is left of a straight line after rounding is no signal.
//
// The sums a voxel needs are taken in one look at its series (of its values
// less the first, which keeps them exact for 16-bit data); a second look
// adds the series less its mean, times the voxel's scale, to its row (in
// single precision), and the row keeps the sums of the scaled slopes and of
// what rounding left of the means, which image() takes off.
// The sums run in a fixed set of independent lanes, so that vector
// instructions can take them, in an order that depends neither on the
// instructions (each compiled version gives the same bits) nor on threads.
//
// Voxels come in mask order (slice, then row, then column). Image row r is
// the mean of the z-scores of the voxels r g ... r g + g - 1, with g =
// ceil(V / kCarpetMaxRows) (the last row's group may be smaller); the mean
// is taken of z-scores, which the grey level then shows:
// round((z + 2) / 4 x 255), clamped to 0 (z <= -2) ... 255 (z >= 2).
#ifndef TESSEL_REPORT_CARPET_H
#define TESSEL_REPORT_CARPET_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "designmatrix/cpu_features.h"
#include "report/png_image.h"

namespace tsl {

inline constexpr std::size_t kCarpetMaxRows = 500;
// The z-scores shown black and white.
inline constexpr double kCarpetZLimit = 2.0;
inline constexpr double kCarpetFlatTolerance = 1e-10;

// The grey level of z-score z, as above.
std::uint8_t carpetGreyOf(double z);

class CarpetPlot {
 public:
  // Throws std::invalid_argument when voxels or volumes is 0.
  CarpetPlot(std::size_t voxels, std::size_t volumes);

  // The same for voxels that arrive in parts (the slices of a run, read by
  // several threads): part p holds the voxels partStarts[p] ... partStarts[p
  // + 1] - 1, partStarts starting at 0 and ending at voxels. Each part sums
  // its voxels on its own, and image() adds the parts in order, so the image
  // does not depend on which thread added which part. Throws
  // std::invalid_argument as above, and when partStarts is not such a list.
  // instructions chooses the compiled version of its sums, which give the
  // same image; asking for AVX2 on a CPU without it throws
  // std::invalid_argument.
  CarpetPlot(std::size_t voxels, std::size_t volumes, std::vector<std::size_t> partStarts,
             KernelInstructions instructions = KernelInstructions::automatic);

  std::size_t rows() const { return rows_; }
  std::size_t voxelsPerRow() const { return groupSize_; }
  std::size_t voxelsAdded() const;

  // Adds the next voxel's series, one value per volume, in double precision.
  // Throws std::invalid_argument, adding nothing, when series does not hold
  // one value per volume, when a value is not a finite number, when values
  // lie further from their mean than a float holds (near 1.7e38), or when
  // every voxel (of its part) was added already. A variation too fine for
  // single precision (a standard deviation below about 3e-39) shows as none.
  void addVoxel(std::span<const double> series);
  void addVoxel(std::span<const float> series);

  // Adds voxel (its index among all voxels) of part, as addVoxel does. The
  // voxels of one part come from one thread, in increasing order; different
  // parts may be added by different threads at once. addVoxel adds to the
  // first part.
  // REQUIRES: voxel lies in part, and has not been added.
  void addVoxelOf(std::size_t part, std::size_t voxel, std::span<const float> series);

  // The image: one column per volume, rows() rows. Throws std::logic_error
  // when fewer voxels than announced were added.
  GreyImage image() const;

 private:
  // The sums of one part's voxels: rows firstRow ... of the image. Row r's
  // sum of z-scores at volume t is sums[r][t] - offsets[r] - slopes[r] c(t),
  // c(t) = t - (T - 1) / 2. A part has its own cache lines (64 bytes on the
  // machines this runs on), so that the threads adding neighbouring parts
  // do not contend for them.
  struct alignas(64) Part {
    std::size_t firstRow = 0;
    std::size_t voxels = 0;
    std::size_t added = 0;
    std::vector<float> sums;  // rows x volumes_: the series less their means, scaled
    std::vector<double> offsets;
    std::vector<double> slopes;
  };
  struct Kernels;
  static const Kernels* kernelsFor(KernelInstructions instructions);

  template <typename Value>
  void add(Part& part, std::size_t voxel, std::span<const Value> series);

  std::size_t voxels_;
  std::size_t volumes_;
  std::size_t groupSize_;
  std::size_t rows_;
  double timeSquares_;  // the sum of c(t)^2
  const Kernels* kernels_;
  std::vector<Part> parts_;
};

}  // namespace tsl

#endif
