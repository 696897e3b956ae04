#include "window/handlers.h"

#include <cstring>

#include "app/link.h"
#include "app/texts.h"
#include "mosaic/mosaic.h"

namespace window {
namespace {

using app::G;
using host::Word;



// Whether the text ends in ".bmp", without regard to case. A '.' can never
// be the second byte of a double-byte character, so the last four bytes are
// compared as they are.
bool EndsWithBmp(const char* name) {
  const char* suffix = app::ConstText<image::K::BmpSuffix>();
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
  app::SetInt<G::colIndex>(-1);
  app::SetInt<G::rowIndex>(-1);
  app::SetInt<G::tilesDrawn>(0);
}

void OnStartMergeClick() {
  const host::Services svc = app::Svc();
  mosaic::SetInputsDisabled(1);
  host::Text fileName = app::ReadText<SaveDialog>(kDialogFileName);
  const bool chosen = !host::TextEqual(fileName, app::ConstText<image::K::Empty>());
  svc.Free(fileName);
  if (chosen) {
    if (app::Int<G::mosaicEdge>() <= 0) {
      // No tile directory accepted yet: there is nothing to merge, and an
      // empty picture written over the output and reported as saved would
      // mislead. Ask for a directory instead.
      svc.ShowMessage(app::ConstText<image::K::WrongDir>(), host::kStyleError);
    } else {
      mosaic::MergeTiles();
    }
  }
  mosaic::SetInputsDisabled(0);
}

void OnPickTileDirClick() {
  const host::Services svc = app::Svc();
  Word search = 0;

  // What a start merges now. A pick that is rejected or cancelled puts it
  // back, so that a later start merges what the window still shows and never
  // the rejected directory at the old size.
  host::Text keptDir = app::JoinTexts({app::TextVar<G::tileDir>()});
  host::Text keptPrefix = app::JoinTexts({app::TextVar<G::tilePrefix>()});
  const std::int32_t keptGridSize = app::Int<G::gridSize>();
  bool accepted = false;

  // The directory from the folder browser (empty when cancelled).
  app::Assign<G::tileDir>(svc.BrowseFolder(app::PaneaLibrary(), app::ConstText<image::K::FolderPrompt>()));
  // Its own name, after the last backslash: the tile prefix.
  mosaic::DeriveTilePrefix();

  do {
    // The name must contain a lowercase "x".
    if (svc.FindText(app::TextVar<G::tilePrefix>(), app::ConstText<image::K::LetterX>()) == -1) {
      svc.ShowMessage(app::ConstText<image::K::WrongDir>(), host::kStyleError);
      break;
    }
    // Count the entries the search returns, less "." and "..".
    mosaic::CountRowDirectories(search);
    // No row directories. A directory the search cannot read returns no
    // entry at all, not even "." and "..", and so counts -2: no data either.
    if (app::Int<G::gridSize>() <= 0) {
      svc.ShowMessage(app::ConstText<image::K::NoTiles>(), host::kStyleError);
      break;
    }
    accepted = true;
    // The prefix, shown once the directory is accepted, so that the window
    // never shows a directory that a start would not merge.
    app::WriteText<PrefixEdit>(kCaption, app::TextVar<G::tilePrefix>());
    // The picture's side.
    app::SetInt<G::tileEdge>(256);
    mosaic::SetMosaicEdge();
    // Size and path.
    host::Text a = svc.ToText(app::Int<G::mosaicEdge>());
    host::Text b = svc.ToText(app::Int<G::mosaicEdge>());
    host::Text s = app::JoinTexts({a, app::ConstText<image::K::Star>(), b});
    svc.Free(a);
    svc.Free(b);
    app::WriteText<SizeEdit>(kCaption, s);
    svc.Free(s);
    host::Text t = app::JoinTexts({app::ConstText<image::K::TilePathLabel>(), app::TextVar<G::tileDir>()});
    app::WriteText<TilePathLabel>(kCaption, t);
    svc.Free(t);
  } while (false);

  if (accepted) {
    svc.Free(keptDir);
    svc.Free(keptPrefix);
  } else {
    app::Assign<G::tileDir>(keptDir);
    app::Assign<G::tilePrefix>(keptPrefix);
    app::SetInt<G::gridSize>(keptGridSize);
  }

  // The search ends here, also when none was begun.
  svc.EndFind(search);
}

void OnPickSavePathClick() {
  const host::Services svc = app::Svc();
  app::WriteInt<SaveDialog>(kDialogType, 1);
  app::WriteText<SaveDialog>(kDialogTitle, app::ConstText<image::K::SavePrompt>());
  app::WriteText<SaveDialog>(kDialogFilter, app::ConstText<image::K::SaveFilter>());
  svc.OpenDialog(app::Id<kMainWindow>(), app::Id<SaveDialog>(), app::DialogRefTag());
  host::Text name = app::ReadText<SaveDialog>(kDialogFileName);
  // ".bmp" is appended unless the name already ends in it, so that choosing
  // an existing big.bmp saves to big.bmp and not to big.bmp.bmp.
  host::Text path = EndsWithBmp(name) ? app::JoinTexts({name}) : app::JoinTexts({name, app::ConstText<image::K::BmpSuffix>()});
  svc.Free(name);
  app::Assign<G::outputPath>(path);
  host::Text s = app::JoinTexts({app::ConstText<image::K::SavePathLabel>(), app::TextVar<G::outputPath>()});
  app::WriteText<SavePathLabel>(kCaption, s);
  svc.Free(s);
}

void OnAboutLabelPress(std::int32_t, std::int32_t, std::int32_t) {
  app::Svc().OpenTarget(app::PaneaLibrary(), app::ConstText<image::K::AuthorUrl>());
}

}  // namespace window
