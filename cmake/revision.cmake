# Writes OUT, a header defining QEL_REVISION: the source revision the binary
# is built from (git describe, with -dirty for uncommitted changes), or
# "unknown" outside a git checkout. The file is rewritten only when the
# revision changes, so that an unchanged tree rebuilds nothing.
execute_process(
  COMMAND git describe --always --dirty --tags
  WORKING_DIRECTORY "${SRC}"
  OUTPUT_VARIABLE rev
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR rev STREQUAL "")
  set(rev "unknown")
endif()
set(text "#define QEL_REVISION \"${rev}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
