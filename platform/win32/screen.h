// What every window of the program shares: the module that holds the resources, the screen's
// resolution and the screen readers' services, with the conversions from the definitions' twips, fonts and colours to pixels, GDI
// fonts and RGB values.
#pragma once

#include <windows.h>

#include "../rt/definitions.h"

namespace win32 {

class Accessibility;

struct Screen {
  HINSTANCE instance = nullptr;
  int dpi = 96;
  Accessibility* accessibility = nullptr;  // owned by the backend; none in some checks

  int Pixels(double twips) const;
  double Twips(int pixels) const;
  // A length given in pixels at 96 DPI, at this resolution.
  int Scaled(int pixelsAt96) const { return MulDiv(pixelsAt96, dpi, 96); }
  RECT PixelRect(const rt::ControlDef& d) const;
  // A new font, owned by the caller; the default font of the definitions for an empty one.
  HFONT MakeFont(const rt::Font& font) const;
};

COLORREF ColourOf(rt::Colour c, COLORREF fallback);

}  // namespace win32
