# Debian packages (cpack -G DEB in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does both):
#   quillon         the program and its manual page, without the window toolkit
#   quillon-window  the window module, its menu entry, icon and help pages
# Library dependencies are found by dpkg-shlibdeps.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quillon")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Quillon developers")
# The paths the build fixes (help pages) and the module's place must be those
# the packages install to.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program)
if(QUILLON_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME "quillon")
# The first line of a description is the package's synopsis.
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "route tracer for the terminal and the desktop
Quillon finds the route to a host hop by hop with ICMP echo requests, looks up
the name of every hop and shows each hop's address, name and time. This
package traces in the terminal; quillon-window adds the desktop window.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME "quillon-window")
set(CPACK_COMPONENT_WINDOW_DEPENDS program)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "desktop window of the Quillon route tracer
The Qt window that quillon opens when a display is there, with its menu
entry, icon and help pages.")

include(CPack)
