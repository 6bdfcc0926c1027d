#pragma once
// Command line of nimbrel-source.

#include <optional>
#include <string>

namespace source {

struct Options {
    int port = 0;
    std::optional<int> tlsPort;
    std::string cert;
    std::string key;
    std::string file;
    int threads = 2;
    bool help = false;
};

// On failure returns empty and sets `error`.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);
const char* UsageText();

}  // namespace source
