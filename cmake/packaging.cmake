# Packages made with CPack from what `cmake --install` puts in place: a .deb on Linux, a
# .zip holding mapsweep.exe alone on Windows.
#   cmake --build --preset default --target package   -> build/default/mapsweep_VERSION_ARCH.deb
#   cmake --build --preset windows --target package   -> build/windows/mapsweep-VERSION-win64.zip
set(MAPSWEEP_PACKAGE_MAINTAINER
  "mapsweep maintainers <maintainers@users.noreply.c-seed-39af67e8.example>"
  CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME mapsweep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MAPSWEEP_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write a list of the maps of every game folder")
set(CPACK_PACKAGE_DESCRIPTION
  "mapsweep goes through every game folder of an installation, finds the maps\n"
  "in its archives and its maps folder, and writes a maps.lst there with each\n"
  "map's name and title, and a combined list in the base directory. It only\n"
  "reads archives and map files, and replaces a list whole or not at all.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The RelWithDebInfo build carries its debugging symbols; the packages do not.
set(CPACK_STRIP_FILES ON)
# `package_source` would otherwise pack the build folders and the repository.
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/build-[^/]*/" "/\\\\.git")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # The zip holds the program itself, ready to drop into a games folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the program links (libc, libstdc++, libgcc, zlib) with the versions the
  # build needs, as dpkg-shlibdeps (package dpkg-dev) reads them from the binary.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
