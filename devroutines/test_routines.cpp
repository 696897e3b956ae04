#include "devroutines/test_routines.h"

#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace devroutines {

using enum image::NativeId;
namespace {

using image::G;
using host::Word;

const host::BufferHeader* FileBytesOrEmpty() {
  const host::BufferHeader* b = image::BufferVar<G::bmpFileBytes>();
  return b ? b : image::ConstBuffer<image::K::EmptyBuffer>();
}

}  // namespace

void TestFixedPathMerge() {
  Word search = 0;

  // The fixed directory (a constant of the image, which Free leaves
  // alone) and its prefix; no check of the name.
  image::Assign<G::tileDir>(const_cast<char*>(image::ConstText<image::K::FixedMergeDir>()));
  mosaic::DeriveTilePrefix();
  // The count; the search it used stays open in the handle.
  mosaic::CountRowDirectories(search);
  // The side.
  mosaic::SetMosaicEdge();

  // The merge, with the handle the count left open.
  mosaic::ComposeAndSave(search, mosaic::MergeKind::FixedPathTest);
}

void TestSingleTile() {
  const host::Services svc = image::Svc();
  auto* startup = reinterpret_cast<std::uint32_t*>(image::Var<G::gdipStartupInput>());
  startup[0] = 1;
  image::Native<kGdiplusStartup>({image::Addr(&image::Var<G::gdipToken>()), image::Addr(startup), 0});
  image::Var<G::screenDc>() = image::Native<kGetDC>({0});
  image::Var<G::mosaicDc>() = image::Native<kCreateCompatibleDC>({image::Var<G::screenDc>()});
  image::Var<G::mosaicBitmap>() = image::Native<kCreateCompatibleBitmap>({image::Var<G::screenDc>(), 1024, 1024});
  image::Native<kReleaseDC>({0, image::Var<G::screenDc>()});
  image::Var<G::savedBitmap>() = image::Native<kSelectObject>({image::Var<G::mosaicDc>(), image::Var<G::mosaicBitmap>()});
  mosaic::DrawTile(image::Var<G::mosaicDc>(), image::ConstText<image::K::FixedTile>(), 0, 0, 0.0f, 0.0f);
  image::Var<G::mosaicBitmap>() = image::Native<kSelectObject>({image::Var<G::mosaicDc>(), image::Var<G::savedBitmap>()});
  image::Assign<G::bmpFileBytes>(mosaic::BitmapToBmpBytes(image::Var<G::mosaicBitmap>()));
  svc.WriteBytes(image::ConstText<image::K::FixedTileOut>(), FileBytesOrEmpty());
  image::Native<kGdiplusShutdown>({image::Var<G::gdipToken>()});
}

void TestTileEnumeration() {
  const host::Services svc = image::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirstAnyAttribute(image::ConstText<image::K::FixedPngPattern>(), &search);
  while (!host::TextEmpty(name)) image::AssignLocal(name, svc.FindNext(0, 1, &search));
  svc.EndFind(search);
  svc.Free(name);
}

void TestSubdirEnumeration() {
  const host::Services svc = image::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirst(image::ConstText<image::K::FixedDirPattern>(), host::kAttrDirectory, &search);
  while (!host::TextEmpty(name)) image::AssignLocal(name, svc.FindNext(host::kAttrDirectory, 0, &search));
  svc.EndFind(search);
  svc.Free(name);
}

}  // namespace devroutines
