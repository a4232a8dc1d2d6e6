#include "motion/displacement_kernel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameters.h"
#include "motion/rigid_body.h"

namespace tsl {
namespace {

// Voxels per tile: the tile's thirteen arrays (26 KB) stay in the
// first-level cache while all volumes pass over them.
constexpr std::size_t kTileVoxels = 512;

// The twelve elements of a motion matrix that move a point, in the order the
// inner loop reads them.
struct MotionRows {
  float m00, m10, m20, m03;
  float m01, m11, m21, m13;
  float m02, m12, m22, m23;
};

std::vector<MotionRows> motionRowsOf(const MotionParameters& motion) {
  std::vector<MotionRows> rows(motion.volumes.size());
  for (std::size_t j = 0; j < rows.size(); ++j) {
    const MotionRow& row = motion.volumes[j];
    const Matrix4 m = motionMatrix(ParameterArray(std::vector<float>(row.begin(), row.end())));
    rows[j] = {m(0, 0), m(1, 0), m(2, 0), m(0, 3), m(0, 1), m(1, 1),
               m(2, 1), m(1, 3), m(0, 2), m(1, 2), m(2, 2), m(2, 3)};
  }
  return rows;
}

std::string noDataPointsMessage(const std::string& path) {
  return "SDM file " + path + ": holds no data points, nothing to measure";
}

void checkMask(const std::vector<std::int32_t>& mask, std::size_t voxels) {
  std::int64_t previous = -1;
  for (const std::int32_t index : mask) {
    if (index <= previous || static_cast<std::size_t>(index) >= voxels) {
      throw std::invalid_argument("voxel mask index " + std::to_string(index) +
                                  " is out of order or outside a grid of " +
                                  std::to_string(voxels) + " voxels");
    }
    previous = index;
  }
}

// What every tile needs: the mask, the grid's axes, the matrices, the results.
struct KernelInput {
  const std::int32_t* mask;
  std::size_t maskSize;
  Dim3 dims;
  GridAxis axes[3];
  const MotionRows* rows;
  std::size_t volumes;
  MaskedMeasures* out;
};

// A tile's voxels as separate arrays, so that the inner loop runs over
// consecutive floats and the compiler turns it into vector instructions.
struct alignas(64) Tile {
  alignas(64) float cx[kTileVoxels];
  alignas(64) float cy[kTileVoxels];
  alignas(64) float cz[kTileVoxels];
  alignas(64) float px[kTileVoxels];
  alignas(64) float py[kTileVoxels];
  alignas(64) float pz[kTileVoxels];
  alignas(64) float sumA[kTileVoxels];
  alignas(64) float sumR[kTileVoxels];
  alignas(64) float maxA[kTileVoxels];
  alignas(64) float maxR[kTileVoxels];
  alignas(64) float maxX[kTileVoxels];
  alignas(64) float maxY[kTileVoxels];
  alignas(64) float maxZ[kTileVoxels];
};

// One volume over the first count voxels of a tile. Each voxel's operations
// are those of transformPoints followed by the measures, in the same order.
[[gnu::always_inline]] inline void moveTile(Tile& t, std::size_t count, const MotionRows& m) {
  float* __restrict px = t.px;
  float* __restrict py = t.py;
  float* __restrict pz = t.pz;
  float* __restrict sumA = t.sumA;
  float* __restrict sumR = t.sumR;
  float* __restrict maxA = t.maxA;
  float* __restrict maxR = t.maxR;
  float* __restrict maxX = t.maxX;
  float* __restrict maxY = t.maxY;
  float* __restrict maxZ = t.maxZ;
  const float* __restrict cx = t.cx;
  const float* __restrict cy = t.cy;
  const float* __restrict cz = t.cz;
  // Copied out so that the compiler need not reload them after each store.
  const float m00 = m.m00, m10 = m.m10, m20 = m.m20, m03 = m.m03;
  const float m01 = m.m01, m11 = m.m11, m21 = m.m21, m13 = m.m13;
  const float m02 = m.m02, m12 = m.m12, m22 = m.m22, m23 = m.m23;
  for (std::size_t k = 0; k < count; ++k) {
    const float x = cx[k], y = cy[k], z = cz[k];
    const float nx = ((x * m00 + y * m10) + z * m20) + m03;
    const float ny = ((x * m01 + y * m11) + z * m21) + m13;
    const float nz = ((x * m02 + y * m12) + z * m22) + m23;
    const float dx = nx - x;
    const float dy = ny - y;
    const float dz = nz - z;
    const float rx = nx - px[k];
    const float ry = ny - py[k];
    const float rz = nz - pz[k];
    const float a = std::sqrt((dx * dx + dy * dy) + dz * dz);
    const float r = std::sqrt((ry * ry + rx * rx) + rz * rz);
    sumA[k] += a;
    sumR[k] += r;
    // Raised where the new value is not smaller; a not-a-number never is.
    // Written with > (one max instruction): where the two are equal they
    // are the same bits, since every value here is +0 or more (a sum of
    // squares is never -0, nor is its root or an absolute value) and the
    // stored ones start at +0.
    maxA[k] = a > maxA[k] ? a : maxA[k];
    maxR[k] = r > maxR[k] ? r : maxR[k];
    const float ax = std::fabs(dx), ay = std::fabs(dy), az = std::fabs(dz);
    maxX[k] = ax > maxX[k] ? ax : maxX[k];
    maxY[k] = ay > maxY[k] ? ay : maxY[k];
    maxZ[k] = az > maxZ[k] ? az : maxZ[k];
    px[k] = nx;
    py[k] = ny;
    pz[k] = nz;
  }
}

// Tiles [firstTile, endTile): each tile's voxels through all volumes, then
// its results. Tiles cover disjoint voxels.
[[gnu::always_inline]] inline void runTiles(const KernelInput& in, Tile& t, std::size_t firstTile,
                                            std::size_t endTile) {
  const auto columns = static_cast<std::size_t>(in.dims.x);
  const auto rows = static_cast<std::size_t>(in.dims.y);
  const float divisor = static_cast<float>(in.volumes);
  MaskedMeasures& out = *in.out;
  for (std::size_t tileIndex = firstTile; tileIndex < endTile; ++tileIndex) {
    const std::size_t base = tileIndex * kTileVoxels;
    const std::size_t count = std::min(kTileVoxels, in.maskSize - base);
    for (std::size_t k = 0; k < count; ++k) {
      const auto v = static_cast<std::size_t>(in.mask[base + k]);
      t.cx[k] = in.axes[0].centre(static_cast<std::int32_t>(v % columns));
      t.cy[k] = in.axes[1].centre(static_cast<std::int32_t>(v / columns % rows));
      t.cz[k] = in.axes[2].centre(static_cast<std::int32_t>(v / columns / rows));
      t.px[k] = t.cx[k];
      t.py[k] = t.cy[k];
      t.pz[k] = t.cz[k];
      t.sumA[k] = t.sumR[k] = t.maxA[k] = t.maxR[k] = 0.0f;
      t.maxX[k] = t.maxY[k] = t.maxZ[k] = 0.0f;
    }
    for (std::size_t j = 0; j < in.volumes; ++j) moveTile(t, count, in.rows[j]);
    for (std::size_t k = 0; k < count; ++k) {
      out.meanAbsolute[base + k] = t.sumA[k] / divisor;
      out.meanRelative[base + k] = t.sumR[k] / divisor;
      out.maxAbsolute[base + k] = t.maxA[k];
      out.maxRelative[base + k] = t.maxR[k];
      out.maxAbsoluteX[base + k] = t.maxX[k];
      out.maxAbsoluteY[base + k] = t.maxY[k];
      out.maxAbsoluteZ[base + k] = t.maxZ[k];
    }
  }
}

// The same code compiled twice: for any x86-64 CPU, and with AVX2 (eight
// floats per instruction).
void runTilesBaseline(const KernelInput& in, Tile& t, std::size_t firstTile, std::size_t endTile) {
  runTiles(in, t, firstTile, endTile);
}

#ifdef TESSEL_HAVE_AVX2_KERNEL
[[gnu::target("avx2")]] void runTilesAvx2(const KernelInput& in, Tile& t, std::size_t firstTile,
                                          std::size_t endTile) {
  runTiles(in, t, firstTile, endTile);
}
#endif

using TileRunner = void (*)(const KernelInput&, Tile&, std::size_t, std::size_t);

TileRunner chooseRunner(KernelInstructions instructions) {
  const bool avx2 = useAvx2(instructions, "the displacement kernel");
#ifdef TESSEL_HAVE_AVX2_KERNEL
  if (avx2) return runTilesAvx2;
#endif
  return runTilesBaseline;
}

// Tiles split into contiguous ranges, one per thread; the calling thread
// takes the first. Every thread's working tile is allocated here, so a
// thread can only fail to start, and its range is then left to the calling
// thread.
void runOnThreads(TileRunner runner, const KernelInput& in, std::size_t tiles, unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(threads, tiles);
  const std::size_t perWorker = (tiles + workers - 1) / workers;
  std::vector<std::unique_ptr<Tile>> working;
  for (std::size_t w = 0; w < workers; ++w) working.push_back(std::make_unique<Tile>());
  std::vector<std::pair<std::size_t, std::size_t>> leftOver;
  {
    std::vector<std::jthread> started;
    for (std::size_t w = 1; w < workers; ++w) {
      const std::size_t first = std::min(tiles, w * perWorker);
      const std::size_t end = std::min(tiles, first + perWorker);
      if (first == end) continue;
      Tile* tile = working[w].get();
      try {
        started.emplace_back([runner, &in, tile, first, end] { runner(in, *tile, first, end); });
      } catch (const std::system_error&) {
        leftOver.emplace_back(first, end);
      }
    }
    runner(in, *working[0], 0, std::min(tiles, perWorker));
    for (const auto& [first, end] : leftOver) runner(in, *working[0], first, end);
  }  // the threads join here, before the maps are handed back
}

}  // namespace

void checkMotionDocument(const SdmDocument& motion) {
  requireMotionParameters(motion);
  if (motion.NrOfDataPoints.value == 0) {
    // The means are divided by the number of volumes.
    throw IOError(noDataPointsMessage(motion.path));
  }
}

MaskedMeasures computeMaskedDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                         const float extent[3], const SdmDocument& motion,
                                         KernelOptions options) {
  checkMotionDocument(motion);
  return computeMaskedDisplacement(mask, dims, extent, motionParametersOf(motion), options);
}

