# The print objects drive the recording driver of the driver tests (built
# again here as this suite's own plug-in) and the shipped file driver; the
# demo job is processed through the LittleCMS engine.
add_library(print_recording_driver MODULE
  ${PROJECT_SOURCE_DIR}/tests/drivers/fixtures/recording_driver.c)
set_target_properties(print_recording_driver PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden)
target_include_directories(print_recording_driver PRIVATE ${PROJECT_SOURCE_DIR}/include)
add_dependencies(test_print print_recording_driver)
target_include_directories(test_print PRIVATE ${PROJECT_SOURCE_DIR}/tests/drivers)
target_compile_definitions(test_print PRIVATE
  KLV_RECORDING_DRIVER="$<TARGET_FILE:print_recording_driver>"
  KLV_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
if(TARGET klvdrv_file)
  add_dependencies(test_print klvdrv_file)
  target_compile_definitions(test_print PRIVATE KLV_FILE_DRIVER="$<TARGET_FILE:klvdrv_file>")
endif()
if(TARGET klvcms_lcms2)
  add_dependencies(test_print klvcms_lcms2)
  target_compile_definitions(test_print PRIVATE KLV_CMS_ENGINES="$<TARGET_FILE_DIR:klvcms_lcms2>")
endif()
target_link_libraries(test_print PRIVATE PkgConfig::TIFF)
if(TARGET klvdrv_cups)
  add_dependencies(test_print klvdrv_cups)
  target_compile_definitions(test_print PRIVATE KLV_CUPS_DRIVER="$<TARGET_FILE:klvdrv_cups>")
  target_link_libraries(test_print PRIVATE PkgConfig::CUPS)
endif()
# The file driver's writers are also built in, so that their fast paths are
# compared with the plain ones byte for byte.
if(TARGET klvdrv_file)
  target_sources(test_print PRIVATE ${PROJECT_SOURCE_DIR}/plugins/drivers/file/file_output.cpp
    ${PROJECT_SOURCE_DIR}/plugins/drivers/file/page_writer.cpp
    ${PROJECT_SOURCE_DIR}/plugins/drivers/file/buffered_file.cpp)
  target_include_directories(test_print PRIVATE ${PROJECT_SOURCE_DIR}/plugins/drivers/file)
  target_link_libraries(test_print PRIVATE PkgConfig::PNG)
endif()
