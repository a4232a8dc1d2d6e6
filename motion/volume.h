// A three-dimensional grid of floats, x fastest, then y, then z.
#ifndef TESSEL_MOTION_VOLUME_H
#define TESSEL_MOTION_VOLUME_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tsl {

struct Dim3 {
  std::int32_t x = 0, y = 0, z = 0;
  friend bool operator==(const Dim3&, const Dim3&) = default;
};

class Volume {
 public:
  Volume() = default;
  // Allocates dim.x*dim.y*dim.z floats with undefined contents. Throws
  // std::length_error naming the grid when a dimension is negative or the
  // element count does not fit in a 32-bit signed integer.
  explicit Volume(Dim3 dims);
  // As above, every element set to fill. A fill of +0 takes memory the
  // system hands out zeroed, so large zero volumes cost nothing until used.
  Volume(Dim3 dims, float fill);
  Volume(const Volume& other);
  Volume& operator=(const Volume& other);
  Volume(Volume&&) noexcept = default;
  Volume& operator=(Volume&&) noexcept = default;

  // Divides every element by divisor, in place.
  Volume& operator/=(float divisor);

  // Number of elements, checked at construction.
  static std::size_t elementCount(Dim3 dims);

  std::size_t size() const { return count_; }
  float* data() { return data_.get(); }
  const float* data() const { return data_.get(); }
  float& operator[](std::size_t i) { return data_[i]; }
  float operator[](std::size_t i) const { return data_[i]; }

  Dim3 dim;

 private:
  struct Free {
    void operator()(float* p) const noexcept;
  };
  // count floats, zeroed or not; throws std::bad_alloc.
  static std::unique_ptr<float[], Free> allocate(std::size_t count, bool zeroed);

  std::size_t count_ = 0;
  std::unique_ptr<float[], Free> data_;
};

}  // namespace tsl

#endif
