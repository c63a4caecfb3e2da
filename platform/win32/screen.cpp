#include "screen.h"

#include <cmath>

#include "../rt/units.h"

namespace win32 {

namespace {
// The window's default font where a control has none of its own.
constexpr wchar_t kDefaultFace[] = L"MS Shell Dlg";
constexpr double kDefaultPoints = 8;
}  // namespace

int Screen::Pixels(double twips) const { return rt::TwipsToPixels(twips, dpi); }
double Screen::Twips(int pixels) const { return rt::PixelsToTwips(pixels, dpi); }

RECT Screen::PixelRect(const rt::ControlDef& d) const {
  RECT r;
  r.left = Pixels(d.left);
  r.top = Pixels(d.top);
  r.right = r.left + Pixels(d.width);
  r.bottom = r.top + Pixels(d.height);
  return r;
}

HFONT Screen::MakeFont(const rt::Font& font) const {
  const wchar_t* face = font.face ? font.face : kDefaultFace;
  const double pt = font.face ? font.points : kDefaultPoints;
  LOGFONTW lf{};
  lf.lfHeight = -static_cast<LONG>(std::lround(pt * dpi / 72.0));
  lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = font.italic ? TRUE : FALSE;
  lf.lfCharSet = font.ansi ? ANSI_CHARSET : DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

bool HighContrast() {
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

COLORREF ColourOf(rt::Colour c, rt::Colour otherwise, Ink ink) {
  if (c.IsDefault()) c = otherwise;
  if (c.kind == rt::Colour::Kind::System) return GetSysColor(static_cast<int>(c.value));
  return HighContrast() ? GetSysColor(static_cast<int>(ink)) : c.value;
}

}  // namespace win32
