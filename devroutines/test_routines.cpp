#include "devroutines/test_routines.h"

#include "image/link.h"
#include "mosaic/mosaic.h"

namespace devroutines {
namespace {

using host::Word;
using image::g;
using image::native;
using image::pool;

const host::BufferHeader* FileBytesOrEmpty() {
  const host::BufferHeader* b = g.bmpFileBytes;
  return b ? b : static_cast<const host::BufferHeader*>(pool.emptyBuffer);
}

}  // namespace

void TestFixedPathMerge() {
  Word search = 0;

  // The fixed directory (a constant of the image, which Free leaves
  // alone) and its prefix; no check of the name.
  g.tileDir.Replace(const_cast<char*>(static_cast<const char*>(pool.fixedMergeDir)));
  mosaic::DeriveTilePrefix();
  // The count; the search it used stays open in the handle.
  mosaic::CountRowDirectories(search);
  // The side.
  mosaic::SetMosaicEdge();

  // The merge, with the handle the count left open.
  mosaic::ComposeAndSave(search, mosaic::MergeKind::kFixedPathTest);
}

void TestSingleTile() {
  const host::Services svc = image::Svc();
  std::uint32_t* startup = g.gdipStartupInput;
  startup[0] = 1;
  native.GdiplusStartup(g.gdipToken.Address(), startup, nullptr);
  g.screenDc = native.GetDC(0);
  g.mosaicDc = native.CreateCompatibleDC(g.screenDc);
  g.mosaicBitmap = native.CreateCompatibleBitmap(g.screenDc, 1024, 1024);
  native.ReleaseDC(0, g.screenDc);
  g.savedBitmap = native.SelectObject(g.mosaicDc, g.mosaicBitmap);
  mosaic::DrawTile(g.mosaicDc, pool.fixedTile, 0, 0, 0.0f, 0.0f);
  g.mosaicBitmap = native.SelectObject(g.mosaicDc, g.savedBitmap);
  g.bmpFileBytes.Replace(mosaic::BitmapToBmpBytes(g.mosaicBitmap));
  svc.WriteBytes(pool.fixedTileOut, FileBytesOrEmpty());
  native.GdiplusShutdown(g.gdipToken);
}

void TestTileEnumeration() {
  const host::Services svc = image::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirstAnyAttribute(pool.fixedPngPattern, &search);
  while (!host::TextEmpty(name)) image::AssignLocal(name, svc.FindNext(0, 1, &search));
  svc.EndFind(search);
  svc.Free(name);
}

void TestSubdirEnumeration() {
  const host::Services svc = image::Svc();
  Word search = 0;
  svc.Idle350();
  host::Text name = svc.FindFirst(pool.fixedDirPattern, host::kAttrDirectory, &search);
  while (!host::TextEmpty(name)) image::AssignLocal(name, svc.FindNext(host::kAttrDirectory, 0, &search));
  svc.EndFind(search);
  svc.Free(name);
}

}  // namespace devroutines
