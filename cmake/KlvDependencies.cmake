# System libraries that KlvLib calls. All come from Debian packages installed
# by scripts/install-deps.sh.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(JPEG REQUIRED)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(XML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)

add_library(klv_deps INTERFACE)
target_link_libraries(klv_deps INTERFACE
  PkgConfig::TIFF PkgConfig::LCMS2 PkgConfig::XML2 PkgConfig::SQLITE3 PkgConfig::PNG
  ZLIB::ZLIB JPEG::JPEG Threads::Threads ${CMAKE_DL_LIBS})
