#include "window/scale_factor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace app {
namespace {

constexpr double kDesignDpi = 96.0;  // the density the window's geometry is drawn for
constexpr double kLargestFactor = 4.0;

}  // namespace

std::optional<double> PositiveNumber(const char* text) {
  if (text == nullptr) return std::nullopt;
  double value = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || !(value > 0) || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

double ScaleFactorFor(const char* scalingFactor, std::optional<double> xftDpi) {
  double factor = 1;
  if (std::optional<double> given = PositiveNumber(scalingFactor)) {
    factor = *given;
  } else if (xftDpi && *xftDpi > 0) {
    factor = *xftDpi / kDesignDpi;
  }
  return std::clamp(std::round(factor * 4) / 4, 1.0, kLargestFactor);
}

}  // namespace app
