// Records metafiles through the system's own recording calls, so that the
// files are what GDI and GDI+ write, and prints the size GDI+ reports for
// each. The Linux side runs it under Wine and merges the files as tiles with
// both builds (tests/windows/differential_test.cpp).
//
//   metafile-recorder DIR
//
// One line per file written into DIR: NAME KIND CONTENT WIDTH HEIGHT, KIND
// one of emf, wmf, wmf-placeable, emf-plus-dual, emf-plus-only, CONTENT
// "text" where the picture depends on the fonts each side finds, else
// "shapes"; WIDTH and HEIGHT as GdipGetImageDimension gives them, or
// "refused STATUS" when GDI+ does not load the file.
#include <windows.h>
#include <gdiplus.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every case draws into 0..256 x 0..256 logical units: the EMF's reference
// device pixels, the WMF's window (MM_ANISOTROPIC, extent 256 x 256, and
// the placeable header's box at 96 units per inch).
constexpr int kSide = 256;

bool Enhanced(HDC dc) { return GetObjectType(dc) == OBJ_ENHMETADC; }

// Selects `object` into `dc` for the scope and deletes it afterwards (stock
// objects are left alone by DeleteObject).
struct Use {
  Use(HDC dc, HGDIOBJ object) : dc(dc), object(object), old(SelectObject(dc, object)) {}
  ~Use() {
    SelectObject(dc, old);
    DeleteObject(object);
  }
  HDC dc;
  HGDIOBJ object, old;
};

void Lines(HDC dc) {
  const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL};
  for (int i = 0; i < 6; ++i) {
    Use pen(dc, CreatePen(styles[i], i % 2, RGB(255, 40 * i, 0)));
    MoveToEx(dc, 10, 8 + 10 * i, nullptr);
    LineTo(dc, 246, 8 + 10 * i);
  }
  // A fan in every direction: each line leaves its last pixel out.
  const POINT ends[] = {{80, 0},  {80, 30},  {80, 80},  {30, 80},   {0, 80},   {-30, 80}, {-80, 80}, {-80, 30},
                        {-80, 0}, {-80, -30}, {-80, -80}, {-30, -80}, {0, -80}, {30, -80}, {80, -80}, {80, -30}};
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(0, 255, 128)));
  for (const POINT& e : ends) {
    MoveToEx(dc, 128, 160, nullptr);
    LineTo(dc, 128 + e.x, 160 + e.y);
  }
  const POINT zigzag[] = {{4, 250}, {20, 70}, {36, 250}, {52, 70}, {60, 252}};
  Polyline(dc, zigzag, 5);
}

void WidePens(HDC dc) {
  {
    Use pen(dc, CreatePen(PS_SOLID, 7, RGB(40, 90, 255)));
    MoveToEx(dc, 20, 20, nullptr);
    LineTo(dc, 230, 60);
    LineTo(dc, 60, 110);
  }
  Use brush(dc, CreateSolidBrush(RGB(250, 220, 80)));
  {
    Use pen(dc, CreatePen(PS_INSIDEFRAME, 9, RGB(200, 0, 90)));
    Rectangle(dc, 20, 130, 120, 240);
    Ellipse(dc, 140, 130, 240, 240);
  }
  Use pen(dc, CreatePen(PS_SOLID, 4, RGB(0, 160, 0)));
  Rectangle(dc, 50, 160, 90, 200);
}

