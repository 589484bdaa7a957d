// SPDX-License-Identifier: BSD-2-Clause
// Each format's signature test, reader and writer as the registry's table holds them, one file
// per format. Private to imagefile/.
#pragma once

#include "imagefile/registry.h"

namespace varnic::imagefile::formats {

using Bytes = std::span<const std::uint8_t>;
using Out = std::vector<std::uint8_t>;

bool sniff_bitmap(Bytes bytes);
FileStatus read_bitmap(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);
bool bitmap_stored_rows(Bytes head, std::uint64_t file_size, const ReadLimits& limits, StoredRows& out);
std::unique_ptr<RowFileWriter> bitmap_row_writer(const ByteWriter& write, const WriteSettings& settings);

FileStatus read_targa(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);
std::unique_ptr<RowFileWriter> targa_row_writer(const ByteWriter& write, const WriteSettings& settings);

bool sniff_png(Bytes bytes);
FileStatus read_png(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);
std::unique_ptr<RowFileWriter> png_row_writer(const ByteWriter& write, const WriteSettings& settings);

bool sniff_pnm(Bytes bytes);
FileStatus read_pnm(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);
std::unique_ptr<RowFileWriter> pnm_row_writer(const ByteWriter& write, const WriteSettings& settings);

// Photographs: read only. Their readers also fill the LoadedPicture's facts (photo.h), which
// read_picture applies.
bool sniff_jpeg(Bytes bytes);
FileStatus read_jpeg(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);

bool sniff_tiff(Bytes bytes);
FileStatus read_tiff(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);

bool sniff_webp(Bytes bytes);
FileStatus read_webp(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);

bool sniff_compressed(Bytes bytes);
FileStatus read_compressed(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message);
FileStatus write_compressed(const codec::PictureRows& rows, const WriteSettings& settings, Out& out,
                            std::string& message);

}  // namespace varnic::imagefile::formats
