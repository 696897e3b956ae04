// Drawing a decoded picture onto a bitmap, source over.
//
// The destination is opaque: its fourth byte stays 0 and its colour is what
// shows through. Per channel, a pixel of alpha a (0-255) over destination d
// gives
//     out = (src * a + d * (255 - a) + 127) / 255      (integer division)
// so an opaque pixel is copied exactly and a transparent one leaves d as it
// was.
//
// Placement. The picture covers the rectangle x, y, w, h (pixels; a negative
// w or h mirrors the picture across that axis). A destination pixel is drawn
// when its centre (dx + 0.5, dy + 0.5) lies inside the rectangle, left and top
// edges included; everything outside the bitmap is clipped.
//  - Own size, not mirrored: x and y are rounded to the nearest whole pixel
//    (halves upwards) and the picture is copied pixel for pixel (exact copy
//    where it is opaque).
//  - Any other size: bilinear filtering. The destination centre maps to the
//    source point u = (dx + 0.5 - x) * width / w - 0.5 (v likewise), the four
//    nearest source pixels are weighted by the fractions of u and v rounded to
//    1/256 (weights summing to 65536), coordinates beyond the picture's edge
//    clamp to its edge pixels, and colours are weighted by their alpha
//    (premultiplied), so transparent neighbours do not darken the result:
//        A = sum(weight * alpha),  P = sum(weight * alpha * colour)
//        out = (P + d * (255 * 65536 - A) + 255 * 32768) / (255 * 65536)
//    For a single opaque tap this is the exact copy, and a constant-colour
//    picture stays that colour at any scale.
// A 1-bit destination is drawn through the same arithmetic on its pixels as
// black and white, each result turned back into a bit by IsNearerWhite.
#pragma once

#include "platform/graphics/picture.h"
#include "platform/graphics/surface.h"

namespace graphics {

// Ok (also when nothing falls inside the bitmap, or w or h is 0), or
// InvalidParameter for a non-finite coordinate or a surface of another depth
// than 1 or 32 bits.
GpStatus DrawPicture(const Picture& picture, const Surface& target, double x, double y,
                     double w, double h);

}  // namespace graphics
