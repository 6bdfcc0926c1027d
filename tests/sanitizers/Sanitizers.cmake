# Sanitizer builds: every test, and every program a test starts (the service, the stream source,
# the watchdog), runs with the options below and the third-party suppressions of this folder.
# ctest includes the generated file before any test runs, so `ctest --test-dir build-asan` is
# enough; options already in the caller's environment come last and win.
#
# NIMBREL_TIME_FACTOR stretches the waits of tests whose programs run this much slower (the
# browser tests' waitFor, their ctest time limit); a value in the caller's environment wins.
set(NIMBREL_TIME_FACTOR 1)
if(NIMBREL_ASAN)
  set(NIMBREL_TIME_FACTOR 2)
  set(_nimbrel_sanitizer_options
    "ASAN_OPTIONS=check_initialization_order=1:strict_init_order=1:detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
elseif(NIMBREL_TSAN)
  set(NIMBREL_TIME_FACTOR 10)
  set(_nimbrel_sanitizer_options
    "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp:second_deadlock_stack=1:print_suppressions=0")
else()
  return()
endif()

set(_nimbrel_sanitizer_script
  "if(NOT DEFINED ENV{NIMBREL_TIME_FACTOR})\n  set(ENV{NIMBREL_TIME_FACTOR} ${NIMBREL_TIME_FACTOR})\nendif()\n")
foreach(_assignment IN LISTS _nimbrel_sanitizer_options)
  string(REGEX MATCH "^[A-Z_]+" _name "${_assignment}")
  string(REGEX REPLACE "^[A-Z_]+=" "" _value "${_assignment}")
  string(APPEND _nimbrel_sanitizer_script
    "if(DEFINED ENV{${_name}})\n"
    "  set(ENV{${_name}} \"${_value}:\$ENV{${_name}}\")\n"
    "else()\n"
    "  set(ENV{${_name}} \"${_value}\")\n"
    "endif()\n")
endforeach()
set(_nimbrel_sanitizer_file ${CMAKE_CURRENT_BINARY_DIR}/SanitizerEnvironment.cmake)
file(WRITE ${_nimbrel_sanitizer_file} "${_nimbrel_sanitizer_script}")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_nimbrel_sanitizer_file})
