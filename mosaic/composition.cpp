// Mosaic composition: the tile directory's row directories, in the order the
// directory search returns them, drawn band by band into one bitmap of
// mosaicEdge x mosaicEdge pixels, then written as one BMP file.
#include <cstring>

#include "host/ui.h"
#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using enum image::NativeId;
using image::G;
using host::Word;

void SetInputsDisabled(std::int32_t disabled) {
  image::WriteInt<image::kPickDirButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kSavePathButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kStartButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kPrefixEdit>(host::kPropDisabled, disabled);
  image::WriteInt<image::kSizeEdit>(host::kPropDisabled, disabled);
}

void MergeTiles() {
  // A fresh search.
  Word search = 0;
  ComposeAndSave(search, MergeKind::Window);
}

void ComposeAndSave(Word& search, MergeKind kind) {
  const host::Services svc = image::Svc();
  const bool window = kind == MergeKind::Window;
  // Rows and tiles counted from the start.
  image::SetInt<G::rowIndex>(-1);
  image::SetInt<G::tilesDrawn>(0);

  // GDI+ for this merge: version 1, nothing suppressed.
  auto* startup = reinterpret_cast<std::uint32_t*>(image::Var<G::gdipStartupInput>());
  startup[0] = 1;
  image::Native<kGdiplusStartup>({image::Addr(&image::Var<G::gdipToken>()), image::Addr(startup), 0});

  // A memory context and one bitmap in the screen's format.
  image::Var<G::screenDc>() = image::Native<kGetDC>({0});
  image::Var<G::mosaicDc>() = image::Native<kCreateCompatibleDC>({image::Var<G::screenDc>()});
  const auto edge = static_cast<std::uint32_t>(image::Int<G::mosaicEdge>());
  image::Var<G::mosaicBitmap>() = image::Native<kCreateCompatibleBitmap>({image::Var<G::screenDc>(), edge, edge});

  // No bitmap: the side is more than the platform can give.
  if (static_cast<std::uint32_t>(image::Var<G::mosaicBitmap>()) == 0) {
    if (window) {
      svc.ShowMessage(image::ConstText<image::K::BitmapFailLong>(), host::kStyleInfo);
      SetInputsDisabled(0);
    } else {
      svc.ShowMessage(image::ConstText<image::K::BitmapFailShort>(), host::kStylePlain);
    }
    image::Native<kReleaseDC>({0, image::Var<G::screenDc>()});
    image::Native<kGdiplusShutdown>({image::Var<G::gdipToken>()});
    svc.EndFind(search);
    return;
  }

  // The screen context is no longer needed; draw into the bitmap.
  image::Native<kReleaseDC>({0, image::Var<G::screenDc>()});
  image::Var<G::savedBitmap>() = image::Native<kSelectObject>({image::Var<G::mosaicDc>(), image::Var<G::mosaicBitmap>()});

  // The row directories, in search order.
  host::Text pattern = image::JoinTexts({image::TextVar<G::tileDir>(), image::ConstText<image::K::AllPattern>()});
  host::Text name = svc.FindFirst(pattern, host::kAttrDirectory, &search);
  svc.Free(pattern);
  image::Assign<G::entryName>(name);

  // One band per row directory other than "." and "..".
  while (!host::TextEmpty(image::TextVar<G::entryName>())) {
    const char* entry = image::TextVar<G::entryName>();
    if (!host::TextEqual(entry, image::ConstText<image::K::DotDot>()) &&
        !host::TextEqual(entry, image::ConstText<image::K::Dot>())) {
      image::SetInt<G::rowIndex>(image::Int<G::rowIndex>() + 1);
      DrawTileRow();
    }
    image::Assign<G::entryName>(svc.FindNext(host::kAttrDirectory, 0, &search));
  }

  // The bitmap out of the context, as the export requires.
  image::Var<G::mosaicBitmap>() = image::Native<kSelectObject>({image::Var<G::mosaicDc>(), image::Var<G::savedBitmap>()});

  // The file's bytes.
  host::Buffer bytes = BitmapToBmpBytes(image::Var<G::mosaicBitmap>());
  image::Assign<G::bmpFileBytes>(bytes);

  // Write and report; the fixed-path test writes its fixed file and
  // reports nothing.
  const host::BufferHeader* toWrite = image::BufferVar<G::bmpFileBytes>();
  if (!toWrite) toWrite = image::ConstBuffer<image::K::EmptyBuffer>();
  if (window) {
    if (svc.WriteBytes(image::TextVar<G::outputPath>(), toWrite) == host::kTrue)
      svc.ShowMessage(image::ConstText<image::K::MergeDone>(), host::kStyleInfo);
    else
      svc.ShowMessage(image::ConstText<image::K::SaveFailed>(), host::kStyleError);
  } else {
    svc.WriteBytes(image::ConstText<image::K::FixedMergeOut>(), toWrite);
  }

  // GDI+ and the search end with the merge.
  image::Native<kGdiplusShutdown>({image::Var<G::gdipToken>()});
  svc.EndFind(search);
}

void DrawTileRow() {
  const host::Services svc = image::Svc();
  image::SetInt<G::colIndex>(-1);
  const std::int32_t n = image::Int<G::gridSize>();
  const double edge = image::ConstDouble<image::K::D256>();
  host::Text number = nullptr;
  host::Text name = nullptr;

  for (std::int32_t k = 1; k <= n; ++k) {
    image::SetInt<G::colIndex>(image::Int<G::colIndex>() + 1);

    // The tile number, three digits at least.
    image::AssignLocal(number, svc.ToText(static_cast<double>(k) - image::ConstDouble<image::K::D1>()));
    if (svc.TextLength(number) == 1) image::AssignLocal(number, image::JoinTexts({image::ConstText<image::K::ZeroZero>(), number}));
    if (svc.TextLength(number) == 2) image::AssignLocal(number, image::JoinTexts({image::ConstText<image::K::Zero>(), number}));

    // tileDir\row\prefix + row + number + ".png"
    const char* dir = image::TextVar<G::tileDir>();
    const char* row = image::TextVar<G::entryName>();
    const char* sep = image::ConstText<image::K::Backslash>();
    image::AssignLocal(name, image::JoinTexts({dir, sep, row, sep, image::TextVar<G::tilePrefix>(), row, number,
                                 image::ConstText<image::K::PngSuffix>()}));

    // A missing tile is drawn with the placeholder beside the executable.
    if (svc.FileExists(name) == 0) {
      host::Text programDir = svc.ProgramDir();
      image::AssignLocal(name, image::JoinTexts({programDir, image::ConstText<image::K::NodataName>()}));
      svc.Free(programDir);
    }

    const auto x = static_cast<std::int32_t>(static_cast<std::int64_t>(image::Int<G::colIndex>() * edge));
    const auto y = static_cast<std::int32_t>(static_cast<std::int64_t>(image::Int<G::rowIndex>() * edge));
    DrawTile(image::Var<G::mosaicDc>(), name, x, y, 0.0f, 0.0f);

    // Progress: tilesDrawn / (N * N / 120), truncated.
    image::SetInt<G::tilesDrawn>(image::Int<G::tilesDrawn>() + 1);
    const double perUnit = static_cast<double>(n) * n / image::ConstDouble<image::K::D120>();
    const double position = image::Int<G::tilesDrawn>() / perUnit;
    image::WriteInt<image::kProgressBar>(host::kPropProgress,
                                       static_cast<std::int32_t>(static_cast<std::int64_t>(position)));
  }
  svc.Free(number);
  svc.Free(name);
}

}  // namespace mosaic
