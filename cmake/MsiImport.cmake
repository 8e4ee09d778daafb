# Import library for msi.dll. mingw-w64's libmsi.a lacks MsiBeginTransactionW and
# MsiEndTransaction, so we make our own from a .def file that lists every call we use.
if(MSVC)
  add_library(tessarvane_msi INTERFACE)
  target_link_libraries(tessarvane_msi INTERFACE msi)
  return()
endif()
set(_def ${CMAKE_CURRENT_LIST_DIR}/msi.def)
set(_lib ${CMAKE_BINARY_DIR}/libtessarvane_msi.a)
add_custom_command(OUTPUT ${_lib}
  COMMAND ${CMAKE_DLLTOOL} -d ${_def} -l ${_lib} -k
  DEPENDS ${_def} VERBATIM)
add_custom_target(tessarvane_msi_implib DEPENDS ${_lib})
add_library(tessarvane_msi STATIC IMPORTED GLOBAL)
set_target_properties(tessarvane_msi PROPERTIES IMPORTED_LOCATION ${_lib})
add_dependencies(tessarvane_msi tessarvane_msi_implib)
