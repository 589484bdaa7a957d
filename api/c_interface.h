// SPDX-License-Identifier: BSD-2-Clause
// Shared pieces of the C interface's implementation (not installed): the handles behind the
// opaque types, the per-thread error, and the conversions between the C and the C++ interface.
// The C interface is built on the C++ interface alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "varnic/varnic.h"
#include "varnic/varnic_c.h"

struct varnic_encoder {
  varnic::EncodeOptions options;  // without its progress callback, which each call makes
  varnic_progress_fn progress = nullptr;
  void* user = nullptr;
  std::atomic<bool> cancel{false};
};

struct varnic_decoder {
  varnic::DecodeOptions options;  // likewise
  varnic::ReadOptions read;       // for the picture files read through it
  varnic_progress_fn progress = nullptr;
  void* user = nullptr;
  std::atomic<bool> cancel{false};
};

namespace varnic::c_interface {

varnic_status to_c(Status status);
// Records `message` as this thread's error and gives `status`.
varnic_status fail(varnic_status status, std::string message);
template <class T>
varnic_status fail(const Result<T>& result) {
  return fail(to_c(result.status()), result.message());
}
// Refuses a null pointer the call cannot do without, naming it.
inline bool missing(const void* pointer, const char* name, varnic_status& status) {
  if (pointer != nullptr) return false;
  status = fail(VARNIC_ERROR_INVALID_ARGUMENT, std::string(name) + " must not be NULL");
  return true;
}

// Runs `body`; an exception (none may cross into C) becomes a status.
template <class Body>
varnic_status guarded(const Body& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(VARNIC_ERROR_OUT_OF_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    return fail(VARNIC_ERROR_INTERNAL, std::string("internal error: ") + e.what());
  } catch (...) {
    return fail(VARNIC_ERROR_INTERNAL, "internal error");
  }
}

// A caller's picture as the C++ interface's view; nullopt (the error recorded) when its format
// is not one of the enumerators.
std::optional<PictureView> view_of(const varnic_picture& picture);
std::optional<PixelFormat> pixel_format(varnic_pixel_format format);
varnic_pixel_format to_c(PixelFormat format);

// The handle's options with a progress callback that reports to the caller's function and stops
// when the cancel flag is set (defaults for a null handle).
EncodeOptions encode_options(const varnic_encoder* encoder);
DecodeOptions decode_options(const varnic_decoder* decoder);

// A copy of `bytes` in memory that varnic_free releases.
std::uint8_t* library_copy(std::span<const std::uint8_t> bytes);

varnic_info info_to_c(const Info& in);

}  // namespace varnic::c_interface
