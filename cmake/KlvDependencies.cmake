# System libraries that KlvLib calls. All come from Debian packages installed
# by scripts/install-deps.sh.
#
# The library links only what its sources call: libtiff, libjpeg, libpng,
# libxml2, SQLite and zlib. LittleCMS 2 is found for the colour engine plug-in
# and the colour tests, which link it themselves (the library never calls
# LittleCMS directly).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(XML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)

add_library(klv_deps INTERFACE)
target_link_libraries(klv_deps INTERFACE
  PkgConfig::TIFF PkgConfig::JPEG PkgConfig::PNG PkgConfig::XML2 PkgConfig::SQLITE3 ZLIB::ZLIB Threads::Threads ${CMAKE_DL_LIBS})
