#include "units.h"

#include <cmath>

namespace rt {

int TwipsToPixels(double twips, int dpi) {
  const double px = twips * dpi / kTwipsPerInch;
  if (!std::isfinite(px)) return 0;
  if (px > 1e9) return 1000000000;
  if (px < -1e9) return -1000000000;
  return static_cast<int>(std::lround(px));
}

double PixelsToTwips(double pixels, int dpi) {
  return dpi > 0 ? pixels * kTwipsPerInch / dpi : 0.0;
}

bool CentreOnScreen(double screenWidth, double screenHeight, double windowWidth, double windowHeight,
                    Position& out) {
  const double top = screenHeight / 2 - windowHeight / 2;
  if (!std::isfinite(top)) return false;
  const double left = screenWidth / 2 - windowWidth / 2;
  if (!std::isfinite(left)) return false;
  out.top = top;
  out.left = left;
  return true;
}

}  // namespace rt
