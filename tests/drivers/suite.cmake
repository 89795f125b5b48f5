# Driver libraries the driver tests load with dlopen: a recording driver, a
# library without an entry table, and the shipped file and CUPS raster drivers.
foreach(fixture recording_driver no_table_driver)
  add_library(drivers_${fixture} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/drivers/fixtures/${fixture}.c)
  set_target_properties(drivers_${fixture} PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden)
  target_include_directories(drivers_${fixture} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  add_dependencies(test_drivers drivers_${fixture})
endforeach()
target_compile_definitions(test_drivers PRIVATE
  KLV_RECORDING_DRIVER="$<TARGET_FILE:drivers_recording_driver>"
  KLV_NO_TABLE_DRIVER="$<TARGET_FILE:drivers_no_table_driver>"
  KLV_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
if(TARGET klvdrv_file)
  add_dependencies(test_drivers klvdrv_file)
  target_compile_definitions(test_drivers PRIVATE KLV_FILE_DRIVER="$<TARGET_FILE:klvdrv_file>")
endif()
if(TARGET klvdrv_cups)
  add_dependencies(test_drivers klvdrv_cups)
  target_compile_definitions(test_drivers PRIVATE KLV_CUPS_DRIVER="$<TARGET_FILE:klvdrv_cups>")
  target_link_libraries(test_drivers PRIVATE PkgConfig::CUPS)
endif()
# The file driver's tests read its TIFF and PNG output back.
target_link_libraries(test_drivers PRIVATE PkgConfig::TIFF PkgConfig::PNG)
