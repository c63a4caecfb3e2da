// What every window of the program shares: the module that holds the resources, the screen's
// resolution and the screen readers' services, with the conversions from the definitions' twips,
// fonts and colours to pixels, GDI fonts and the colours of the user's settings.
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

// What a colour paints, and so the system colour that a fixed colour gives way to when high
// contrast is on.
enum class Ink { Window = COLOR_WINDOW, WindowText = COLOR_WINDOWTEXT, Highlight = COLOR_HIGHLIGHT,
                 HighlightText = COLOR_HIGHLIGHTTEXT };

// Whether the user has high contrast on, now.
bool HighContrast();

// The colour to paint with: `c`, or `otherwise` where `c` is the default. A system colour is the
// one of the user's scheme now; a fixed colour is itself, except with high contrast on, where it
// gives way to the system colour for its `ink`.
COLORREF ColourOf(rt::Colour c, rt::Colour otherwise, Ink ink);

}  // namespace win32
