# A small plug-in that the dynamic library tests load.
add_library(platform_fixture_plugin MODULE ${CMAKE_CURRENT_SOURCE_DIR}/platform/fixture_plugin.c)
set_target_properties(platform_fixture_plugin PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden)
add_dependencies(test_platform platform_fixture_plugin)
target_compile_definitions(test_platform PRIVATE
  KLV_TEST_PLUGIN="$<TARGET_FILE:platform_fixture_plugin>")