// Geometric pens with their end caps and joins, a cosmetic alternate pen and
// a pen of the caller's dash pattern: EMF only, a WMF holds logical pens.
void ExtendedPens(HDC dc) {
  const DWORD kinds[] = {PS_ENDCAP_ROUND | PS_JOIN_ROUND, PS_ENDCAP_SQUARE | PS_JOIN_BEVEL,
                         PS_ENDCAP_FLAT | PS_JOIN_MITER};
  for (int i = 0; i < 3; ++i) {
    LOGBRUSH lb = {BS_SOLID, RGB(60 * i, 80, 255 - 60 * i), 0};
    Use pen(dc, ExtCreatePen(PS_GEOMETRIC | PS_SOLID | kinds[i], 9 + 2 * i, &lb, 0, nullptr));
    const POINT v[] = {{20 + 80 * i, 100}, {50 + 80 * i, 20}, {80 + 80 * i, 100}};
    Polyline(dc, v, 3);
  }
  LOGBRUSH hatched = {BS_HATCHED, RGB(0, 0, 0), HS_DIAGCROSS};
  {
    Use pen(dc, ExtCreatePen(PS_GEOMETRIC | PS_DASH | PS_ENDCAP_FLAT, 12, &hatched, 0, nullptr));
    MoveToEx(dc, 10, 140, nullptr);
    LineTo(dc, 246, 140);
  }
  LOGBRUSH red = {BS_SOLID, RGB(255, 0, 0), 0};
  {
    Use pen(dc, ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &red, 0, nullptr));
    MoveToEx(dc, 10, 170, nullptr);
    LineTo(dc, 246, 200);
  }
  const DWORD dashes[] = {12, 4, 2, 4};
  Use pen(dc, ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 3, &red, 4, dashes));
  Arc(dc, 20, 160, 236, 250, 236, 205, 20, 205);
}

void Brushes(HDC dc) {
  {
    Use brush(dc, CreateSolidBrush(RGB(200, 30, 30)));
    Rectangle(dc, 8, 8, 80, 80);
  }
  for (int i = 0; i < 6; ++i) {
    Use brush(dc, CreateHatchBrush(HS_HORIZONTAL + i, RGB(0, 40 * i, 160)));
    Rectangle(dc, 88 + 56 * (i % 3), 8 + 40 * (i / 3), 140 + 56 * (i % 3), 44 + 40 * (i / 3));
  }
  // A monochrome pattern: its set bits take the background colour, the
  // others the text colour.
  const WORD rows[8] = {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81};
  HBITMAP mono = CreateBitmap(8, 8, 1, 1, rows);
  SetTextColor(dc, RGB(0, 0, 200));
  SetBkColor(dc, RGB(255, 255, 160));
  {
    Use brush(dc, CreatePatternBrush(mono));
    Rectangle(dc, 8, 96, 120, 170);
  }
  DeleteObject(mono);
  // A colour pattern from a DIB.
  struct {
    BITMAPINFOHEADER h;
    DWORD pixels[8 * 8];
  } dib = {{sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  for (int i = 0; i < 64; ++i) dib.pixels[i] = (i % 8 < 4) == (i / 8 < 4) ? 0x30C060 : 0xF0F0F0 - i * 0x030201;
  {
    Use brush(dc, CreateDIBPatternBrushPt(&dib, DIB_RGB_COLORS));
    Ellipse(dc, 128, 96, 248, 170);
  }
  // Stock brushes and pens.
  const int stock[][2] = {{GRAY_BRUSH, BLACK_PEN}, {LTGRAY_BRUSH, WHITE_PEN}, {DKGRAY_BRUSH, NULL_PEN},
                          {NULL_BRUSH, BLACK_PEN}, {WHITE_BRUSH, NULL_PEN}};
  for (int i = 0; i < 5; ++i) {
    SelectObject(dc, GetStockObject(stock[i][0]));
    SelectObject(dc, GetStockObject(stock[i][1]));
    Rectangle(dc, 8 + 49 * i, 180, 50 + 49 * i, 248);
  }
}

void Polygons(HDC dc) {
  Use brush(dc, CreateSolidBrush(RGB(255, 120, 0)));
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(0, 0, 120)));
  const int modes[] = {ALTERNATE, WINDING};
  for (int m = 0; m < 2; ++m) {
    SetPolyFillMode(dc, modes[m]);
    const int x = 128 * m;
    const POINT star[] = {{x + 64, 4}, {x + 102, 120}, {x + 4, 48}, {x + 124, 48}, {x + 26, 120}};
    Polygon(dc, star, 5);
    // Two squares, the inner one wound the same way, and a triangle across both.
    const POINT shapes[] = {{x + 8, 132},  {x + 120, 132}, {x + 120, 244}, {x + 8, 244},
                            {x + 36, 160}, {x + 92, 160},  {x + 92, 216},  {x + 36, 216},
                            {x + 64, 140}, {x + 124, 250}, {x + 4, 250}};
    const INT counts[] = {4, 4, 3};
    PolyPolygon(dc, shapes, counts, 3);
  }
}

