# The release version, kept in one place: the VERSION file at the top of the source tree
# (MAJOR.MINOR.PATCH). Sets TESSARVANE_VERSION and its three parts, and writes
# TessarvaneVersion.h (the version as text and as the four numbers of a version resource) into
# TESSARVANE_VERSION_INCLUDE for the resource script and the tools. Included by every project
# that needs it; a changed VERSION file configures again.
get_filename_component(tessarvane_version_file ${CMAKE_CURRENT_LIST_DIR}/../VERSION ABSOLUTE)
file(STRINGS ${tessarvane_version_file} TESSARVANE_VERSION LIMIT_COUNT 1)
if(NOT TESSARVANE_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must hold MAJOR.MINOR.PATCH, not '${TESSARVANE_VERSION}'")
endif()
set(TESSARVANE_VERSION_MAJOR ${CMAKE_MATCH_1})
set(TESSARVANE_VERSION_MINOR ${CMAKE_MATCH_2})
set(TESSARVANE_VERSION_PATCH ${CMAKE_MATCH_3})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tessarvane_version_file})
set(TESSARVANE_VERSION_INCLUDE ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/TessarvaneVersion.h.in ${TESSARVANE_VERSION_INCLUDE}/TessarvaneVersion.h @ONLY)
