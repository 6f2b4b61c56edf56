# Writes OUT, a header defining QEL_REVISION: the source revision the binary
# is built from. In a git checkout that is `git describe` (with -dirty for
# uncommitted changes); in a source archive made by `git archive`, the
# revision git wrote into cmake/archive-revision.txt; otherwise "unknown".
# The file is rewritten only when the revision changes, so that an
# unchanged tree rebuilds nothing.
execute_process(
  COMMAND git describe --always --dirty --tags
  WORKING_DIRECTORY "${SRC}"
  OUTPUT_VARIABLE rev
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET
  RESULT_VARIABLE status)
# Only a checkout of this source tree counts, not a repository around it.
execute_process(
  COMMAND git rev-parse --show-toplevel
  WORKING_DIRECTORY "${SRC}"
  OUTPUT_VARIABLE top
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
get_filename_component(src_real "${SRC}" REALPATH)
if(top)
  get_filename_component(top "${top}" REALPATH)
endif()
if(NOT status EQUAL 0 OR rev STREQUAL "" OR NOT top STREQUAL src_real)
  set(rev "unknown")
  if(EXISTS "${SRC}/cmake/archive-revision.txt")
    file(STRINGS "${SRC}/cmake/archive-revision.txt" archived LIMIT_COUNT 1)
    # An archive holds the revision; a plain copy the unfilled placeholder.
    if(archived MATCHES "^[0-9A-Za-z][-.0-9A-Za-z_]*$")
      set(rev "${archived}")
    endif()
  endif()
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
