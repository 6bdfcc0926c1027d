#pragma once
// Where recordings, snapshots and downloads go: the page names a full path; these rules clean
// it, keep it inside the folder it names, make that folder and pick a free name tagged with the
// stream's codecs. Paths are UTF-8. Pure functions apart from the file-system look-ups noted;
// any thread.
#include <cstdint>
#include <string>

#include "service/media/StreamDescriptionLayout.h"

// Colons in a path. With drive letters (Windows) the first ':' stays and every later one becomes
// '.'; without them (Linux) every ':' becomes '.', since no ':' there belongs to a drive. The rule
// for files written and for the folder the page asks to open.
std::string CleanPathColons(const std::string& path);

// The folder of `path`: up to and including its last '\\' or '/'; "" when there is none.
std::string MediaFolderOf(const std::string& path);

// A path the service may write: given in full, with a file name after its folder, and without
// a ".." part, so nothing leads out of the folder the page named.
bool IsAcceptableMediaPath(const std::string& path);

// What a page may have the desktop open: an existing folder, or a file of a kind this service
// writes (pictures and video), judged after links are resolved. Anything else (a program, a
// script, a launcher entry) could run when "opened".
bool IsSafeToOpen(const std::string& path);

// File name tags of the library codec codes ("_H264", "_G711A"...); "" for codes without one.
std::string VideoCodecTag(int videoCodec);
std::string AudioCodecTag(int audioCodec);

// `path` with the codec tags of `description` before the extension of its file name (at the end
// of a name without '.'), and, when a file or link of that name exists, "(2)", "(3)"... there
// too: the first free name. Empty when no free name is found, or a name cannot be looked up
// (too long, a folder that may not be searched).
std::string MakeMediaFileName(const std::string& path, const StreamDescription& description);

// Creates the folders of a cleaned, acceptable path; 0 or -1.
int MakeMediaFolder(const std::string& path);

// Whether the volume of the nearest existing folder of `path` has room for a recording (more
// than 512 MiB free to this user).
bool HasRoomToRecord(const std::string& path);
