# The previews of screened pictures are written as PNG.
target_link_libraries(test_halftone PRIVATE PkgConfig::PNG)
