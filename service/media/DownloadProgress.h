#pragma once
// Download progress as the page sees it, in percent. Never 100: only the source's end-of-data
// code says a download is complete. Pure functions; any thread.
#include <cstdint>
#include <string>

constexpr int kProgressBeforeEnd = 99;

// A whole-file download: bytes written so far against the total size the page gave (decimal
// text). A total of 0, negative or not a number gives 0, never a division by zero.
int WholeFileProgress(std::uint64_t written, const std::string& totalSizeText);

// A download of frames: the frame time against the request's start and end times (decimal
// texts). Before the start 0; start equal to end 99 (the end itself is the source's to say).
int FrameTimeProgress(std::uint32_t frameTime, const std::string& startText, const std::string& endText);
