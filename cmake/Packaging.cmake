# The Debian package, made with `cd build/release && cpack` (scripts/check-package).
# Everything the install rules put in place goes in; run-time libraries are found by
# dpkg-shlibdeps, the rest is declared here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnell")
set(CPACK_PACKAGE_CONTACT "Tarnell maintainers <tarnell@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Caps Lock as a Hyper key to open applications")
# One string: a semicolon would split it as a CMake list.
set(CPACK_PACKAGE_DESCRIPTION "Tarnell turns Caps Lock into a Hyper key. While Caps Lock is \
held, a key bound to an application opens it or brings it to the front, and other keys are \
passed on with Ctrl, Alt, Shift and Super added. A tray icon lists the shortcuts and a \
settings window edits them.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins, so dpkg-shlibdeps cannot see them: the SVG icon engine, the X11
# platform, and pkexec for granting input access.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, libqt6svg6, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
