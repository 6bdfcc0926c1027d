#include "platform/display/VideoOutput.h"

#include <atomic>

namespace platform::display {

namespace {
std::atomic<IVideoOutput*> g_output{nullptr};
}

void SetVideoOutput(IVideoOutput* output) { g_output.store(output); }
IVideoOutput* GetVideoOutput() { return g_output.load(); }

}  // namespace platform::display
