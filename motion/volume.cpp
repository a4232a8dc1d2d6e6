#include "motion/volume.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace tsl {

std::size_t Volume::elementCount(Dim3 dims) {
  // A wide product, so that a grid too large for 32-bit indices is refused
  // instead of wrapping around.
  const std::int64_t count = std::int64_t{dims.x} * dims.y * dims.z;
  if (dims.x < 0 || dims.y < 0 || dims.z < 0 || count > std::numeric_limits<std::int32_t>::max()) {
    throw std::length_error("Volume grid " + std::to_string(dims.x) + " x " +
                            std::to_string(dims.y) + " x " + std::to_string(dims.z) +
                            " is not a valid voxel grid");
  }
  return static_cast<std::size_t>(count);
}

void Volume::Free::operator()(float* p) const noexcept { std::free(p); }

std::unique_ptr<float[], Volume::Free> Volume::allocate(std::size_t count, bool zeroed) {
  // At least one element, so that success is never a null pointer.
  const std::size_t n = std::max<std::size_t>(count, 1);
  void* p = zeroed ? std::calloc(n, sizeof(float)) : std::malloc(n * sizeof(float));
  if (p == nullptr) throw std::bad_alloc();
  return std::unique_ptr<float[], Free>(static_cast<float*>(p));
}

Volume::Volume(Dim3 dims) : dim(dims), count_(elementCount(dims)), data_(allocate(count_, false)) {}

Volume::Volume(Dim3 dims, float fill)
    : dim(dims),
      count_(elementCount(dims)),
      // calloc's zero bytes are +0.0f; -0 and every other value are written.
      data_(allocate(count_, std::bit_cast<std::uint32_t>(fill) == 0)) {
  if (std::bit_cast<std::uint32_t>(fill) != 0) std::fill_n(data_.get(), count_, fill);
}

Volume::Volume(const Volume& other) : dim(other.dim), count_(other.count_) {
  if (other.data_) {
    data_ = allocate(count_, false);
    std::copy_n(other.data_.get(), count_, data_.get());
  }
}

Volume& Volume::operator=(const Volume& other) {
  if (this != &other) {
    Volume copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Volume& Volume::operator/=(float divisor) {
  for (std::size_t i = 0; i < count_; ++i) data_[i] /= divisor;
  return *this;
}

}  // namespace tsl
