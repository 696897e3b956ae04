#include "window/handlers.h"

#include <cstring>

#include "host/ui.h"
#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace window {
namespace {

using host::Word;
using image::g;
using image::pool;

// Whether the text ends in ".bmp", without regard to case. A '.' can never
// be the second byte of a double-byte character, so the last four bytes are
// compared as they are.
bool EndsWithBmp(const char* name) {
  const char* suffix = pool.bmpSuffix;
  std::size_t n = host::TextLen(name), k = host::TextLen(suffix);
  if (n < k) return false;
  for (std::size_t i = 0; i < k; ++i) {
    char a = name[n - k + i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

void OnWindowCreated() {
  g.colIndex = -1;
  g.rowIndex = -1;
  g.tilesDrawn = 0;
}

void OnStartMergeClick() {
  const host::Services svc = image::Svc();
  mosaic::SetInputsDisabled(1);
  host::Text fileName = image::ReadText<image::kSaveDialog>(host::kPropDialogFileName);
  const bool chosen = !host::TextEqual(fileName, pool.empty);
  svc.Free(fileName);
  if (chosen) {
    if (g.mosaicEdge <= 0) {
      // No tile directory accepted yet: there is nothing to merge, and an
      // empty picture written over the output and reported as saved would
      // mislead. Ask for a directory instead.
      svc.ShowMessage(pool.wrongDir, host::kStyleError);
    } else {
      mosaic::MergeTiles();
    }
  }
  mosaic::SetInputsDisabled(0);
}

void OnPickTileDirClick() {
  const host::Services svc = image::Svc();
  Word search = 0;

  // What a start merges now. A pick that is rejected or cancelled puts it
  // back, so that a later start merges what the window still shows and never
  // the rejected directory at the old size.
  host::Text keptDir = image::JoinTexts({g.tileDir});
  host::Text keptPrefix = image::JoinTexts({g.tilePrefix});
  const std::int32_t keptGridSize = g.gridSize;
  bool accepted = false;

  // The directory from the folder browser (empty when cancelled).
  g.tileDir.Replace(svc.BrowseFolder(image::PaneaLibrary(), pool.folderPrompt));
  // Its own name, after the last backslash: the tile prefix.
  mosaic::DeriveTilePrefix();

  do {
    // The name must contain a lowercase "x".
    if (svc.FindText(g.tilePrefix, pool.letterX) == -1) {
      svc.ShowMessage(pool.wrongDir, host::kStyleError);
      break;
    }
    // Count the entries the search returns, less "." and "..".
    mosaic::CountRowDirectories(search);
    // No row directories. A directory the search cannot read returns no
    // entry at all, not even "." and "..", and so counts -2: no data either.
    if (g.gridSize <= 0) {
      svc.ShowMessage(pool.noTiles, host::kStyleError);
      break;
    }
    accepted = true;
    // The prefix, shown once the directory is accepted, so that the window
    // never shows a directory that a start would not merge.
    image::WriteText<image::kPrefixEdit>(host::kPropText, g.tilePrefix);
    // The picture's side.
    g.tileEdge = 256;
    mosaic::SetMosaicEdge();
    // Size and path.
    host::Text a = svc.ToText(static_cast<std::int32_t>(g.mosaicEdge));
    host::Text b = svc.ToText(static_cast<std::int32_t>(g.mosaicEdge));
    host::Text s = image::JoinTexts({a, pool.star, b});
    svc.Free(a);
    svc.Free(b);
    image::WriteText<image::kSizeEdit>(host::kPropText, s);
    svc.Free(s);
    host::Text t = image::JoinTexts({pool.tilePathLabel, g.tileDir});
    image::WriteText<image::kTilePathLabel>(host::kPropText, t);
    svc.Free(t);
  } while (false);

  if (accepted) {
    svc.Free(keptDir);
    svc.Free(keptPrefix);
  } else {
    g.tileDir.Replace(keptDir);
    g.tilePrefix.Replace(keptPrefix);
    g.gridSize = keptGridSize;
  }

  // The search ends here, also when none was begun.
  svc.EndFind(search);
}

void OnPickSavePathClick() {
  const host::Services svc = image::Svc();
  image::WriteInt<image::kSaveDialog>(host::kPropDialogType, 1);
  image::WriteText<image::kSaveDialog>(host::kPropDialogTitle, pool.savePrompt);
  image::WriteText<image::kSaveDialog>(host::kPropDialogFilter, pool.saveFilter);
  svc.OpenDialog(image::Id<image::kMainWindow>(), image::Id<image::kSaveDialog>(), image::DialogRefTag());
  host::Text name = image::ReadText<image::kSaveDialog>(host::kPropDialogFileName);
  // ".bmp" is appended unless the name already ends in it, so that choosing
  // an existing big.bmp saves to big.bmp and not to big.bmp.bmp.
  host::Text path = EndsWithBmp(name) ? image::JoinTexts({name}) : image::JoinTexts({name, pool.bmpSuffix});
  svc.Free(name);
  g.outputPath.Replace(path);
  host::Text s = image::JoinTexts({pool.savePathLabel, g.outputPath});
  image::WriteText<image::kSavePathLabel>(host::kPropText, s);
  svc.Free(s);
}

void OnAboutLabelPress(std::int32_t, std::int32_t, std::int32_t) {
  image::Svc().OpenTarget(image::PaneaLibrary(), pool.authorUrl);
}

}  // namespace window
