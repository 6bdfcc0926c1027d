#pragma once
// Read-only access to string values of the local machine's registry. Any thread.
//
// Linux has no registry: every read answers "absent", unless the environment variable
// NIMBREL_TEST_REGISTRY names a file of injected values, read anew at every call:
//   [SOFTWARE\Vendor\Key]
//   ValueName=text
// Key paths and value names match without regard to letter case, as on Windows.
#include <optional>
#include <string>

namespace platform::system {

inline constexpr const char* kTestRegistryVariable = "NIMBREL_TEST_REGISTRY";

// The string value, or empty when the key or value is missing (or not a plain string).
std::optional<std::string> ReadMachineRegistryString(const std::string& keyPath,
                                                     const std::string& valueName);

}  // namespace platform::system
