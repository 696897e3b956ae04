#include "image/texts.h"

#include <cstring>

#include "image/link.h"

namespace image {

host::Text JoinTexts(std::initializer_list<const char*> parts) {
  std::size_t n = 0;
  for (const char* p : parts) n += host::TextLen(p);
  auto* t = static_cast<char*>(Svc().Allocate(static_cast<std::uint32_t>(n + 1)));
  char* out = t;
  for (const char* p : parts) {
    std::size_t k = host::TextLen(p);
    if (k) std::memcpy(out, p, k);
    out += k;
  }
  *out = 0;
  return t;
}

}  // namespace image
