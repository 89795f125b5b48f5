# Colour suite helpers: a fixture colour engine, and the LittleCMS engine with
# the shipped profiles and type list.
add_library(color_cms_fixture MODULE ${CMAKE_CURRENT_SOURCE_DIR}/color/fixtures/cms_fixture_engine.c)
set_target_properties(color_cms_fixture PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden)
target_include_directories(color_cms_fixture PRIVATE ${PROJECT_SOURCE_DIR}/include)
add_dependencies(test_color color_cms_fixture)
target_compile_definitions(test_color PRIVATE
  KLV_CMS_FIXTURE="$<TARGET_FILE:color_cms_fixture>"
  KLV_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
if(TARGET klvcms_lcms2)
  add_dependencies(test_color klvcms_lcms2)
  target_compile_definitions(test_color PRIVATE KLV_LCMS2_ENGINE="$<TARGET_FILE:klvcms_lcms2>")
endif()
find_program(KLV_TRANSICC transicc)
if(KLV_TRANSICC)
  target_compile_definitions(test_color PRIVATE KLV_TRANSICC="${KLV_TRANSICC}")
endif()
target_link_libraries(test_color PRIVATE PkgConfig::LCMS2)
