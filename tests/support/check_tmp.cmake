# A suite's TMPDIR: with -DCLEAR=ON, emptied before the suite runs; otherwise
# fails when it holds anything, that is when the suite left temporary files
# or folders behind.
if(CLEAR)
  file(REMOVE_RECURSE "${DIR}")
  file(MAKE_DIRECTORY "${DIR}")
  return()
endif()
file(GLOB_RECURSE left LIST_DIRECTORIES true "${DIR}/*")
if(left)
  list(JOIN left "\n  " text)
  message(FATAL_ERROR "temporary files left behind:\n  ${text}")
endif()
