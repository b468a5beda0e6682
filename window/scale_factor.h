// The one factor every coordinate and font of the window is multiplied by, from the
// desktop's settings.
#pragma once

#include <optional>

namespace app {

// scalingFactor is FLTK_SCALING_FACTOR (nullptr when unset): a number there wins;
// otherwise the X resource Xft.dpi over 96, as desktops set it for a screen of high
// density. Rounded to a quarter, between 1 and 4; 1 without either, or with a text that
// is no number.
double ScaleFactorFor(const char* scalingFactor, std::optional<double> xftDpi);

// A whole text that is a finite positive number; nullopt for anything else.
std::optional<double> PositiveNumber(const char* text);

}  // namespace app
