# Fails when any C or C++ source of the project is not formatted by .clang-format.
file(GLOB_RECURSE files
  ${ROOT}/include/*.h ${ROOT}/src/*.h ${ROOT}/src/*.cpp ${ROOT}/src/*.c
  ${ROOT}/tests/*.h ${ROOT}/tests/*.cpp ${ROOT}/tests/*.c ${ROOT}/bench/*.cpp
  ${ROOT}/fuzz/*.cpp ${ROOT}/plugins/*.h ${ROOT}/plugins/*.cpp ${ROOT}/plugins/*.c
  ${ROOT}/tools/*.h ${ROOT}/tools/*.cpp)
list(FILTER files EXCLUDE REGEX "/tests/data/")
if(NOT files)
  return()
endif()
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "files need clang-format (run: make format)\n${err}")
endif()
