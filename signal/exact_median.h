// The exact median of a large multiset of finite floats that is seen in
// passes, value by value, and never held: the median of all masked values of
// a run. Integral values of 16-bit data need one pass (a count of each of the
// 65,536 possible values); floats need two (a count of the top 16 bits of
// each value's order-preserving key, then of the low 16 bits of the values
// in the bucket or two holding the middle ranks).
#ifndef TESSEL_SIGNAL_EXACT_MEDIAN_H
#define TESSEL_SIGNAL_EXACT_MEDIAN_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsl {

class ExactMedian {
 public:
  // int16Values: every value added is an integer in -32768 ... 32767 (16-bit
  // data read as floats); otherwise any finite floats.
  explicit ExactMedian(bool int16Values);

  // Counts the values of the current pass; each pass must add the same
  // multiset of values (in any order). REQUIRES: the values are finite (and
  // integral in range for int16Values).
  void add(const float* values, std::size_t count);
  void add(float value) { add(&value, 1); }
  // Counts counts[i] values equal to lowest + i, for i < n, as add would
  // count them one by one. REQUIRES: int16Values, and the values in range.
  void addCounts(int lowest, const std::uint32_t* counts, std::size_t n);

  // Adds the values other counted in the current pass, so that several
  // threads can count a pass each in its own copy. REQUIRES: other is a copy
  // of this taken at the start of the pass, and this counted nothing since.
  void merge(const ExactMedian& other);

  // Ends the current pass. Returns true when the median is known, false when
  // another pass over the same values is needed. REQUIRES: at least one
  // value was added.
  bool endPass();

  bool known() const { return known_; }
  // Closed bounds of the median, from what the passes so far have seen
  // (the representable range before the first pass ends; the median itself
  // once it is known).
  double lowerBound() const { return lower_; }
  double upperBound() const { return upper_; }
  // The middle value, or the mean of the two middle values for an even
  // count. REQUIRES: known().
  double median() const { return (lower_ + upper_) / 2.0; }

 private:
  // One of the middle ranks, and what the passes found of its value.
  struct Rank {
    std::uint64_t rank = 0;   // 0-based, among all values
    std::uint32_t key = 0;    // the key bits found so far
    std::uint64_t below = 0;  // values whose key is below the bucket found so far
  };

  void addFloat(float value);

  bool int16_;
  bool known_ = false;
  int pass_ = 0;
  std::uint64_t count_ = 0;      // values of the current pass
  std::uint64_t passCount_ = 0;  // values of the first pass
  double lower_;
  double upper_;
  Rank low_, high_;                    // the lower and upper middle ranks (equal for an odd count)
  std::vector<std::uint64_t> counts_;  // pass 1, or pass 2 of the lower rank
  std::vector<std::uint64_t> highCounts_;  // pass 2 of the upper rank, when its bucket differs
};

}  // namespace tsl

#endif
