# The job driver's runs convert colours through the LittleCMS engine; the
# suite finds it through the search path (its folder is passed in).
if(TARGET klvcms_lcms2)
  add_dependencies(test_job klvcms_lcms2)
  target_compile_definitions(test_job PRIVATE
    KLV_CMS_ENGINES="$<TARGET_FILE_DIR:klvcms_lcms2>")
endif()
# Ink counting in the job driver's runs goes through the demo printer's
# file driver.
if(TARGET klvdrv_file)
  add_dependencies(test_job klvdrv_file)
  target_compile_definitions(test_job PRIVATE
    KLV_PRINTER_DRIVERS="$<TARGET_FILE_DIR:klvdrv_file>")
endif()
