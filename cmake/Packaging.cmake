# The Debian package: `cpack -G DEB` in the build directory.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelvar developers")
set(CPACK_PACKAGE_CONTACT "Pelvar developers <dev@pelvar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the Zandrel / Pelvar camera demo board")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY pelvar)

set(CPACK_DEBIAN_PACKAGE_NAME pelvar)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pelvar developers <dev@pelvar.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The German framework texts are read from Qt's translations directory.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
if(TARGET pelvar_python)
  # The module is built for this Python's ABI; pytest is only needed for the
  # plugin, labgrid only for its driver.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${PELVAR_PYTHON_NEXT_MINOR})")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pytest, python3-labgrid")
endif()
# The summary above becomes the first line; CPack indents these lines and
# writes the empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pelvar drives a camera demonstration board (an image sensor behind an FPGA
image pipeline) over a half-duplex serial line. Connect finds the board on
any serial port, starts it and shows the sensor type; sliders and buttons
adjust brightness, contrast, colour gains and the pipeline functions live,
and single 16-bit registers are read and written by address.

The package holds the control panel (pelvar), a command-line tool with the
same logic for scripts (pelvarctl) and a simulated board on a
pseudo-terminal (pelvar-sim); pelvar --demo runs the panel without the
hardware. The Python module pelvar, its pytest plugin and its labgrid driver
drive boards from test suites.")

include(CPack)
