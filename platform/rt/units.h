// Twips (1440 per inch) and pixels at the screen's real DPI, and window centring.
#pragma once

namespace rt {

constexpr int kTwipsPerInch = 1440;

// Nearest pixel for a twips coordinate or length; halves round away from zero.
int TwipsToPixels(double twips, int dpi);
double PixelsToTwips(double pixels, int dpi);

struct Position {
  double left;
  double top;
};

// Places a window of the given outer size in the middle of the screen, all in twips:
// top first, then left. Returns false, and leaves `out` untouched, when the arithmetic gives no
// finite position (a NaN or infinite input): the window then stays where it was.
bool CentreOnScreen(double screenWidth, double screenHeight, double windowWidth, double windowHeight,
                    Position& out);

}  // namespace rt