void Shapes(HDC dc) {
  Use brush(dc, CreateSolidBrush(RGB(90, 200, 255)));
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(160, 0, 0)));
  Rectangle(dc, 8, 8, 120, 70);
  Rectangle(dc, 130, 8, 131, 70);  // empty: a rectangle excludes its right and bottom edges
  Rectangle(dc, 140, 8, 143, 70);
  RoundRect(dc, 150, 8, 248, 70, 30, 20);
  Ellipse(dc, 8, 80, 120, 150);
  for (int s = 1; s <= 8; ++s) Ellipse(dc, 120 + 14 * s, 90, 120 + 14 * s + s, 90 + s);
  RoundRect(dc, 8, 160, 120, 248, 112, 88);
  Ellipse(dc, 130, 160, 248, 248);
}

void Arcs(HDC dc) {
  Use brush(dc, CreateSolidBrush(RGB(120, 255, 120)));
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
  Arc(dc, 8, 8, 120, 120, 120, 64, 64, 8);
  Arc(dc, 16, 16, 112, 112, 16, 30, 112, 30);
  Chord(dc, 136, 8, 248, 120, 248, 100, 136, 20);
  Pie(dc, 8, 136, 120, 248, 120, 150, 30, 248);
  Pie(dc, 136, 136, 248, 248, 200, 136, 200, 137);  // nearly the whole ellipse
}

// Bezier curves: EMF only, a WMF has no record for them.
void Beziers(HDC dc) {
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(255, 0, 255)));
  const POINT s[] = {{8, 120}, {40, 0}, {90, 250}, {128, 120}, {160, 10}, {200, 240}, {248, 120}};
  PolyBezier(dc, s, 7);
  Use wide(dc, CreatePen(PS_SOLID, 5, RGB(0, 128, 255)));
  MoveToEx(dc, 8, 200, nullptr);
  const POINT t[] = {{60, 140}, {100, 260}, {248, 200}};
  PolyBezierTo(dc, t, 3);
}

// Paths: EMF only.
void Paths(HDC dc) {
  Use brush(dc, CreateHatchBrush(HS_DIAGCROSS, RGB(0, 100, 0)));
  Use pen(dc, CreatePen(PS_SOLID, 5, RGB(200, 0, 0)));
  BeginPath(dc);
  MoveToEx(dc, 8, 8, nullptr);
  LineTo(dc, 120, 20);
  const POINT c[] = {{130, 60}, {20, 100}, {60, 120}};
  PolyBezierTo(dc, c, 3);
  CloseFigure(dc);
  Ellipse(dc, 140, 8, 248, 110);
  EndPath(dc);
  FillPath(dc);

  BeginPath(dc);
  Rectangle(dc, 8, 130, 120, 180);
  EndPath(dc);
  StrokePath(dc);

  SetPolyFillMode(dc, WINDING);
  BeginPath(dc);
  const POINT star[] = {{190, 126}, {226, 246}, {130, 170}, {250, 170}, {154, 246}};
  Polygon(dc, star, 5);
  EndPath(dc);
  StrokeAndFillPath(dc);

  // A path as the clipping region.
  BeginPath(dc);
  Ellipse(dc, 8, 190, 120, 250);
  EndPath(dc);
  SelectClipPath(dc, RGN_COPY);
  Use other(dc, CreateHatchBrush(HS_VERTICAL, RGB(0, 0, 255)));
  Rectangle(dc, 0, 180, 128, 256);
}

void ClipRectangles(HDC dc) {
  IntersectClipRect(dc, 20, 20, 236, 236);
  ExcludeClipRect(dc, 60, 60, 120, 120);
  ExcludeClipRect(dc, 100, 140, 200, 180);
  Use brush(dc, CreateHatchBrush(HS_CROSS, RGB(180, 0, 0)));
  Use pen(dc, CreatePen(PS_SOLID, 3, RGB(0, 0, 200)));
  Rectangle(dc, 0, 0, 256, 256);
  Ellipse(dc, 40, 40, 220, 220);
}

