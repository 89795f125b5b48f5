# Installs the build tree into WORK_DIR/prefix, then checks the installed
# public surface (the headers, and that the library exports only what they
# declare) and builds and runs the consumer programs against the installed
# tree: one through find_package(klv), one in C through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
# The public surface. Python runs the two checks; without it they are skipped.
find_program(PYTHON3 python3)
if(PYTHON3)
  execute_process(COMMAND ${PYTHON3} ${SOURCE_DIR}/check_headers.py ${WORK_DIR}/prefix/include cc c++
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the installed headers fail their checks")
  endif()
  execute_process(COMMAND ${PYTHON3} ${SOURCE_DIR}/check_exports.py ${WORK_DIR}/prefix/lib/libklv.so
    ${WORK_DIR}/prefix/include RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "libklv exports symbols that no installed header declares")
  endif()
else()
  message(WARNING "python3 not found: the header and export checks are skipped")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer build failed")
endif()
foreach(prog consumer_cxx)
  execute_process(COMMAND ${WORK_DIR}/build/${prog} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${prog} failed")
  endif()
endforeach()
# The C consumer through pkg-config.
set(ENV{PKG_CONFIG_PATH} ${WORK_DIR}/prefix/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs klv
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know klv")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND cc -std=c11 -Wall -Werror ${SOURCE_DIR}/consumer.c -o ${WORK_DIR}/consumer_c
  ${flags} -Wl,-rpath,${WORK_DIR}/prefix/lib RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "C consumer build failed")
endif()
execute_process(COMMAND ${WORK_DIR}/consumer_c RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "C consumer failed")
endif()
