// SPDX-License-Identifier: BSD-2-Clause
// The ranges, defaults and limits of varnic's settings, in one place. This header stands alone
// (varnic.h includes it, and so do the library's own layers), so every front end builds its help,
// its fields and its messages from these numbers instead of typing them again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnic {

// Quality factor: higher is better quality and larger files. It derives every per-level setting.
inline constexpr int kMinQuality = 0;
inline constexpr int kMaxQuality = 99;
inline constexpr int kDefaultQuality = 50;

// Image types the quality derivation knows (ImageType): 0 other, 1 landscape, 2 faces.
inline constexpr int kImageTypeCount = 3;

// Wavelet levels the encoder codes. Every level needs at least 4 rows and columns of padded plane,
// and past 6 levels the low band of a typical picture is a few samples. Files may carry up to
// kMaxFileLevels, which is what a reader accepts.
inline constexpr int kMinLevels = 1;
inline constexpr int kMaxLevels = 6;
inline constexpr int kDefaultLevels = 5;
inline constexpr int kMaxFileLevels = 10;

// Quantization vectors (one per plane Y, I, Q): 3 x levels + 1 entries, finest subband first, each
// the number of steps on either side of zero (0 codes the subband as zeros). 125 keeps every
// quantized value clear of the two zerotree marker values of the coded planes.
inline constexpr int kMaxQuantStep = 125;
// Dead-zone thresholds: levels + 1 entries, finest level first, each a 16-bit field.
inline constexpr int kMaxThreshold = 65535;
// Dropped levels (Y, I, Q): the finest levels of a plane not coded at all, 0 .. levels - 1.

// The comment a file carries, in bytes: the header's buffer holds 2047 and a terminator.
inline constexpr std::size_t kMaxCommentBytes = 2047;

// Encoders: 0 is the classic encoder, 1..3 the optimizing encoder's levels.
inline constexpr int kMinOptimize = 0;
inline constexpr int kMaxOptimize = 3;
inline constexpr int kDefaultOptimize = 0;

// Picture sides: the header's width and height are 16-bit signed fields, and a side of 1 or 2
// pixels leaves no room for even one wavelet level.
inline constexpr int kMinSide = 3;
inline constexpr int kMaxSide = 32767;

// Largest number of pixels (width x height) a call accepts or allocates for unless told
// otherwise: 2^28 covers a 16384 x 16384 picture and keeps a 60-byte hostile header from asking
// for gigabytes of planes.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 28;

// Worker threads per call, 1..kMaxThreads; others are refused. A picture has only a few
// independent tasks, and each thread costs a stack and its scratch buffers.
inline constexpr int kMaxThreads = 256;

// Lowest PSNR a quality search may aim at, in decibels: 0 dB is already an error as large as the
// samples' whole range, and every picture meets a lower target at any quality.
inline constexpr double kMinTargetPsnr = 1.0;

// zlib's compression level of PNG files written: 0 stores the rows, 9 gives the smallest files
// slowest. The default is the fastest level that compresses (bench/results/png_output.md).
inline constexpr int kMinPngLevel = 0;
inline constexpr int kMaxPngLevel = 9;
inline constexpr int kDefaultPngLevel = 1;

}  // namespace varnic