// Clipping regions: EMF only (a WMF's region record is not worth the doubt).
void ClipRegions(HDC dc) {
  HRGN ellipse = CreateEllipticRgn(20, 20, 236, 236);
  SelectClipRgn(dc, ellipse);
  HRGN bar = CreateRectRgn(0, 100, 256, 150);
  ExtSelectClipRgn(dc, bar, RGN_XOR);
  Use brush(dc, CreateSolidBrush(RGB(40, 160, 220)));
  Rectangle(dc, 0, 0, 256, 256);
  HRGN corner = CreateRectRgn(180, 180, 256, 256);
  ExtSelectClipRgn(dc, corner, RGN_OR);
  Use other(dc, CreateHatchBrush(HS_BDIAGONAL, RGB(255, 0, 0)));
  Rectangle(dc, 100, 100, 256, 256);
  DeleteObject(ellipse);
  DeleteObject(bar);
  DeleteObject(corner);
}

void SaveRestore(HDC dc) {
  HBRUSH red = CreateSolidBrush(RGB(220, 0, 0));
  HPEN blue = CreatePen(PS_SOLID, 3, RGB(0, 0, 220));
  SaveDC(dc);
  SelectObject(dc, red);
  IntersectClipRect(dc, 0, 0, 200, 200);
  Rectangle(dc, 10, 10, 240, 60);  // red, cut at 200
  SaveDC(dc);
  SelectObject(dc, blue);
  SetBkMode(dc, TRANSPARENT);
  SaveDC(dc);
  SelectObject(dc, GetStockObject(GRAY_BRUSH));
  Rectangle(dc, 10, 70, 240, 110);  // grey, blue edge, cut
  RestoreDC(dc, -2);                // back past both inner saves
  Rectangle(dc, 10, 120, 240, 160);  // red, black edge, cut
  RestoreDC(dc, -1);
  Rectangle(dc, 10, 170, 240, 250);  // white, black edge, whole
  DeleteObject(red);
  DeleteObject(blue);
}

// Background mode and colour under styled lines, hatches and text-coloured
// patterns.
void Background(HDC dc) {
  Use solid(dc, CreateSolidBrush(RGB(0, 90, 160)));
  Rectangle(dc, 0, 0, 256, 256);
  SetBkColor(dc, RGB(255, 255, 0));
  const int modes[] = {OPAQUE, TRANSPARENT};
  for (int m = 0; m < 2; ++m) {
    SetBkMode(dc, modes[m]);
    Use pen(dc, CreatePen(PS_DASHDOT, 1, RGB(255, 0, 0)));
    for (int i = 0; i < 4; ++i) {
      MoveToEx(dc, 8 + 128 * m, 10 + 6 * i, nullptr);
      LineTo(dc, 120 + 128 * m, 10 + 6 * i + 20);
    }
    Use brush(dc, CreateHatchBrush(HS_FDIAGONAL + m, RGB(255, 255, 255)));
    Rectangle(dc, 8 + 128 * m, 60, 120 + 128 * m, 250);
  }
}

void RasterOps(HDC dc) {
  const COLORREF bars[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
  SelectObject(dc, GetStockObject(NULL_PEN));
  for (int i = 0; i < 4; ++i) {
    Use brush(dc, CreateSolidBrush(bars[i]));
    Rectangle(dc, 64 * i, 0, 64 * i + 65, 257);
  }
  Use brush(dc, CreateSolidBrush(RGB(0, 200, 140)));
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(200, 100, 0)));
  for (int r = R2_BLACK; r <= R2_WHITE; ++r) {
    SetROP2(dc, r);
    Rectangle(dc, 16, 16 * (r - 1) + 2, 240, 16 * (r - 1) + 14);
  }
}

void Pixels(HDC dc) {
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if ((x + y) % 3) SetPixel(dc, 8 * x + (y % 8), 8 * y + (x % 8), RGB(8 * x, 8 * y, 255 - 4 * (x + y)));
  for (int i = 0; i < 256; ++i) SetPixelV(dc, i, i, RGB(255, 255, i));
}

