#include "signal/exact_median.h"

#include <bit>
#include <limits>
#include <stdexcept>

namespace tsl {
namespace {

constexpr std::size_t kBuckets = std::size_t{1} << 16;
constexpr int kBucketShift = 16;
constexpr std::uint32_t kLowBits = 0xFFFFu;
constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr int kInt16Lowest = -32768;
constexpr int kInt16Highest = 32767;

// Unsigned keys in the order of the floats: negative floats reversed below
// the positive ones. -0 sorts just below +0.
std::uint32_t keyOf(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

float valueOfKey(std::uint32_t key) {
  return std::bit_cast<float>((key & kSignBit) != 0 ? key & ~kSignBit : ~key);
}

// The bucket holding the value of rank (0-based) in a histogram; below gets
// the number of values in the buckets before it.
std::uint32_t bucketOfRank(const std::vector<std::uint64_t>& counts, std::uint64_t rank,
                           std::uint64_t& below) {
  std::uint64_t seen = 0;
  for (std::size_t b = 0; b < counts.size(); ++b) {
    if (rank < seen + counts[b]) {
      below = seen;
      return static_cast<std::uint32_t>(b);
    }
    seen += counts[b];
  }
  throw std::logic_error("ExactMedian: a rank beyond the values counted");
}

}  // namespace

ExactMedian::ExactMedian(bool int16Values)
    : int16_(int16Values),
      lower_(int16Values ? kInt16Lowest : std::numeric_limits<float>::lowest()),
      upper_(int16Values ? kInt16Highest : std::numeric_limits<float>::max()),
      counts_(kBuckets, 0) {}

void ExactMedian::add(const float* values, std::size_t count) {
  if (known_) throw std::logic_error("ExactMedian: values added after the median is known");
  if (int16_) {
    for (std::size_t i = 0; i < count; ++i) {
      const int index = static_cast<int>(values[i]) - kInt16Lowest;
      if (index < 0 || index > kInt16Highest - kInt16Lowest) {
        throw std::logic_error("ExactMedian: a value outside the 16-bit range");
      }
      ++counts_[static_cast<std::size_t>(index)];
    }
  } else {
    for (std::size_t i = 0; i < count; ++i) addFloat(values[i]);
  }
  count_ += count;
}

void ExactMedian::addCounts(int lowest, const std::uint32_t* counts, std::size_t n) {
  if (known_ || !int16_) throw std::logic_error("ExactMedian: counts added to a float median");
  if (lowest < kInt16Lowest || static_cast<std::int64_t>(lowest) + static_cast<std::int64_t>(n) >
                                   std::int64_t{kInt16Highest} + 1) {
    throw std::logic_error("ExactMedian: counts outside the 16-bit range");
  }
  std::uint64_t* into = counts_.data() + (lowest - kInt16Lowest);
  // Summed apart from count_, which the compiler must assume into may alias.
  std::uint64_t added = 0;
  for (std::size_t i = 0; i < n; ++i) {
    into[i] += counts[i];
    added += counts[i];
  }
  count_ += added;
}

void ExactMedian::addFloat(float value) {
  const std::uint32_t key = keyOf(value);
  if (pass_ == 0) {
    ++counts_[key >> kBucketShift];
    return;
  }
  const std::uint32_t bucket = key >> kBucketShift;
  if (bucket == low_.key >> kBucketShift) ++counts_[key & kLowBits];
  if (!highCounts_.empty() && bucket == high_.key >> kBucketShift) ++highCounts_[key & kLowBits];
}

void ExactMedian::merge(const ExactMedian& other) {
  if (other.pass_ != pass_ || other.int16_ != int16_ || other.counts_.size() != counts_.size() ||
      other.highCounts_.size() != highCounts_.size()) {
    throw std::logic_error("ExactMedian: merging the counts of another pass");
  }
  for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] += other.counts_[i];
  for (std::size_t i = 0; i < highCounts_.size(); ++i) highCounts_[i] += other.highCounts_[i];
  count_ += other.count_;
}

bool ExactMedian::endPass() {
  if (known_) return true;
  if (pass_ == 0) {
    if (count_ == 0) throw std::logic_error("ExactMedian: no value to take the median of");
    low_.rank = (count_ - 1) / 2;
    high_.rank = count_ / 2;
  } else if (count_ != passCount_) {
    throw std::logic_error("ExactMedian: a pass saw another number of values than the first");
  }
  if (int16_) {
    lower_ = static_cast<double>(bucketOfRank(counts_, low_.rank, low_.below)) + kInt16Lowest;
    upper_ = static_cast<double>(bucketOfRank(counts_, high_.rank, high_.below)) + kInt16Lowest;
    known_ = true;
  } else if (pass_ == 0) {
    low_.key = bucketOfRank(counts_, low_.rank, low_.below) << kBucketShift;
    high_.key = bucketOfRank(counts_, high_.rank, high_.below) << kBucketShift;
    lower_ = valueOfKey(low_.key);
    upper_ = valueOfKey(high_.key | kLowBits);
    counts_.assign(kBuckets, 0);
    if (high_.key != low_.key) highCounts_.assign(kBuckets, 0);
  } else {
    std::uint64_t unused = 0;
    const auto& highCounts = highCounts_.empty() ? counts_ : highCounts_;
    low_.key |= bucketOfRank(counts_, low_.rank - low_.below, unused);
    high_.key |= bucketOfRank(highCounts, high_.rank - high_.below, unused);
    lower_ = valueOfKey(low_.key);
    upper_ = valueOfKey(high_.key);
    known_ = true;
  }
  // -0 and +0 are one median.
  lower_ += 0.0;
  upper_ += 0.0;
  passCount_ = count_;
  count_ = 0;
  ++pass_;
  if (known_) {
    counts_ = {};
    highCounts_ = {};
  }
  return known_;
}

}  // namespace tsl
