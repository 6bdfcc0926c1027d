# What every browser test shares: node's test runner on one script of tests/e2e, run from there
# with the run directory, labelled e2e. Needs node with tests/e2e's packages
# (npm ci --prefix tests/e2e).
find_program(NODE_PROGRAM node)
find_program(CHROMIUM_PROGRAM chromium)
find_program(FIREFOX_PROGRAM firefox-esr)
find_program(XVFB_PROGRAM Xvfb)

# The browsers present: chromium (Debian's, through playwright-core) and firefox (firefox-esr,
# through puppeteer-core).
set(NIMBREL_E2E_BROWSERS)
if(CHROMIUM_PROGRAM)
  list(APPEND NIMBREL_E2E_BROWSERS chromium)
endif()
if(FIREFOX_PROGRAM)
  list(APPEND NIMBREL_E2E_BROWSERS firefox)
endif()

# nimbrel_e2e_test(NAME SCRIPT TIMEOUT [VAR=VALUE ...]): the script in the calling folder; the
# time-out in seconds of an ordinary build, stretched in a sanitizer tree as its waits are.
function(nimbrel_e2e_test name script timeout)
  math(EXPR stretched "${timeout} * ${NIMBREL_TIME_FACTOR}")
  add_test(NAME ${name}
    COMMAND ${NODE_PROGRAM} --test ${CMAKE_CURRENT_SOURCE_DIR}/${script}
    WORKING_DIRECTORY ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(environment NIMBREL_RUN_DIR=${NIMBREL_RUN_DIR} ${ARGN})
  if(FIREFOX_PROGRAM)
    list(APPEND environment NIMBREL_FIREFOX=${FIREFOX_PROGRAM})
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT ${stretched} LABELS e2e)
endfunction()
