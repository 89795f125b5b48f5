# System libraries that KlvLib calls. All come from Debian packages installed
# by scripts/install-deps.sh.
#
# The library links only what its sources call: libtiff, libxml2, SQLite and
# zlib. libpng is found for the programs and plug-ins that write PNG, and
# LittleCMS 2 for the colour engine plug-in and the colour tests; they link
# them themselves (the library never calls LittleCMS directly). libjpeg is
# installed by install-deps.sh for the JPEG reader but not linked until code
# calls it.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(XML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)

add_library(klv_deps INTERFACE)
target_link_libraries(klv_deps INTERFACE
  PkgConfig::TIFF PkgConfig::XML2 PkgConfig::SQLITE3 ZLIB::ZLIB Threads::Threads ${CMAKE_DL_LIBS})
