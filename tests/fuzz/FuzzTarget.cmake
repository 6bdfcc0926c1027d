# nimbrel_add_fuzz(NAME SOURCES a.cc LIBS x y)
# With clang the target is a libFuzzer fuzzer; with other compilers ReplayMain.cc runs the files
# (or folders) it is given once each. Either way CTest replays the committed seeds in
# seeds/<NAME without _fuzz>/, and <NAME without _fuzz>.dict beside them is the dictionary for
# long runs (tests/fuzz/README.md).
function(nimbrel_add_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz/ReplayMain.cc)
  endif()
  string(REGEX REPLACE "_fuzz$" "" stem ${name})
  file(GLOB seeds CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${stem}/*)
  if(NOT seeds)
    message(FATAL_ERROR "${name}: no seeds in ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${stem}")
  endif()
  add_test(NAME ${name}_seeds COMMAND ${name} ${seeds})
  set_tests_properties(${name}_seeds PROPERTIES TIMEOUT 120 LABELS fuzz)
endfunction()
