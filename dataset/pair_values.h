#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The file of the pairs' values (ratings, counts, confidences) tovran-convert
// writes beside a dataset DATA when given --value: DATA.values, one value a
// line, line i the value of pair i in the dataset's order. A value is a
// decimal number rounded once to single precision, written with the digits
// that read back to the same float.
std::string PairValuesPath(const std::string &dataset);

// Reads text as a finite decimal number (a sign, fraction and exponent
// allowed; no hexadecimal, infinity or NaN spellings, nothing that overflows
// to infinity) into *value; false otherwise.
bool ParseDecimal(const std::string &text, double *value);

// Reads text as a pair's value: a finite decimal number whose rounding to
// single precision is finite. False with *why saying what is wrong.
bool ParsePairValue(const std::string &text, float *value, std::string *why);

// Writes value and a line end to out, as ParsePairValue reads it back.
void WritePairValue(std::FILE *out, float value);

// Reads the values of the npairs pairs of dataset. Throws Failure naming
// the file and what is wrong (missing, a bad line, a count other than
// npairs).
std::vector<float> LoadPairValues(const std::string &dataset, int32_t npairs);
