#include "Constants.h"

#include <cmath>
#include <limits>

#include "../platform/files.h"
#include "../platform/rt/decimal.h"
#include "../platform/rt/runtime.h"
#include "../platform/setupkit.h"
#include "../platform/text.h"

namespace install {

namespace {
// Halves go to the even neighbour (the default floating-point rounding mode).
double RoundHalfEven(double v) { return std::nearbyint(v); }
}  // namespace

std::wstring Constants::CopyTarget(const ManifestRow& row) const {
  std::wstring target = DestPath;
  if (row.folder == Folder::Data) target += std::wstring(DataFolder) + L"\\";
  return target + row.dest;
}

void Constants::ShowCopyStatus(rt::Control& sourceLabel, rt::Control& destLabel, const std::wstring& source,
                               const std::wstring& dest) {
  sourceLabel.SetCaption(platform::UpperCase(SourcePath + source));
  sourceLabel.Refresh();
  destLabel.SetCaption(platform::UpperCase(DestPath + dest));
  destLabel.Refresh();
}

int64_t Constants::SourceFileLength(const std::wstring& name) {
  const uint64_t length = files_.FileLength(name);
  // Lengths beyond what the gauge arithmetic needs are held at the largest signed value.
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(length > kMax ? kMax : length);
}

void Constants::UpdateGauge(rt::Control& gauge, int64_t bytes) {
  gaugePercent_ = GaugeAdvance(gaugePercent_, bytes);

  gauge.Cls();
  const double w = gauge.ScaleWidth();
  const double h = gauge.ScaleHeight();
  gauge.FillBox(0, 0, GaugeBarRight(gaugePercent_, w), h, rt::Colour::Rgb(GaugeRed, 0, 0));

  const std::wstring text = GaugeText(gaugePercent_);
  const auto x = static_cast<long long>(RoundHalfEven(w - gauge.TextWidth(text))) / 2;
  const auto y = static_cast<long long>(RoundHalfEven(h - gauge.TextHeight(text))) / 2;
  gauge.CurrentX = static_cast<double>(x);
  gauge.CurrentY = static_cast<double>(y);
  gauge.Print(text);
}

float GaugeAdvance(float percent, int64_t bytes) {
  const float increment = static_cast<float>(static_cast<double>(bytes) / GaugeTotalBytes * 100.0);
  const float sum = percent + increment;
  return sum > 100 ? 100 : sum;
}

float GaugeBarRight(float percent, double scaleWidth) {
  const float perPercent = static_cast<float>(scaleWidth / 100);
  return percent * perPercent;
}

std::wstring GaugeText(float percent) {
  return rt::Decimal(static_cast<long long>(RoundHalfEven(percent))) + L"%";
}

int32_t Constants::fCreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                                    const std::wstring& arguments) {
  return setupKit_.CreateShellLink(folder, name, target, arguments);
}

}  // namespace install
