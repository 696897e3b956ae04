// Text joining for the routines: the texts in order (null counts as empty) in
// a fresh block of their total length plus the terminating zero.
#pragma once

#include <initializer_list>

#include "host/abi.h"

namespace image {

host::Text JoinTexts(std::initializer_list<const char*> parts);

}  // namespace image
