# The header-only libraries: CLI11 (the command line's argument parser) and nlohmann-json (its
# JSON writer). Debian installs them for the host alone. A cross build takes their headers through
# links to their own folders: their packages would put the host's /usr/include, and with it the
# host's C library, on the cross compiler's path.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  return()
endif()

set(headers ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${headers})
set(targets CLI11::CLI11 nlohmann_json::nlohmann_json)
set(folders CLI nlohmann)
foreach(target folder IN ZIP_LISTS targets folders)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: install the host's ${target} headers")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${headers}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${headers})
endforeach()
