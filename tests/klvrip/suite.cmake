# klvrip's option code is compiled into the suite; the tests also run the
# program itself.
target_sources(test_klvrip PRIVATE ${PROJECT_SOURCE_DIR}/tools/klvrip/screen_options.cpp
  ${PROJECT_SOURCE_DIR}/tools/klvrip/read_ahead.cpp ${PROJECT_SOURCE_DIR}/tools/klvrip/cli.cpp
  ${PROJECT_SOURCE_DIR}/tools/klvrip/output_file.cpp
  ${PROJECT_SOURCE_DIR}/tools/klvrip/color_options.cpp)
find_package(Threads REQUIRED)
target_link_libraries(test_klvrip PRIVATE Threads::Threads)
target_include_directories(test_klvrip PRIVATE ${PROJECT_SOURCE_DIR}/tools/klvrip)
add_dependencies(test_klvrip klvrip)
target_compile_definitions(test_klvrip PRIVATE KLVRIP_PATH="$<TARGET_FILE:klvrip>")
# The print-test runs walk the demo printer's file driver; convert, screen
# and process load the colour engine.
foreach(plugin klvdrv_file klvcms_lcms2)
  if(TARGET ${plugin})
    add_dependencies(test_klvrip ${plugin})
  endif()
endforeach()
