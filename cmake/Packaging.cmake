# The Debian package of everything `cmake --install` installs (scripts/package runs it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME folianto)
set(CPACK_PACKAGE_VENDOR Quorvant)
set(CPACK_PACKAGE_CONTACT "Quorvant <packages@quorvant.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns a list of image files into one multi-page PDF document")
# Debian wants the lines of the long description under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Folianto gathers raster images (TIFF, GIF, JPEG, PNG, BMP, PCX, Targa, PNM,\n\
JPEG 2000 and more) in a numbered list and writes them as the pages of one\n\
PDF 1.4 document. It comes as a desktop program and as the command-line\n\
converter folianto-convert.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The runtime libraries come from dpkg-shlibdeps, so the dependencies follow what the binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries opened at run time are invisible to it: the folders that open one name its package, and
# CPack adds what dpkg-shlibdeps finds to these.
get_property(runtime_packages GLOBAL PROPERTY FOLIANTO_RUNTIME_PACKAGES)
list(JOIN runtime_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