// Window and viewport origins and extents; the viewport, the other mapping
// modes and the world transform only in an EMF (in a WMF the player sets the
// viewport).
void Mapping(HDC dc) {
  const bool enhanced = Enhanced(dc);
  Use brush(dc, CreateSolidBrush(RGB(250, 180, 0)));
  Use pen(dc, CreatePen(PS_SOLID, 1, RGB(0, 0, 160)));
  SetMapMode(dc, MM_ANISOTROPIC);
  if (enhanced) {
    SetWindowExtEx(dc, kSide, kSide, nullptr);
    SetViewportExtEx(dc, kSide, kSide, nullptr);
  }
  const POINT arrow[] = {{0, 0}, {60, 10}, {30, 20}, {50, 50}, {10, 30}};
  Polygon(dc, arrow, 5);
  SetWindowOrgEx(dc, -100, -10, nullptr);
  Polygon(dc, arrow, 5);
  SetWindowExtEx(dc, 2 * kSide, 3 * kSide, nullptr);  // half as wide, a third as high
  Polygon(dc, arrow, 5);
  if (!enhanced) return;
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetWindowExtEx(dc, 100, 100, nullptr);
  SetViewportOrgEx(dc, 40, 200, nullptr);
  SetViewportExtEx(dc, 80, -100, nullptr);  // y grows upwards
  Polygon(dc, arrow, 5);
  SetMapMode(dc, MM_ISOTROPIC);
  SetWindowExtEx(dc, 100, 50, nullptr);
  SetViewportExtEx(dc, 60, 60, nullptr);
  SetViewportOrgEx(dc, 150, 60, nullptr);
  Ellipse(dc, 0, 0, 100, 50);
  SetMapMode(dc, MM_LOMETRIC);  // 0.1 mm, y upwards, origin at the viewport's
  SetViewportOrgEx(dc, 130, 250, nullptr);
  Rectangle(dc, 0, 0, 250, 150);
  SetMapMode(dc, MM_TEXT);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  SetGraphicsMode(dc, GM_ADVANCED);
  const XFORM turn = {0.866f, 0.5f, -0.5f, 0.866f, 190.0f, 110.0f};  // 30 degrees
  SetWorldTransform(dc, &turn);
  Rectangle(dc, -40, -20, 40, 20);
  const XFORM shear = {1.0f, 0.0f, 0.6f, 1.0f, 0.0f, 0.0f};
  ModifyWorldTransform(dc, &shear, MWT_LEFTMULTIPLY);
  Ellipse(dc, -30, 22, 30, 50);
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
}

// A 16 x 16 DIB of 24 bits, bottom-up, and one of 8 bits, top-down.
struct Dibs {
  BITMAPINFOHEADER rgbHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  BYTE rgb[16 * 16 * 3];
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[4];
  } indexed = {{sizeof(BITMAPINFOHEADER), 16, -8, 1, 8, BI_RGB, 0, 0, 0, 4, 0},
               {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}}};
  BYTE index[16 * 8];
  Dibs() {
    for (int i = 0; i < 16 * 16 * 3; ++i) rgb[i] = BYTE((i % 3 == 0 ? i / 3 % 16 : i % 3 == 1 ? i / 48 : 8) * 16);
    for (int i = 0; i < 16 * 8; ++i) index[i] = BYTE((i % 16 / 4 + i / 16) % 4);
  }
};

void StretchDibs(HDC dc) {
  const Dibs d;
  const BITMAPINFO* rgb = reinterpret_cast<const BITMAPINFO*>(&d.rgbHeader);
  const BITMAPINFO* indexed = reinterpret_cast<const BITMAPINFO*>(&d.indexed);
  StretchDIBits(dc, 8, 8, 112, 112, 0, 0, 16, 16, d.rgb, rgb, DIB_RGB_COLORS, SRCCOPY);
  StretchDIBits(dc, 136, 8, 112, 56, 0, 0, 16, 8, d.index, indexed, DIB_RGB_COLORS, SRCCOPY);
  StretchDIBits(dc, 248, 72, -112, 48, 0, 0, 16, 16, d.rgb, rgb, DIB_RGB_COLORS, SRCCOPY);  // mirrored
  SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
  Rectangle(dc, 8, 136, 248, 248);
  StretchDIBits(dc, 16, 144, 70, 96, 0, 0, 16, 16, d.rgb, rgb, DIB_RGB_COLORS, SRCINVERT);
  StretchDIBits(dc, 94, 144, 70, 96, 4, 4, 8, 8, d.rgb, rgb, DIB_RGB_COLORS, SRCAND);
  StretchDIBits(dc, 172, 144, 70, 96, 0, 0, 16, 8, d.index, indexed, DIB_RGB_COLORS, SRCPAINT);
}

