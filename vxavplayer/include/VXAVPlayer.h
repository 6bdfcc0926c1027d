/* The AV library: decodes, renders, records and captures. C linkage; 32-bit handles where -1 or
 * 0 mean none; every function returns 0 on success and a negative code on failure. Any thread
 * may call; callbacks arrive on the library's own threads. */
#ifndef VXAVPLAYER_H
#define VXAVPLAYER_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t VX_HANDLE;

/* Return codes. */
#define VX_OK 0
#define VX_ERR_GENERIC (-1)
#define VX_ERR_HANDLE (-2)
#define VX_ERR_PARAM (-3)
#define VX_ERR_CODEC (-4)
#define VX_ERR_FILE (-5)
#define VX_ERR_STATE (-6)
#define VX_ERR_NOMEM (-7)
#define VX_ERR_BUFFER_FULL (-8) /* cannot take the frame now: retry */

/* Codec codes as the service hands them over. */
#define VX_CODEC_H264 96
#define VX_CODEC_H265 150
#define VX_CODEC_MJPEG 26
#define VX_CODEC_G711A 1
#define VX_CODEC_G711U 2
#define VX_CODEC_AAC 21
#define VX_CODEC_AAC_8K 33
#define VX_CODEC_AAC_16K 34
#define VX_CODEC_AAC_32K 37
#define VX_CODEC_MP2 22
#define VX_CODEC_AAC_TALK 39 /* AAC as the talk command names it ("AAC") */

/* Stream modes (StreamDescription.streamMode). */
#define VX_MODE_PLAYBACK 0
#define VX_MODE_LIVE 4

#pragma pack(push, 1)
/* 28 bytes: describes a stream when opening it, and each frame fed to it. */
typedef struct StreamDescription {
  uint16_t videoCodec;  /* 0 */
  uint16_t audioCodec;  /* 2 */
  uint16_t frameRate;   /* 4 */
  uint16_t bitRate;     /* 6: from the start command, passed through */
  uint16_t width;       /* 8 */
  uint16_t height;      /* 10 */
  uint16_t frameType;   /* 12 */
  uint16_t secondFrame; /* 14: frames: 1 when frameType is 0 */
  uint16_t kind;        /* 16: 0 video, 1 audio */
  uint16_t streamMode;  /* 18: VX_MODE_PLAYBACK or VX_MODE_LIVE */
  uint32_t frameTime;   /* 20 */
  uint32_t reserved;    /* 24: 0 */
} StreamDescription;
#pragma pack(pop)

/* A crop rectangle in picture pixels (right and bottom exclusive). */
typedef struct VX_RECT {
  int32_t left, top, right, bottom;
} VX_RECT;

/* Window handles are the display layer's window ids (X11 window ids on Linux, HWND on Windows). */
typedef uintptr_t VX_WINDOW;

/* After each presented frame; `canvas` is a platform::display canvas over the window for drawing
 * an overlay, valid only during the call. Runs on the stream's decode thread (or the caller's,
 * for VX_Refresh); it must not call VX_Refresh of its own stream. */
typedef void (*VX_DrawCallBack)(int32_t reserved, void* canvas, void* user);

/* For each decoded frame, on the stream's decode thread. `info` points at uint32_t words: [0] width,
 * [1] height, [2] frame time (of the fed frame the picture came from), [3] kind (0 video, 1 audio).
 * Video: `data` is the picture's luma plane, `size` its bytes (row stride x height). Audio: `data`
 * is 16-bit interleaved PCM, `size` its bytes; width and height are 0. */
typedef void (*VX_DecodeCallBack)(VX_HANDLE handle, const uint8_t* data, int32_t size, int32_t width,
                                  int32_t height, int32_t reserved, const uint32_t* info, void* user);

/* Once, when a recording ends by itself because its file takes no more (a full disk, a failed
 * write): `code` is VX_ERR_FILE; what was written before stays playable. On the stream's decode
 * thread, outside the library's locks; it must not close its own stream. */
