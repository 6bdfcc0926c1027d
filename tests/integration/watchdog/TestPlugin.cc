// Registration appends the plug-in's tag to the file NIMBREL_TEST_PLUGIN_LOG names and
// answers NIMBREL_TEST_PLUGIN_RESULT (default 0).
#include <cstdint>
#include <cstdlib>
#include <fstream>

#ifndef PLUGIN_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer() {
  if (const char* log = std::getenv("NIMBREL_TEST_PLUGIN_LOG")) std::ofstream(log, std::ios::app) << PLUGIN_TAG "\n";
  const char* result = std::getenv("NIMBREL_TEST_PLUGIN_RESULT");
  return result ? std::atoi(result) : 0;
}
#else
extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 0; }
#endif