// BitBlt and StretchBlt from a memory device context holding a bitmap, and
// the raster operations without a source.
void Blits(HDC dc) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  PatBlt(memory, 0, 0, 32, 32, WHITENESS);
  {
    Use brush(memory, CreateSolidBrush(RGB(255, 80, 0)));
    Ellipse(memory, 2, 2, 30, 24);
  }
  SetPixel(memory, 0, 0, RGB(0, 0, 255));
  Use brush(dc, CreateHatchBrush(HS_DIAGCROSS, RGB(0, 120, 0)));
  PatBlt(dc, 0, 128, 256, 128, PATCOPY);
  BitBlt(dc, 8, 8, 32, 32, memory, 0, 0, SRCCOPY);
  StretchBlt(dc, 48, 8, 96, 64, memory, 0, 0, 32, 32, SRCCOPY);
  StretchBlt(dc, 152, 8, 96, 112, memory, 4, 4, 24, 24, NOTSRCCOPY);
  BitBlt(dc, 8, 136, 32, 32, memory, 0, 0, SRCINVERT);
  BitBlt(dc, 48, 136, 32, 32, memory, 0, 0, MERGECOPY);
  StretchBlt(dc, 88, 136, 64, 64, memory, 0, 0, 32, 32, SRCAND);
  PatBlt(dc, 160, 136, 40, 40, DSTINVERT);
  PatBlt(dc, 208, 136, 40, 40, PATINVERT);
  PatBlt(dc, 8, 210, 100, 40, BLACKNESS);
  BitBlt(dc, 120, 210, 128, 40, nullptr, 0, 0, WHITENESS);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

// Text, in colour on what the bitmap holds, so that its ink is all that is
// drawn.
HFONT Font(int height, int escapement, DWORD charset, const char* face) {
  return CreateFontA(height, 0, escapement, escapement, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, face);
}

void TextGb2312(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 230, 0));
  Use font(dc, Font(40, 0, GB2312_CHARSET, "SimSun"));
  const char map[] = "\xb5\xd8\xcd\xbc\xc6\xb4\xba\xcf";  // 地图拼合 in code page 936
  TextOutA(dc, 24, 40, map, 8);
  TextOutA(dc, 24, 150, "Mosalin \xc6\xb4", 10);
}

void TextUtf16(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 255, 255));
  SetTextAlign(dc, TA_CENTER | TA_BASELINE);
  HFONT f = CreateFontW(36, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Arial");
  Use font(dc, f);
  TextOutW(dc, 128, 100, L"Tiles \x62fc\x56fe", 8);  // 拼图
}

void TextExtended(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 120, 255));
  {
    Use font(dc, Font(32, 0, DEFAULT_CHARSET, "Arial"));
    const INT dx[] = {30, 30, 30, 30, 30, 30};
    const RECT clip = {10, 10, 150, 60};
    ExtTextOutW(dc, 16, 20, ETO_CLIPPED, &clip, L"merged", 6, dx);  // the clip cuts the last letters
  }
  Use turned(dc, Font(28, 900, DEFAULT_CHARSET, "Arial"));  // 90 degrees, reading upwards
  ExtTextOutW(dc, 200, 240, 0, nullptr, L"north", 5, nullptr);
}

enum Kinds : unsigned { kEmf = 1, kPlaceable = 2, kPlain = 4 };

struct Case {
  const char* name;
  unsigned kinds;
  bool text;
  void (*draw)(HDC);
};

