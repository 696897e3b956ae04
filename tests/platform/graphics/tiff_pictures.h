// TIFF files for the tests, written with libtiff from the test's own samples.
#pragma once

#include <tiff.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/graphics/pictures.h"

namespace graphics_test {

// The layout of a TIFF file to write.
struct TiffLayout {
  std::uint32_t width = 8, height = 8;
  std::uint16_t photometric = PHOTOMETRIC_RGB, bits = 8, samples = 3, format = SAMPLEFORMAT_UINT;
  std::vector<std::uint16_t> extra;  // ExtraSamples
  std::uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
  bool separate = false;                        // one plane per sample
  std::uint32_t rowsPerStrip = 0;               // 0: libtiff's choice
  std::uint32_t tileWidth = 0, tileLength = 0;  // tiles when set
  std::vector<std::uint16_t> colormap;          // palette: reds, greens, blues
  // YCbCr: chroma blocks of uncompressed (not JPEG) data; each block's
  // chroma is that of its top-left pixel.
  std::uint16_t subH = 1, subV = 1;
  std::vector<float> referenceBlackWhite;  // YCbCr: written when given
  // YCbCr with JPEG: the samples are RGB, libjpeg converts them.
  bool jpegFromRgb = false;
  int jpegQuality = 95;
  bool bigEndian = false, bigTiff = false;
  // Pages after the first are twice as wide and high, every sample inverted.
  int pages = 1;
};

// `sample(x, y, s)` gives the stored value (0 .. 2^bits - 1) of sample s
// (colour samples, then extra samples) of pixel (x, y); an empty one writes
// zeros.
using TiffSamples = std::function<unsigned(int x, int y, int s)>;
Bytes MakeTiff(const TiffLayout& layout, const TiffSamples& sample);

// Little-endian classic files: the first value of `tag` in the first
// directory, and setting every value of it (the entry becomes LONG when it
// holds one value).
std::uint32_t TiffValue(const Bytes& tiff, std::uint16_t tag);
void SetTiffValue(Bytes& tiff, std::uint16_t tag, std::uint32_t value);

// Writes small TIFF files of every kind the decoder takes into `dir`, as
// seeds of the picture fuzz target.
void WriteTiffSeeds(const std::string& dir);

}  // namespace graphics_test
