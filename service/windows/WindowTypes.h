#pragma once
// The zoom and drag rectangles live beside IEvent, whose operations carry them.
#include "service/events/PaneRects.h"
