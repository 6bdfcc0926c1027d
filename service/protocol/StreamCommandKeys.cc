// Keys of the stream, playback, recording, zoom, download and talk commands.
#include "common/JsonText.h"
#include "service/protocol/CommandKeys.h"

namespace {
// Coders and sizes of a stream into a request or a multi-play item.
template <class Target>
void ReadPlayParam(const KeyReader& owner, Target& t) {
  KeyReader p = owner.Object("playParam");
  t.videoCoder = p.Int("videoCoder");
  t.audioCoder = p.Int("audioCoder");
  t.frameRate = p.Int("frameRate");
  t.bitRate = p.Int("bitRate");
  t.videoWidth = p.Int("width");
  t.videoHeight = p.Int("height");
}

void StartPlay(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader rj = RequestData(ReadRequestJson(data, r));
  r.url = data.String("url");
  r.wndIndex = data.Int("wndIndex");
  ReadPlayParam(data, r);
  r.channel = rj.OptInt("channel").value_or(0);
  r.speed = rj.OptInt("speed");
  r.sessionID = rj.String("sessionID");
  r.dxva = data.OptBool("dxva").value_or(false);
}

// An element of data.param, or nothing when param is not an array.
template <class Read>
void ForEachParamItem(const KeyReader& data, Read read) {
  const rapidjson::Value* param = data.Find("param");
  if (!param || !param->IsArray()) return;
  for (const rapidjson::Value& element : param->GetArray()) read(KeyReader(&element));
}

void StartMultiPlay(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.url = data.String("url");
  ForEachParamItem(data, [&r](const KeyReader& e) {
    MultiPlayItem item;
    item.requestJson = WriteCompactJson(e.Value("requestJson"));
    item.wndIndex = e.Int("wndIndex");
    ReadPlayParam(e, item);
    item.dxva = e.OptBool("dxva").value_or(false);
    r.multiPlay.push_back(std::move(item));
  });
}

void StartMultiRecord(const KeyReader& root, CommandRequest& r) {
  ForEachParamItem(Data(root), [&r](const KeyReader& e) {
    r.multiRecord.push_back({e.String("fileName"), e.Int("channel"), e.Int("wndIndex")});
  });
}

void StopPlay(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  ReadRequestJson(data, r);
  r.channel = data.Int("channel");
}

void PlaybackPane(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  ReadRequestJson(data, r);
  r.wndIndex = data.Int("wndIndex");
}

void SeekPlayback(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader q = RequestData(ReadRequestJson(data, r));
  r.wndIndex = data.Int("wndIndex");
  if (q.Exists()) r.seekTime = q.String("seekTime");
}

void PlaybackSpeed(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader q = RequestData(ReadRequestJson(data, r));
  r.wndIndex = data.Int("wndIndex");
  if (q.Exists()) r.speed = q.Int("speed");
}

void RequestOnly(const KeyReader& root, CommandRequest& r) { ReadRequestJson(Data(root), r); }

void PaneQuery(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.wndIndex = data.Int("wndIndex");
  r.stream = data.IntIfTyped("stream");
  r.speed = data.IntIfTyped("speed");
  if (auto callback = data.StringIfTyped("callback")) r.callback = *callback;
}

void CaptureOrRecord(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.wndIndex = data.Int("wndIndex");
  r.fileName = data.String("fileName");
  if (auto channel = data.OptInt("channel")) r.channel = *channel;
  r.platform = data.OptInt("platform");
}

void StopRecord(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  if (auto channel = data.OptInt("channel")) {
    r.channel = *channel;
  } else {
    r.wndIndex = data.Int("wndIndex");
  }
  r.platform = data.OptInt("platform");
}

void StartDownload(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader q = RequestData(ReadRequestJson(data, r));
  r.url = data.String("url");
  r.fileName = data.String("fileName");
  if (q.Exists()) {
    r.startTime = q.String("startTime");
    r.endTime = q.String("endTime");
  }
  r.fileSize = q.Has("fileSize") ? q.String("fileSize") : data.String("fileSize");
  if (auto id = q.OptString("id")) r.downloadId = *id;
}

// Another name leaves the coder unset; the talk channel refuses it.
std::optional<int32_t> AudioCoderOfName(const rapidjson::Value& name) {
  static const struct {
    const char* name;
    int32_t coder;
  } kNames[] = {{"G711A", 1}, {"G711U", 2}, {"AAC", 39}, {"MP2L2", 22}};
  for (const auto& n : kNames) {
    if (name == n.name) return n.coder;
  }
  return std::nullopt;
}

void StartTalk(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  KeyReader rj = RequestData(ReadRequestJson(data, r));
  r.url = data.String("url");
  if (auto channel = rj.OptInt("channel")) r.channel = *channel;
  const rapidjson::Value& encodeType = rj.Value("encodeType");
  if (encodeType.IsString()) {
    r.audioCoder = AudioCoderOfName(encodeType);
  } else if (encodeType.IsInt()) {
    r.audioCoder = encodeType.GetInt();
  } else {
    throw KeyError{};
  }
}

void PtzRate(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.rate = data.String("rate");
  r.channel = data.Int("channel");
}

void DigitalZoom(const KeyReader& root, CommandRequest& r) {
  KeyReader data = Data(root);
  r.wndIndex = data.Int("wndIndex");
  r.coordinateX = data.Float("coordinateX");
  r.coordinateY = data.Float("coordinateY");
  r.penWidth = data.Int("penWidth");
  r.penColor = data.String("penColor");
}

void BitRate(const KeyReader& root, CommandRequest& r) { r.channel = Data(root).Int("channel"); }
}  // namespace

void AddStreamCommandKeys(CommandKeyTable& table) {
  table["startPlay"] = StartPlay;
  table["startPlayBack"] = StartPlay;
  table["startMultiPlay"] = StartMultiPlay;
  table["startMultiPlayBack"] = StartMultiPlay;
  table["startMultiRecord"] = StartMultiRecord;
  table["stopPlay"] = StopPlay;
  for (const char* name : {"stopPlayBack", "pausePlayBack", "resumePlayBack"}) table[name] = PlaybackPane;
  table["seekPlayBack"] = SeekPlayback;
  table["setPlaybackSpeed"] = PlaybackSpeed;
  table["stopDownload"] = RequestOnly;
  table["stopTalk"] = RequestOnly;
  for (const char* name : {"openSound", "enableZoom", "disableZoom", "getOSDTime", "getDigitalZoom",
                           "closeDigitalZoom"})
    table[name] = PaneQuery;
  table["capture"] = CaptureOrRecord;
  table["startRecord"] = CaptureOrRecord;
  table["stopRecord"] = StopRecord;
  table["startDownload"] = StartDownload;
  table["startTalk"] = StartTalk;
  table["setDrawPTZRate"] = PtzRate;
  table["setDigitalZoom"] = DigitalZoom;
  table["getBitRate"] = BitRate;
}
