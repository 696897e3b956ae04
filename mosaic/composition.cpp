// Mosaic composition: the tile directory's row directories, in the order the
// directory search returns them, drawn band by band into one bitmap of
// mosaicEdge x mosaicEdge pixels, then written as one BMP file.
#include <cstring>

#include "app/link.h"
#include "app/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using enum image::NativeId;
using app::G;
using host::Word;

void SetInputsDisabled(std::int32_t disabled) {
  app::WriteInt<window::PickDirButton>(window::kDisabled, disabled);
  app::WriteInt<window::SavePathButton>(window::kDisabled, disabled);
  app::WriteInt<window::StartButton>(window::kDisabled, disabled);
  app::WriteInt<window::PrefixEdit>(window::kDisabled, disabled);
  app::WriteInt<window::SizeEdit>(window::kDisabled, disabled);
}

void MergeTiles() {
  // A fresh search.
  Word search = 0;
  ComposeAndSave(search, MergeKind::Window);
}

void ComposeAndSave(Word& search, MergeKind kind) {
  const host::Services svc = app::Svc();
  const bool window = kind == MergeKind::Window;
  // Rows and tiles counted from the start.
  app::SetInt<G::rowIndex>(-1);
  app::SetInt<G::tilesDrawn>(0);

  // GDI+ for this merge: version 1, nothing suppressed.
  auto* startup = reinterpret_cast<std::uint32_t*>(app::Var<G::gdipStartupInput>());
  startup[0] = 1;
  app::Native<kGdiplusStartup>({app::Addr(&app::Var<G::gdipToken>()), app::Addr(startup), 0});

  // A memory context and one bitmap in the screen's format.
  app::Var<G::screenDc>() = app::Native<kGetDC>({0});
  app::Var<G::mosaicDc>() = app::Native<kCreateCompatibleDC>({app::Var<G::screenDc>()});
  const auto edge = static_cast<std::uint32_t>(app::Int<G::mosaicEdge>());
  app::Var<G::mosaicBitmap>() = app::Native<kCreateCompatibleBitmap>({app::Var<G::screenDc>(), edge, edge});

  // No bitmap: the side is more than the platform can give.
  if (static_cast<std::uint32_t>(app::Var<G::mosaicBitmap>()) == 0) {
    if (window) {
      svc.ShowMessage(app::ConstText<image::K::BitmapFailLong>(), host::kStyleInfo);
      SetInputsDisabled(0);
    } else {
      svc.ShowMessage(app::ConstText<image::K::BitmapFailShort>(), host::kStylePlain);
    }
    app::Native<kReleaseDC>({0, app::Var<G::screenDc>()});
    app::Native<kGdiplusShutdown>({app::Var<G::gdipToken>()});
    svc.EndFind(search);
    return;
  }

  // The screen context is no longer needed; draw into the bitmap.
  app::Native<kReleaseDC>({0, app::Var<G::screenDc>()});
  app::Var<G::savedBitmap>() = app::Native<kSelectObject>({app::Var<G::mosaicDc>(), app::Var<G::mosaicBitmap>()});

  // The row directories, in search order.
  host::Text pattern = app::JoinTexts({app::TextVar<G::tileDir>(), app::ConstText<image::K::AllPattern>()});
  host::Text name = svc.FindFirst(pattern, host::kAttrDirectory, &search);
  svc.Free(pattern);
  app::Assign<G::entryName>(name);

  // One band per row directory other than "." and "..".
  while (!host::TextEmpty(app::TextVar<G::entryName>())) {
    const char* entry = app::TextVar<G::entryName>();
    if (!host::TextEqual(entry, app::ConstText<image::K::DotDot>()) &&
        !host::TextEqual(entry, app::ConstText<image::K::Dot>())) {
      app::SetInt<G::rowIndex>(app::Int<G::rowIndex>() + 1);
      DrawTileRow();
    }
    app::Assign<G::entryName>(svc.FindNext(host::kAttrDirectory, 0, &search));
  }

  // The bitmap out of the context, as the export requires.
  app::Var<G::mosaicBitmap>() = app::Native<kSelectObject>({app::Var<G::mosaicDc>(), app::Var<G::savedBitmap>()});

  // The file's bytes.
  host::Buffer bytes = BitmapToBmpBytes(app::Var<G::mosaicBitmap>());
  app::Assign<G::bmpFileBytes>(bytes);

  // Write and report; the fixed-path test writes its fixed file and
  // reports nothing.
  const host::BufferHeader* toWrite = app::BufferVar<G::bmpFileBytes>();
  if (!toWrite) toWrite = app::ConstBuffer<image::K::EmptyBuffer>();
  if (window) {
    if (svc.WriteBytes(app::TextVar<G::outputPath>(), toWrite) == host::kTrue)
      svc.ShowMessage(app::ConstText<image::K::MergeDone>(), host::kStyleInfo);
    else
      svc.ShowMessage(app::ConstText<image::K::SaveFailed>(), host::kStyleError);
  } else {
    svc.WriteBytes(app::ConstText<image::K::FixedMergeOut>(), toWrite);
  }

  // GDI+ and the search end with the merge.
  app::Native<kGdiplusShutdown>({app::Var<G::gdipToken>()});
  svc.EndFind(search);
}

