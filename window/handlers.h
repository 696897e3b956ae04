// The main window's event handlers.
#pragma once

#include <cstdint>

namespace window {

// Window created: the mosaic counters take their starting values.
void OnWindowCreated();
// Start button: disables the inputs, merges when a save file was chosen,
// enables the inputs again.
void OnStartMergeClick();
// Tile-directory button: browse, check the name, count the row directories,
// show prefix, picture size and path.
void OnPickTileDirClick();
// Save-path button: the save dialog, then the output path with ".bmp".
void OnPickSavePathClick();
// Left button over the about label: opens the author's page.
void OnAboutLabelPress(std::int32_t x, std::int32_t y, std::int32_t modifiers);

}  // namespace window
