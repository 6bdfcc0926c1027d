#pragma once
// Figures a benchmark hands to scripts/bench.sh: one flat JSON object of named numbers.
#include <map>
#include <string>

using JsonFigures = std::map<std::string, double>;

// Writes `figures` to `path` as {"name": number, ...}; a figure that is not finite is written as
// null (it was not measured). False when the file cannot be written.
bool WriteJsonFigures(const std::string& path, const JsonFigures& figures);