typedef void (*VX_RecordCallBack)(VX_HANDLE handle, int32_t code, void* user);

/* For each encoded capture block. */
typedef void (*VX_AVDataCallBack)(int32_t reserved, const uint8_t* data, int32_t length, int32_t reserved2,
                                  void* user);

int32_t VX_OpenStream(const StreamDescription* description, VX_HANDLE* handle, VX_WINDOW window,
                      uint8_t dxva);
int32_t VX_Play(VX_HANDLE handle, VX_WINDOW window, int32_t reserved);
int32_t VX_SetDrawCallBack(VX_HANDLE handle, VX_DrawCallBack callback, void* user);
int32_t VX_SetDecodeCallBack(VX_HANDLE handle, VX_DecodeCallBack callback, void* user);
int32_t VX_InputData(VX_HANDLE handle, const uint8_t* data, int32_t size, const StreamDescription* frame,
                     int32_t reserved);
/* `buffered` = frames still waiting to be decoded or shown (0 = drained). */
int32_t VX_GetVideoBufferInfo(VX_HANDLE handle, int32_t* decoded, int32_t* buffered, int32_t* shown);
/* Holds the picture; fed frames stay buffered (VX_InputData answers -8 once the buffer is full). */
int32_t VX_Pause(VX_HANDLE handle, int32_t pause);
/* Playback pace, read as stream sources read the same value: 0, 1 and -1 normal; n > 1 is n times
 * faster (up to 16); n < -1 is |n| times slower (-2: half speed, down to -16). Live streams are
 * never paced. */
int32_t VX_SetSpeed(VX_HANDLE handle, int32_t speed);
int32_t VX_OpenSound(VX_HANDLE handle);
int32_t VX_CloseSound(VX_HANDLE handle);
/* Remuxes the stream (no video re-encoding) into the container the extension names (mp4, mov, mkv,
 * ts, avi, flv), from the next key frame on. Audio is copied when the container takes its codec,
 * else encoded as AAC. MP4 and MOV are fragmented, so a file cut short still plays. A recording
 * that sees no key frame leaves no file; a link at the path is refused (VX_ERR_FILE). */
int32_t VX_StartRecord(VX_HANDLE handle, const char* utf8Path, void* reserved, int32_t frameRate);
int32_t VX_StopRecord(VX_HANDLE handle);
int32_t VX_SetRecordCallBack(VX_HANDLE handle, VX_RecordCallBack callback, void* user);
/* The last decoded picture at its own size; .jpg/.jpeg, .png or .bmp. */
int32_t VX_SnapshotW(VX_HANDLE handle, const wchar_t* path, int32_t reserved);
int32_t VX_ShowRect(VX_HANDLE handle, const VX_RECT* rect);
int32_t VX_Refresh(VX_HANDLE handle);
int32_t VX_CloseStream(VX_HANDLE handle);

int32_t VX_OpenStreamRecord(const char* utf8Path, const StreamDescription* description, VX_HANDLE* handle);
int32_t VX_InputRecordData(VX_HANDLE handle, const uint8_t* data, int32_t size,
                           const StreamDescription* frame);
int32_t VX_CloseStreamRecord(VX_HANDLE handle);

/* Microphone through PulseAudio (no blocks come when there is none), or a 440 Hz tone when the
 * environment has NIMBREL_CAPTURE=tone. Blocks: G.711 20 ms, AAC as ADTS frames, MP2 frames. */
int32_t VX_OpenCaptureSound(VX_HANDLE* handle, int32_t codec, int32_t sampleRate, int32_t bitsPerSample,
                            int32_t channels);
int32_t VX_SetAVDataCallBack(VX_HANDLE handle, VX_AVDataCallBack callback, void* user);
int32_t VX_StartCaptureSound(VX_HANDLE handle);
int32_t VX_StopCaptureSound(VX_HANDLE handle);
int32_t VX_CloseCaptureSound(VX_HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif
