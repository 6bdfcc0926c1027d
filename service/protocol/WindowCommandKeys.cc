// Keys of the window group commands.
#include "service/protocol/CommandKeys.h"

namespace {
void RectAndStyle(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader rect = data.Object("rect");
  r.left = rect.Int("left");
  r.top = rect.Int("top");
  r.width = rect.Int("width");
  r.height = rect.Int("height");
  r.bodyHeight = rect.OptInt("bodyHeight").value_or(0);
  KeyReader style = data.OptObject("style");
  if (!style.Exists()) return;
  r.wndColor = style.String("wndColor");
  r.borderColor = style.String("borderColor");
  r.highlightColor = style.String("highlightColor");
  r.borderPixel = style.Int("borderPixel");
  r.highlightPixel = style.Int("highlightPixel");
}

void ArrangeType(const KeyReader& root, CommandRequest& r) {
  r.arrangeType = Data(root).Int("arrangeType");
}

void RatioType(const KeyReader& root, CommandRequest& r) { r.ratioType = Data(root).Int("ratioType"); }

void CorridorMode(const KeyReader& root, CommandRequest& r) {
  r.corridorMode = Data(root).Bool("status");
}

void CutSize(const KeyReader& root, CommandRequest& r) {
  KeyReader rect = Data(root).Object("rect");
  r.cutWidth = rect.Int("width");
  r.cutHeight = rect.Int("height");
}
}  // namespace

void AddWindowCommandKeys(CommandKeyTable& table) {
  table["createWnd"] = RectAndStyle;
  table["moveWnd"] = RectAndStyle;
  table["arrangeWnd"] = ArrangeType;
  table["setWndRatio"] = RatioType;
  table["corridorModeStatus"] = CorridorMode;
  table["cuttingPartWnd"] = CutSize;
}
