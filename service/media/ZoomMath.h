#pragma once
// Digital zoom arithmetic: a selection made in a window narrows the part of the picture shown.
// Pure; any thread.
#include <optional>

#include "platform/display/Display.h"

// Corners put in order (left <= right, top <= bottom).
platform::display::Rect OrderedRect(const platform::display::Rect& rect);

// The part of the picture a selection of a window `windowWidth` x `windowHeight` shows when the
// window currently shows `shown` (picture pixels): zooming nests. None when the result would be
// under 5 picture pixels wide or high, or when `shown` is empty.
std::optional<platform::display::Rect> NestedZoom(const platform::display::Rect& shown,
                                                  const platform::display::Rect& selection, int windowWidth,
                                                  int windowHeight);