void DrawTileRow() {
  const host::Services svc = app::Svc();
  app::SetInt<G::colIndex>(-1);
  const std::int32_t n = app::Int<G::gridSize>();
  const double edge = app::ConstDouble<image::K::D256>();
  host::Text number = nullptr;
  host::Text name = nullptr;

  for (std::int32_t k = 1; k <= n; ++k) {
    app::SetInt<G::colIndex>(app::Int<G::colIndex>() + 1);

    // The tile number, three digits at least.
    app::AssignLocal(number, svc.ToText(static_cast<double>(k) - app::ConstDouble<image::K::D1>()));
    if (svc.TextLength(number) == 1) app::AssignLocal(number, app::JoinTexts({app::ConstText<image::K::ZeroZero>(), number}));
    if (svc.TextLength(number) == 2) app::AssignLocal(number, app::JoinTexts({app::ConstText<image::K::Zero>(), number}));

    // tileDir\row\prefix + row + number + ".png"
    const char* dir = app::TextVar<G::tileDir>();
    const char* row = app::TextVar<G::entryName>();
    const char* sep = app::ConstText<image::K::Backslash>();
    app::AssignLocal(name, app::JoinTexts({dir, sep, row, sep, app::TextVar<G::tilePrefix>(), row, number,
                                 app::ConstText<image::K::PngSuffix>()}));

    // A missing tile is drawn with the placeholder beside the executable.
    if (svc.FileExists(name) == 0) {
      host::Text programDir = svc.ProgramDir();
      app::AssignLocal(name, app::JoinTexts({programDir, app::ConstText<image::K::NodataName>()}));
      svc.Free(programDir);
    }

    const auto x = static_cast<std::int32_t>(static_cast<std::int64_t>(app::Int<G::colIndex>() * edge));
    const auto y = static_cast<std::int32_t>(static_cast<std::int64_t>(app::Int<G::rowIndex>() * edge));
    DrawTile(app::Var<G::mosaicDc>(), name, x, y, 0.0f, 0.0f);

    // Progress: tilesDrawn / (N * N / 120), truncated.
    app::SetInt<G::tilesDrawn>(app::Int<G::tilesDrawn>() + 1);
    const double perUnit = static_cast<double>(n) * n / app::ConstDouble<image::K::D120>();
    const double position = app::Int<G::tilesDrawn>() / perUnit;
    app::WriteInt<window::ProgressBar>(window::kProgressPosition,
                                       static_cast<std::int32_t>(static_cast<std::int64_t>(position)));
  }
  svc.Free(number);
  svc.Free(name);
}

}  // namespace mosaic
