# Where `cmake --install` and the Debian package put the programs and the
# files the desktop, man and bash look for.

set(PELVAR_RES ${CMAKE_SOURCE_DIR}/res)

# Directories the install creates get 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(TARGET pelvar)
  install(TARGETS pelvar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS pelvarctl pelvar-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Python's standard library only: Debian's python3, which the package depends on.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/pelvar-map-import/pelvar-map-import DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PELVAR_RES}/pelvar.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(PELVAR_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${PELVAR_RES}/icons/pelvar.svg DESTINATION ${PELVAR_ICON_DIR}/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PELVAR_RES}/icons/pelvar-${size}.png
          DESTINATION ${PELVAR_ICON_DIR}/${size}x${size}/apps RENAME pelvar.png)
endforeach()

# Compressed without name or time stamp (-n), so the package is reproducible
# and lintian finds the compressed pages it expects.
find_program(PELVAR_GZIP gzip REQUIRED)
set(PELVAR_GZ_DIR ${CMAKE_BINARY_DIR}/gz)
set(pelvar_gz_files)
function(pelvar_gzip source name)
  set(copy ${PELVAR_GZ_DIR}/${name})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PELVAR_GZ_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${PELVAR_GZIP} -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
  set(pelvar_gz_files ${pelvar_gz_files} ${copy}.gz PARENT_SCOPE)
endfunction()

set(PELVAR_MAN_PAGES pelvarctl pelvar-sim pelvar-map-import)
if(TARGET pelvar)
  list(PREPEND PELVAR_MAN_PAGES pelvar)
endif()
foreach(page ${PELVAR_MAN_PAGES})
  pelvar_gzip(${PELVAR_RES}/man/${page}.1 ${page}.1)
  install(FILES ${PELVAR_GZ_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# A native Debian package (no revision in its version) keeps its history as
# changelog.gz; the version comes from the project.
configure_file(${PELVAR_RES}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
pelvar_gzip(${CMAKE_BINARY_DIR}/debian/changelog changelog)
set(PELVAR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pelvar)
install(FILES ${PELVAR_GZ_DIR}/changelog.gz ${PELVAR_RES}/debian/copyright DESTINATION ${PELVAR_DOC_DIR})
# pelvarctl(1) points to these: a register map and a preset to start from.
install(FILES ${PELVAR_RES}/registers.example.json ${PELVAR_RES}/preset.example.json DESTINATION ${PELVAR_DOC_DIR})

add_custom_target(pelvar_gz_files ALL DEPENDS ${pelvar_gz_files})

# FTDI adapters at a 1 ms latency timer from the moment they are plugged in
# (see docs/port-names.md); udev reads the package's rules from lib/udev.
install(FILES ${PELVAR_RES}/udev/99-pelvar-ftdi-latency.rules DESTINATION lib/udev/rules.d)

install(FILES ${PELVAR_RES}/completion/pelvarctl.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelvarctl)

# pelvar loads the German framework texts (qtbase_de.qm) only from Qt's own
# translations directory, which Debian fills from qt6-translations-l10n; the
# package depends on it rather than carrying a copy (see Packaging.cmake).

# The Python module, the sigrok decoder and the Wireshark dissector are of no
# use unless python3, sigrok and Wireshark look where they land, and each looks
# somewhere else for the system, for /usr/local and for a user's ~/.local:
#
#   prefix       Python module                 sigrok decoder    Lua dissector
#   /usr         lib/python3/dist-packages     share/libsigrok-  lib/<multiarch>/wireshark/plugins
#   /usr/local   lib/python3.N/dist-packages   decoders/pelvar   Wireshark's global folder
#                                              (an XDG data      (/usr/lib/<multiarch>/...):
#                                              folder for all    it looks nowhere under /usr/local
#   ~/.local     lib/python3.N/site-packages   three)            lib/wireshark/plugins
#   other        lib/python3.N/site-packages                     lib/wireshark/plugins
#
# The prefix is known only when installing (cpack installs to STAGING/usr), so
# the folders are chosen then. Wireshark's global folder is a cache variable
# rather than asked of tshark, so the package does not depend on whether
# Wireshark is on the build machine.
set(PELVAR_PYTHON_INSTALL_DIR "" CACHE STRING
    "Where the Python module is installed, under the prefix (empty: chosen by the prefix)")
set(PELVAR_WIRESHARK_GLOBAL_PLUGIN_DIR "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins" CACHE PATH
    "Wireshark's global Lua plugin folder (tshark -G folders), for a /usr/local install")
install(CODE "
  string(REGEX REPLACE \"/+$\" \"\" pelvar_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(pelvar_python_version python${Python_VERSION_MAJOR}.${Python_VERSION_MINOR})
  if(pelvar_prefix MATCHES \"(^|/)usr$\")
    set(PELVAR_PYTHON_DIR lib/python3/dist-packages)
    set(PELVAR_WIRESHARK_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
  elseif(pelvar_prefix STREQUAL \"/usr/local\")
    set(PELVAR_PYTHON_DIR lib/\${pelvar_python_version}/dist-packages)
    file(RELATIVE_PATH PELVAR_WIRESHARK_DIR \"\${pelvar_prefix}\" \"${PELVAR_WIRESHARK_GLOBAL_PLUGIN_DIR}\")
  else()
    # Python's user site under ~/.local and the usual folder of any other
    # prefix (a virtual environment, /opt/pelvar) alike.
    set(PELVAR_PYTHON_DIR lib/\${pelvar_python_version}/site-packages)
    set(PELVAR_WIRESHARK_DIR lib/wireshark/plugins)
  endif()
  if(NOT \"${PELVAR_PYTHON_INSTALL_DIR}\" STREQUAL \"\")
    set(PELVAR_PYTHON_DIR \"${PELVAR_PYTHON_INSTALL_DIR}\")
  endif()
  set(PELVAR_SIGROK_DECODER_DIR ${CMAKE_INSTALL_DATADIR}/libsigrokdecode/decoders/pelvar)")

if(TARGET pelvar_python)
  install(TARGETS pelvar_python LIBRARY DESTINATION \${PELVAR_PYTHON_DIR}/pelvar)
  foreach(file ${PELVAR_PY_FILES})
    install(FILES ${CMAKE_SOURCE_DIR}/python/pelvar/${file} DESTINATION \${PELVAR_PYTHON_DIR}/pelvar)
  endforeach()
  install(DIRECTORY ${CMAKE_BINARY_DIR}/python/pelvar-${PROJECT_VERSION}.dist-info DESTINATION \${PELVAR_PYTHON_DIR})
endif()
install(FILES ${PELVAR_SIGROK_DIR}/pelvar/__init__.py ${PELVAR_SIGROK_DIR}/pelvar/pd.py
              ${PELVAR_SIGROK_DIR}/pelvar/words.py
        DESTINATION \${PELVAR_SIGROK_DECODER_DIR})
install(FILES ${PELVAR_LUA_DISSECTOR} DESTINATION \${PELVAR_WIRESHARK_DIR})
