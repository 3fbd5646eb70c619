#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The IEEE bit pattern of a single-precision value, for exact comparisons.
inline uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The single-precision value of a bit pattern.
inline float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The bit patterns of a list of single-precision values.
inline std::vector<uint32_t> Bits(const std::vector<float> &values) {
  std::vector<uint32_t> bits(values.size());
  if (!values.empty()) std::memcpy(bits.data(), values.data(), sizeof(float) * values.size());
  return bits;
}
