# The job driver's runs convert colours through the LittleCMS engine; the
# suite finds it through the search path (its folder is passed in).
if(TARGET klvcms_lcms2)
  add_dependencies(test_job klvcms_lcms2)
  target_compile_definitions(test_job PRIVATE
    KLV_CMS_ENGINES="$<TARGET_FILE_DIR:klvcms_lcms2>")
endif()
