#pragma once
#include <string>

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters, upper-case, random (version 4).
std::string MakeGuidText();
