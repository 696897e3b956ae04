// The routines of the four hidden test buttons: fixed development paths.
#pragma once

namespace devroutines {

// A whole merge of the fixed tile directory into f:\tilbern.bmp.
void TestFixedPathMerge();
// The fixed tile drawn into a 1024 x 1024 bitmap, saved as c:\tilbern.bmp.
void TestSingleTile();
// A walk over the PNG files of the fixed row directory.
void TestTileEnumeration();
// A walk over the entries of the fixed zoom directory.
void TestSubdirEnumeration();

}  // namespace devroutines
