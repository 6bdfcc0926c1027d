#pragma once
// The AV library's stream record, with its layout pinned: the library reads it by offset.
#include <cstddef>

#include "vxavplayer/include/VXAVPlayer.h"

static_assert(sizeof(StreamDescription) == 28, "StreamDescription is 28 bytes");
static_assert(offsetof(StreamDescription, videoCodec) == 0);
static_assert(offsetof(StreamDescription, audioCodec) == 2);
static_assert(offsetof(StreamDescription, frameRate) == 4);
static_assert(offsetof(StreamDescription, bitRate) == 6);
static_assert(offsetof(StreamDescription, width) == 8);
static_assert(offsetof(StreamDescription, height) == 10);
static_assert(offsetof(StreamDescription, frameType) == 12);
static_assert(offsetof(StreamDescription, secondFrame) == 14);
static_assert(offsetof(StreamDescription, kind) == 16);
static_assert(offsetof(StreamDescription, streamMode) == 18);
static_assert(offsetof(StreamDescription, frameTime) == 20);
static_assert(offsetof(StreamDescription, reserved) == 24);