const Case kCases[] = {
    {"lines", kEmf | kPlaceable | kPlain, false, Lines},
    {"wide-pens", kEmf | kPlaceable, false, WidePens},
    {"extended-pens", kEmf, false, ExtendedPens},
    {"brushes", kEmf | kPlaceable | kPlain, false, Brushes},
    {"polygons", kEmf | kPlaceable, false, Polygons},
    {"shapes", kEmf | kPlaceable | kPlain, false, Shapes},
    {"arcs", kEmf | kPlaceable, false, Arcs},
    {"beziers", kEmf, false, Beziers},
    {"paths", kEmf, false, Paths},
    {"clip-rectangles", kEmf | kPlaceable, false, ClipRectangles},
    {"clip-regions", kEmf, false, ClipRegions},
    {"save-restore", kEmf | kPlaceable, false, SaveRestore},
    {"background", kEmf | kPlaceable, false, Background},
    {"raster-ops", kEmf | kPlaceable, false, RasterOps},
    {"pixels", kEmf | kPlaceable, false, Pixels},
    {"mapping", kEmf | kPlaceable | kPlain, false, Mapping},
    {"stretch-dibs", kEmf | kPlaceable, false, StretchDibs},
    {"blits", kEmf | kPlaceable, false, Blits},
    {"text-gb2312", kEmf | kPlaceable, true, TextGb2312},
    {"text-utf16", kEmf | kPlaceable | kPlain, true, TextUtf16},
    {"text-extended", kEmf | kPlaceable, true, TextExtended},
};

// A path of the ANSI code page as UTF-16, for GDI+.
std::wstring Wide(const std::string& text) {
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), int(wide.size()));
  wide.pop_back();  // the terminator, which c_str() adds back
  return wide;
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

struct Written {
  std::string name, kind;
  bool text;
};

// The frame of an EMF: 256 x 256 pixels of the reference device (the
// screen) in 0.01 mm.
RECT EmfFrame() {
  HDC screen = GetDC(nullptr);
  const RECT frame = {0, 0, MulDiv(kSide * 100, GetDeviceCaps(screen, HORZSIZE), GetDeviceCaps(screen, HORZRES)),
                      MulDiv(kSide * 100, GetDeviceCaps(screen, VERTSIZE), GetDeviceCaps(screen, VERTRES))};
  ReleaseDC(nullptr, screen);
  return frame;
}

bool RecordEmf(const Case& c, const std::string& dir, std::vector<Written>& out) {
  const std::string name = std::string(c.name) + ".emf";
  const RECT frame = EmfFrame();
  HDC dc = CreateEnhMetaFileA(nullptr, (dir + "\\" + name).c_str(), &frame, "Mosalin\0recorded case\0");
  if (!dc) return false;
  c.draw(dc);
  HENHMETAFILE emf = CloseEnhMetaFile(dc);
  if (!emf) return false;
  DeleteEnhMetaFile(emf);
  out.push_back({name, "emf", c.text});
  return true;
}

// One recording in memory, written as a plain WMF and, behind the placeable
// header ([MS-WMF] 2.3.2.3: key, handle 0, bounding box, units per inch,
// reserved, the XOR of the ten words before the checksum), as a placeable
// one.
bool RecordWmf(const Case& c, const std::string& dir, std::vector<Written>& out) {
  HDC dc = CreateMetaFileA(nullptr);
  if (!dc) return false;
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetWindowExtEx(dc, kSide, kSide, nullptr);
  c.draw(dc);
  HMETAFILE wmf = CloseMetaFile(dc);
  if (!wmf) return false;
  std::vector<BYTE> bits(GetMetaFileBitsEx(wmf, 0, nullptr));
  const bool got = !bits.empty() && GetMetaFileBitsEx(wmf, UINT(bits.size()), bits.data()) == bits.size();
  DeleteMetaFile(wmf);
  if (!got) return false;
  if (c.kinds & kPlain) {
    const std::string name = std::string(c.name) + ".wmf";
    if (!WriteBytes(dir + "\\" + name, bits.data(), bits.size())) return false;
    out.push_back({name, "wmf", c.text});
  }
  if (c.kinds & kPlaceable) {
    WORD header[11] = {0xCDD7, 0x9AC6, 0, 0, 0, kSide, kSide, 96, 0, 0, 0};
    for (int i = 0; i < 10; ++i) header[10] ^= header[i];
    std::vector<BYTE> file(reinterpret_cast<BYTE*>(header), reinterpret_cast<BYTE*>(header) + 22);
    file.insert(file.end(), bits.begin(), bits.end());
    const std::string name = std::string(c.name) + "-placeable.wmf";
    if (!WriteBytes(dir + "\\" + name, file.data(), file.size())) return false;
    out.push_back({name, "wmf-placeable", c.text});
  }
  return true;
}

