#include "JsonFigures.h"

#include <cmath>
#include <cstdio>
#include <fstream>

bool WriteJsonFigures(const std::string& path, const JsonFigures& figures) {
  std::ofstream out(path);
  out << "{";
  const char* separator = "\n";
  for (const auto& [name, value] : figures) {
    char number[64];
    if (std::isfinite(value)) std::snprintf(number, sizeof number, "%.6g", value);
    else std::snprintf(number, sizeof number, "null");
    out << separator << "  \"" << name << "\": " << number;
    separator = ",\n";
  }
  out << "\n}\n";
  return static_cast<bool>(out);
}
