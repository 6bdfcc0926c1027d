#pragma once
#include <string>

// Creates every missing folder along `path`, split at '\\' or '/'. The part after the last
// separator is taken as a file name and not created. 0 on success; -1 when a folder cannot be
// made or the text has no separator.
int MakeDirectoryPath(const std::string& path);
