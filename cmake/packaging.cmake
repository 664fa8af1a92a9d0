# Packages of the installed program: `cpack -G DEB` in the build directory makes a Debian package
# whose library dependencies dpkg-shlibdeps works out from the binary.

set(PICWND_PACKAGE_MAINTAINER "picwnd developers <picwnd-devel@example.org>"
    CACHE STRING "Name and e-mail address of whoever builds the packages")

set(CPACK_PACKAGE_NAME picwnd)
set(CPACK_PACKAGE_VENDOR "picwnd developers")
set(CPACK_PACKAGE_CONTACT "${PICWND_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "show a picture as a shaped, frameless window that stays on top")
# Debian wants the long description in lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "picwnd shows one picture as a window of its own on the desktop: no frame,"
    "no title bar, always on top, and shaped like the picture, since every exactly"
    "opaque-white pixel is cut out of the window. The window is moved with the"
    "keyboard in steps of 1, 10 or 20 pixels, made more or less translucent in ten"
    "steps, and closed with X. An optional placement file in the current directory"
    "gives its starting position.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PICWND_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads image formats as plugins, which no library dependency brings in: the formats beyond
# those of Qt's own GUI library that the desktop entry offers to open come from this package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-image-formats-plugins)

find_program(PICWND_DPKG dpkg)
if(PICWND_DPKG)
    set(CPACK_GENERATOR DEB)
else()
    set(CPACK_GENERATOR TGZ)
endif()

include(CPack)