// A few shapes drawn through GDI+'s flat interface into a metafile it
// records itself: EMF+ records, and with `dual` GDI's records beside them.
bool RecordEmfPlus(bool dual, const std::string& dir, std::vector<Written>& out) {
  using namespace Gdiplus;
  using namespace Gdiplus::DllExports;
  const std::string name = dual ? "gdiplus-dual.emf" : "gdiplus-only.emf";
  const std::wstring path = Wide(dir + "\\" + name);
  HDC screen = GetDC(nullptr);
  const GpRectF frame = {0, 0, REAL(kSide), REAL(kSide)};
  GpMetafile* metafile = nullptr;
  const GpStatus recorded = GdipRecordMetafileFileName(path.c_str(), screen, dual ? EmfTypeEmfPlusDual : EmfTypeEmfPlusOnly,
                                                       &frame, MetafileFrameUnitPixel, L"Mosalin", &metafile);
  ReleaseDC(nullptr, screen);
  GpGraphics* g = nullptr;
  if (recorded != Ok || GdipGetImageGraphicsContext(metafile, &g) != Ok) return false;
  GpSolidFill *blue = nullptr, *orange = nullptr;
  GpPen* pen = nullptr;
  GdipCreateSolidFill(0xFF2080C0, &blue);
  GdipCreateSolidFill(0xFFFF9020, &orange);
  GdipCreatePen1(0xFF000000, 3, UnitPixel, &pen);
  GdipFillRectangle(g, blue, 16, 16, 100, 60);
  GdipFillEllipse(g, orange, 130, 20, 110, 90);
  const GpPointF triangle[] = {{20, 240}, {120, 120}, {200, 240}};
  GdipFillPolygon(g, blue, triangle, 3, FillModeAlternate);
  GdipDrawRectangle(g, pen, 140, 130, 100, 100);
  GdipDrawLine(g, pen, 8, 110, 248, 250);
  GdipDeletePen(pen);
  GdipDeleteBrush(blue);
  GdipDeleteBrush(orange);
  GdipDeleteGraphics(g);  // ends the recording
  GdipDisposeImage(metafile);
  out.push_back({name, dual ? "emf-plus-dual" : "emf-plus-only", false});
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: metafile-recorder DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
    std::fprintf(stderr, "GdiplusStartup failed\n");
    return 1;
  }
  std::vector<Written> written;
  for (const Case& c : kCases) {
    if (((c.kinds & kEmf) && !RecordEmf(c, dir, written)) ||
        ((c.kinds & (kPlaceable | kPlain)) && !RecordWmf(c, dir, written))) {
      std::fprintf(stderr, "%s: recording failed (error %lu)\n", c.name, GetLastError());
      return 1;
    }
  }
  if (!RecordEmfPlus(true, dir, written) || !RecordEmfPlus(false, dir, written)) {
    std::fprintf(stderr, "recording through GDI+ failed\n");
    return 1;
  }
  for (const Written& w : written) {
    const std::wstring wide = Wide(dir + "\\" + w.name);
    Gdiplus::GpImage* image = nullptr;
    Gdiplus::REAL width = 0, height = 0;
    Gdiplus::GpStatus s = Gdiplus::DllExports::GdipLoadImageFromFile(wide.c_str(), &image);
    if (s == Gdiplus::Ok) s = Gdiplus::DllExports::GdipGetImageDimension(image, &width, &height);
    if (image) Gdiplus::DllExports::GdipDisposeImage(image);
    if (s == Gdiplus::Ok)
      std::printf("%s %s %s %.9g %.9g\n", w.name.c_str(), w.kind.c_str(), w.text ? "text" : "shapes", width, height);
    else
      std::printf("%s %s %s refused %d\n", w.name.c_str(), w.kind.c_str(), w.text ? "text" : "shapes", int(s));
  }
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
