#pragma once
// Rectangles a window group hands to the server with mouse and zoom events (see IEvent.h), and
// that play channels take for their zoom.
#include <cstdint>

// Digital-zoom rectangle of one pane, pane client coordinates.
struct ZoomRect {
  std::int32_t left = 0;
  std::int32_t right = 0;
  std::int32_t top = 0;
  std::int32_t bottom = 0;
  std::int32_t curX = 0;  // last mouse point
  std::int32_t curY = 0;
  std::int32_t startX = 0;  // previous mouse point
  std::int32_t startY = 0;
  bool dragging = false;
};

// Start and current point of the current mouse drag, pane client coordinates.
struct DragRect {
  std::int32_t startX = 0;
  std::int32_t startY = 0;
  std::int32_t curX = 0;
  std::int32_t curY = 0;
};
