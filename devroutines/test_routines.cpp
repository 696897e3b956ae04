#include "devroutines/test_routines.h"

#include "app/link.h"
#include "app/texts.h"
#include "mosaic/mosaic.h"

namespace devroutines {

using enum image::NativeId;
namespace {

using app::G;
using host::Word;

const host::BufferHeader* FileBytesOrEmpty() {
  const host::BufferHeader* b = app::BufferVar<G::bmpFileBytes>();
  return b ? b : app::ConstBuffer<image::K::EmptyBuffer>();
}

}  // namespace

void TestFixedPathMerge() {
  Word search = 0;

  // The fixed directory (a constant of the image, which Free leaves
  // alone) and its prefix; no check of the name.
  app::Assign<G::tileDir>(const_cast<char*>(app::ConstText<image::K::FixedMergeDir>()));
  mosaic::DeriveTilePrefix();
  // The count; the search it used stays open in the handle.
  mosaic::CountRowDirectories(search);
  // The side.
  mosaic::SetMosaicEdge();

  // The merge, with the handle the count left open.
  mosaic::ComposeAndSave(search, mosaic::MergeKind::FixedPathTest);
}

void TestSingleTile() {
  const host::Services svc = app::Svc();
  auto* startup = reinterpret_cast<std::uint32_t*>(app::Var<G::gdipStartupInput>());
  startup[0] = 1;
  app::Native<kGdiplusStartup>({app::Addr(&app::Var<G::gdipToken>()), app::Addr(startup), 0});
  app::Var<G::screenDc>() = app::Native<kGetDC>({0});
  app::Var<G::mosaicDc>() = app::Native<kCreateCompatibleDC>({app::Var<G::screenDc>()});
  app::Var<G::mosaicBitmap>() = app::Native<kCreateCompatibleBitmap>({app::Var<G::screenDc>(), 1024, 1024});
  app::Native<kReleaseDC>({0, app::Var<G::screenDc>()});
  app::Var<G::savedBitmap>() = app::Native<kSelectObject>({app::Var<G::mosaicDc>(), app::Var<G::mosaicBitmap>()});
  mosaic::DrawTile(app::Var<G::mosaicDc>(), app::ConstText<image::K::FixedTile>(), 0, 0, 0.0f, 0.0f);
  app::Var<G::mosaicBitmap>() = app::Native<kSelectObject>({app::Var<G::mosaicDc>(), app::Var<G::savedBitmap>()});
  app::Assign<G::bmpFileBytes>(mosaic::BitmapToBmpBytes(app::Var<G::mosaicBitmap>()));
  svc.WriteBytes(app::ConstText<image::K::FixedTileOut>(), FileBytesOrEmpty());
  app::Native<kGdiplusShutdown>({app::Var<G::gdipToken>()});
}

void TestTileEnumeration() {
  const host::Services svc = app::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirstAnyAttribute(app::ConstText<image::K::FixedPngPattern>(), &search);
  while (!host::TextEmpty(name)) app::AssignLocal(name, svc.FindNext(0, 1, &search));
  svc.EndFind(search);
  svc.Free(name);
}

void TestSubdirEnumeration() {
  const host::Services svc = app::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirst(app::ConstText<image::K::FixedDirPattern>(), host::kAttrDirectory, &search);
  while (!host::TextEmpty(name)) app::AssignLocal(name, svc.FindNext(host::kAttrDirectory, 0, &search));
  svc.EndFind(search);
  svc.Free(name);
}

}  // namespace devroutines
