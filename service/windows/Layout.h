#pragma once
// The layout arithmetic of a window group: pane counts, sizes and positions for every
// arrangeType, the cut-out region, the digital-zoom rectangle and the full-screen video area.
// Pure functions; any thread.
#include <vector>

#include "platform/display/Display.h"
#include "service/windows/WindowTypes.h"

namespace layout {

using platform::display::Point;
using platform::display::Rect;

constexpr int kPaneCount = 64;

struct Shape {
  int paneCount = 1;
  int columns = 1;
};

// False for arrangeTypes no layout exists for (0, negatives, plain counts above 64).
bool IsValidArrangeType(int arrangeType);
Shape ShapeOf(int arrangeType);

struct PaneSize {
  int width = 0;
  int height = 0;
};
// Size of pane i in a W x H container; the big panes of the special layouts are larger.
PaneSize GetPaneSize(int arrangeType, int columns, int i, int W, int H);
// Top-left of pane i (before the one-pixel border adjustments of PlacedRect).
Point GetPanePos(int arrangeType, int columns, int i, int W, int H);
// Where the pane window goes: off the container's edge by one pixel, inside it.
Rect PlacedRect(int arrangeType, int columns, int i, int W, int H);
// The frame drawn around pane i.
Rect FrameRect(int arrangeType, int columns, int i, int W, int H);
// The frame of the selected pane, kept inside the container.
Rect ClippedFrame(const Rect& frame, int W, int H);

// The container's outline without a cutW x cutH rectangle at its bottom right.
std::vector<Point> CutPolygon(int W, int H, int cutW, int cutH);
std::vector<Point> FullPolygon(int W, int H);

// Half-size zoom rectangle whose top-left is at (zoomX, zoomY) percent of the pane.
void ZoomFromPercent(int paneWidth, int paneHeight, float zoomX, float zoomY, ZoomRect* zoom);
// Moves the zoom rectangle by (dx, dy) when it stays inside the pane (each axis on its own).
void DragZoom(int paneWidth, int paneHeight, int dx, int dy, ZoomRect* zoom);

// ratioTypes: 0 fills the screen, 1 and 4 are 32:9, 2 is 4:3, 3 is 16:9; anything else fills the
// screen as 0 does (a ratio of 0 would make the area zero pixels wide).
float RatioOf(int ratioType);
// The video area of a pane shown full screen on a W x H primary screen, screen coordinates.
Rect FullScreenVideoRect(int W, int H, int monitorLeft, int monitorTop, int ratioType, bool corridorMode);

}  // namespace layout
