// Shared body of the command-line tool's PNG and PNM input targets: read, check the picture, and
// write it back out in the same format and read that again, which must give the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cli/picture_io.h"
#include "fuzz/picture_checks.h"

namespace varnic::fuzz {

using CliReader = Result<cli::LoadedPicture> (*)(std::span<const std::uint8_t>, const Limits&);
using CliWriter = Result<std::vector<std::uint8_t>> (*)(const Picture&);

inline bool bad_input(Status s) {
  return s == Status::kInvalidFile || s == Status::kInvalidArgument || s == Status::kLimitExceeded;
}

inline void check_cli_reader(const std::uint8_t* data, std::size_t size, CliReader read, CliWriter write) {
  const Limits limits{kPixelLimit};
  const auto loaded = read(std::span<const std::uint8_t>(data, size), limits);
  if (!loaded.ok()) {
    require(bad_input(loaded.status()), "a reader fails only for bad input");
    require(!loaded.message().empty(), "a failure says why");
    return;
  }
  const Picture& p = loaded.value().picture;
  require(p.width >= 1 && p.height >= 1 && std::uint64_t{p.width} * p.height <= kPixelLimit,
          "picture within the pixel limit");
  require(p.format == PixelFormat::kGrey8 || p.format == PixelFormat::kRgb24, "reader gives grey or RGB");
  require(p.pixels.size() == p.stride() * p.height, "pixels fill the picture exactly");

  const auto written = write(p);
  require(written.ok(), "an accepted picture can be written");
  const auto again = read(written.value(), limits);
  require(again.ok(), "a written picture reads back");
  const Picture& q = again.value().picture;
  require(q.width == p.width && q.height == p.height && q.format == p.format && q.pixels == p.pixels,
          "a written picture reads back unchanged");
  require(again.value().notices.empty(), "our own output needs no conversion");
}

}  // namespace varnic::fuzz
