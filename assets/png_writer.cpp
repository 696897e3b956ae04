#include "assets/png_writer.h"

#include <spng.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace mosalin_assets {

namespace {

constexpr int kCompressionLevel = 6;

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw std::runtime_error(path + ": " + why);
}

// An encoder context writing to `file`, with the header set and the image
// encoding begun (`flags` of spng_encode_image).
spng_ctx* StartEncoder(const std::string& path, std::FILE* file, int width, int height,
                       int channels) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (ctx == nullptr) Fail(path, "cannot create the PNG encoder");
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = channels == 4 ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  int err = spng_set_png_file(ctx, file);
  if (!err) err = spng_set_ihdr(ctx, &ihdr);
  if (!err) err = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kCompressionLevel);
  // Map pictures are runs of flat colour that zlib matches well unfiltered;
  // choosing a filter for every row made the files larger and the tool slower.
  if (!err) err = spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
  if (err) {
    spng_ctx_free(ctx);
    Fail(path, spng_strerror(err));
  }
  return ctx;
}

void CheckChannels(const std::string& path, int width, int height, int channels) {
  if (channels != 3 && channels != 4) Fail(path, "PNG output takes 3 or 4 channels");
  if (width <= 0 || height <= 0) Fail(path, "picture size must be positive");
}

std::FILE* OpenForWriting(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Fail(path, std::strerror(errno));
  return f;
}

void CloseWritten(const std::string& path, std::FILE* f) {
  bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) Fail(path, "write failed");
}

}  // namespace

void WritePng(const std::string& path, int width, int height, int channels,
              const std::uint8_t* pixels) {
  CheckChannels(path, width, height, channels);
  std::FILE* f = OpenForWriting(path);
  spng_ctx* ctx = nullptr;
  try {
    ctx = StartEncoder(path, f, width, height, channels);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  std::size_t len = static_cast<std::size_t>(width) * height * channels;
  int err = spng_encode_image(ctx, pixels, len, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  spng_ctx_free(ctx);
  if (err) {
    std::fclose(f);
    Fail(path, spng_strerror(err));
  }
  CloseWritten(path, f);
}

PngRowWriter::PngRowWriter(const std::string& path, int width, int height, int channels)
    : path_(path), width_(width), height_(height), channels_(channels) {
  CheckChannels(path, width, height, channels);
  file_ = OpenForWriting(path);
  try {
    ctx_ = StartEncoder(path, file_, width, height, channels);
  } catch (...) {
    std::fclose(file_);
    file_ = nullptr;
    throw;
  }
  int err = spng_encode_image(ctx_, nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  if (err) {
    spng_ctx_free(ctx_);
    ctx_ = nullptr;
    std::fclose(file_);
    file_ = nullptr;
    Fail(path, spng_strerror(err));
  }
}

PngRowWriter::~PngRowWriter() {
  if (ctx_ != nullptr) spng_ctx_free(ctx_);
  if (file_ != nullptr) std::fclose(file_);
}

void PngRowWriter::WriteRow(const std::uint8_t* row) {
  if (rows_ >= height_) Fail(path_, "more rows than the picture has");
  int err = spng_encode_row(ctx_, row, static_cast<std::size_t>(width_) * channels_);
  ++rows_;
  // The last row ends the image: the encoder reports that as "end of image".
  if (err && !(err == SPNG_EOI && rows_ == height_)) Fail(path_, spng_strerror(err));
}

void PngRowWriter::Finish() {
  if (rows_ != height_) Fail(path_, "picture ended before its last row");
  spng_ctx_free(ctx_);
  ctx_ = nullptr;
  std::FILE* f = file_;
  file_ = nullptr;
  CloseWritten(path_, f);
}

}  // namespace mosalin_assets
