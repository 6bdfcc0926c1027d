#pragma once
#include <vector>

// The value at fraction `f` (0..1) of the sorted values, nearest rank; 0 for none.
double Percentile(std::vector<double> values, double f);