MaskedMeasures computeMaskedDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                         const float extent[3], const MotionParameters& motion,
                                         KernelOptions options) {
  if (motion.volumes.empty()) throw IOError(noDataPointsMessage(motion.path));
  const std::size_t voxels = Volume::elementCount(dims);
  checkMask(mask, voxels);
  const TileRunner runner = chooseRunner(options.instructions);

  // Not cleared: the tiles write every element, each thread its own range,
  // so the memory is first touched by the thread that fills it.
  const std::size_t n = mask.size();
  MaskedMeasures measures{n,
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n),
                          std::make_unique_for_overwrite<float[]>(n)};
  const std::size_t volumes = motion.volumes.size();
  const std::vector<MotionRows> rows = motionRowsOf(motion);
  const KernelInput in{
      mask.data(),
      mask.size(),
      dims,
      {gridAxis(dims.x, extent[0]), gridAxis(dims.y, extent[1]), gridAxis(dims.z, extent[2])},
      rows.data(),
      volumes,
      &measures};
  const std::size_t tiles = (mask.size() + kTileVoxels - 1) / kTileVoxels;
  if (tiles > 0) runOnThreads(runner, in, tiles, options.threads);
  return measures;
}

void expandToVolume(const float* values, const std::vector<std::int32_t>& mask, Volume& volume) {
  std::fill_n(volume.data(), volume.size(), 0.0f);
  for (std::size_t k = 0; k < mask.size(); ++k)
    volume[static_cast<std::size_t>(mask[k])] = values[k];
}

DisplacementMaps computeDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                     const float extent[3], const SdmDocument& motion,
                                     KernelOptions options) {
  const MaskedMeasures m = computeMaskedDisplacement(mask, dims, extent, motion, options);
  DisplacementMaps maps{Volume(dims), Volume(dims), Volume(dims), Volume(dims),
                        Volume(dims), Volume(dims), Volume(dims)};
  expandToVolume(m.meanAbsolute.get(), mask, maps.meanAbsolute);
  expandToVolume(m.maxAbsolute.get(), mask, maps.maxAbsolute);
  expandToVolume(m.meanRelative.get(), mask, maps.meanRelative);
  expandToVolume(m.maxRelative.get(), mask, maps.maxRelative);
  expandToVolume(m.maxAbsoluteX.get(), mask, maps.maxAbsoluteX);
  expandToVolume(m.maxAbsoluteY.get(), mask, maps.maxAbsoluteY);
  expandToVolume(m.maxAbsoluteZ.get(), mask, maps.maxAbsoluteZ);
  return maps;
}

}  // namespace tsl
