#pragma once

#include <cstdint>
#include <cstdio>

// Model files: the layout of docs/model-format.md, little-endian, versions 1
// and 2. The entries TOVRAN_SaveModel, TOVRAN_LoadModel and
// TOVRAN_ModelFileVersion live in model_file.cpp, the file's one reader of
// headers; this header names the layout's constants.

// The first eight bytes of every model file.
inline constexpr char kModelMagic[8] = {'T', 'O', 'V', 'R', 'A', 'N', 'M', 'D'};
// The version this library writes and the newest it reads.
constexpr uint32_t kModelFormatVersion = 2;
// Bytes of the header every version begins with: magic, version, kind,
// nnbr, alpha, min_support, users, items, flags, entries.
constexpr int64_t kModelHeaderBytes = 48;
// Bytes that follow it from version 2 on, before the arrays: weighting,
// K1, B, items in the popularity ranking.
constexpr int64_t kModelExtensionBytes = 16;
// Bytes of the CRC-32 that ends the file.
constexpr int64_t kModelChecksumBytes = 4;

struct Model;

// Reads a model from in, named name in messages. NULL with the reason in
// TOVRAN_LastError when the stream is not a complete, consistent model file;
// nothing is allocated beyond what the stream's size can hold. Leaves the
// stream open.
Model *ReadModel(std::FILE *in, const char *name);
