#pragma once
#include <string>

// A name from section "Info" of the configuration file, cut as its 50-character buffer cuts
// it; empty when missing.
std::string ReadInfoName(const char* key, const std::string& configPath);
