#include "Percentile.h"

#include <algorithm>

double Percentile(std::vector<double> values, double f) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(f * (values.size() - 1) + 0.5))];
}
