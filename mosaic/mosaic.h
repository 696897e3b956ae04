// The tile mosaic: composition of a tile directory into one bitmap, drawing of
// one tile, and the BMP file made from a bitmap.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "host/abi.h"

namespace mosaic {

// Draws the tile directory band by band into one bitmap, writes the BMP file
// to the output path and reports the outcome.
void MergeTiles();
// tilePrefix := the last component of tileDir.
void DeriveTilePrefix();
// gridSize := the number of sub-directories of tileDir, counted with the
// caller's search handle (the search is left open in it); entryName ends empty.
void CountRowDirectories(host::Word& search);
// mosaicEdge := gridSize x 256, truncated.
void SetMosaicEdge();

// Writes the disabled state of the five input controls, in the order they
// are disabled and enabled.
void SetInputsDisabled(std::int32_t disabled);

// Which merge runs: the window's (reports its outcome, writes outputPath) or
// the fixed-path test's (writes its fixed file, reports only a bitmap failure).
enum class MergeKind { kWindow, kFixedPathTest };
// The merge from GDI+ start-up to the written file, with the search handle the
// caller holds (a new pattern ends whatever search it still holds).
void ComposeAndSave(host::Word& search, MergeKind kind);
// Draws the tiles of the row directory named by entryName at rowIndex's band.
void DrawTileRow();

// Draws the picture file `fileName` into `dc` with its top-left corner at
// (x, y), at its own size unless width/height are above 0.0000001. 1 when it
// was drawn, 0 when any step failed.
std::uint32_t DrawTile(host::Word dc, const char* fileName, std::int32_t x, std::int32_t y,
                       float width, float height);
// The text as zero-terminated UTF-16LE in a new byte buffer.
host::Buffer AnsiToWide(const char* text);

// The complete BMP file of a bitmap that is selected into no device context.
host::Buffer BitmapToBmpBytes(host::Word bitmap);
// The data of the buffers joined in order; the empty buffer (null) when the
// total is 0.
host::Buffer ConcatByteBuffers(std::initializer_list<const host::BufferHeader*> parts);

}  // namespace mosaic
