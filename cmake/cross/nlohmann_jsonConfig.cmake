# nlohmann-json for the cross build: header-only and the same on every
# target, so Debian's host package serves. Only its own folder is put on the
# include path, through a link: the host's /usr/include must never reach
# the Windows compiler.
set(_pelvar_json_headers /usr/include/nlohmann)
if(NOT EXISTS ${_pelvar_json_headers}/json.hpp)
  set(nlohmann_json_FOUND FALSE)
  set(nlohmann_json_NOT_FOUND_MESSAGE "${_pelvar_json_headers}/json.hpp is missing (package nlohmann-json3-dev)")
  return()
endif()
set(_pelvar_json_root ${CMAKE_BINARY_DIR}/host-headers/json)
if(NOT EXISTS ${_pelvar_json_root}/nlohmann)
  file(MAKE_DIRECTORY ${_pelvar_json_root})
  file(CREATE_LINK ${_pelvar_json_headers} ${_pelvar_json_root}/nlohmann SYMBOLIC)
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_pelvar_json_root})
endif()
set(nlohmann_json_FOUND TRUE)
