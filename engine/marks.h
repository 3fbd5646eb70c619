#pragma once

#include <bit>
#include <climits>
#include <cstdint>
#include <limits>

// The marks: one int32 per item (item_marks) and, in the user-based model,
// one per user (user_marks), which every gather reads and writes as it meets
// candidates. The same array is kept in one of the forms below; each form
// names a mark for a candidate not met yet (UnmetMark) and one for a
// candidate the gather leaves out (LeftOutMark), and any other mark holds
// what the gather knows of a met candidate. All of it is constant and
// inline: a gather compiled for one form holds the marks as literals.
enum class MarkForm : int32_t {
  // Unmet -1, left out -2, a met candidate its slot (>= 0) in the
  // candidate array. Every model's marks start so; the queries keep this
  // form beyond kMaxItemsSummedInMarks items.
  kSlots,
  // Unmet -1 (a NaN pattern no arithmetic on finite values gives), left out
  // +0.0, a met candidate the bits of its single-precision running sum.
  kSums,
  // Unmet -0.0, the sum of no terms, from which the first addition gives
  // the first term bit for bit, so a step adds to the mark as it is; left out
  // +0.0. Only for marks whose terms are never -0.0 (RestMarks).
  kSumsFromZero,
  // The item builders' form: unmet -0.0 as above, left out +inf, which every
  // finite term leaves as it is; every term is finite and above zero.
  kBuildSums,
};

constexpr int32_t UnmetMark(MarkForm form) {
  return form == MarkForm::kSlots || form == MarkForm::kSums ? -1 : std::bit_cast<int32_t>(-0.0f);
}

constexpr int32_t LeftOutMark(MarkForm form) {
  return form == MarkForm::kSlots ? -2
         : form == MarkForm::kBuildSums
             ? std::bit_cast<int32_t>(std::numeric_limits<float>::infinity())
             : std::bit_cast<int32_t>(0.0f);
}

// The running sum a mark of a summing form holds, and the mark holding sum.
inline float SumInMark(int32_t mark) { return std::bit_cast<float>(mark); }
inline int32_t MarkOfSum(float sum) { return std::bit_cast<int32_t>(sum); }

// The sum a kSums step adds to: the mark's own value, or -0.0 for a new
// candidate (a sum that starts from -0.0 is its first term, bit for bit);
// fresh is 1 when the mark is unmet, else 0.
inline float MarkStart(int32_t mark, int32_t fresh) {
  // All bits kept for a known candidate, the sign bit alone (of -1's) for a new one.
  return std::bit_cast<float>(mark & ((fresh - 1) | INT32_MIN));
}
inline float MarkStart(int32_t mark) { return MarkStart(mark, mark == UnmetMark(MarkForm::kSums)); }

// Summing in the marks makes every step the same instructions, with no
// branch, but a mark is read, added to and written back, so a repeated item
// waits for its last write. That pays while the marks stay close to the
// core; beyond this many items (marks of 128 KB) the queries keep slots
// instead (measured both ways on data shapes of 1,000 to 40,000 items).
constexpr int32_t kMaxItemsSummedInMarks = 32768;

// The form a model's item marks rest in between operations, for nitems
// items: kSumsFromZero when no term a query adds can be -0.0 (sums_from_zero),
// else kSums, or kSlots beyond kMaxItemsSummedInMarks items.
constexpr MarkForm RestingItemForm(bool sums_from_zero, int32_t nitems) {
  return nitems > kMaxItemsSummedInMarks ? MarkForm::kSlots
         : sums_from_zero                ? MarkForm::kSumsFromZero
                                         : MarkForm::kSums;
}

// States a restricted answer gives the item marks while it is put together
// (answer.h); none is a mark at rest, a slot, or a left-out mark of any form.
enum RestrictMark : int32_t { kMember = -3, kFiltered = -4, kInBasket = -5, kTaken = -6 };
