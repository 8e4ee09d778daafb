# Delay-loaded import libraries for DLLs that only an update run needs. Windows Installer
# (msi.dll, with the many DLLs it pulls in) is loaded at its first call, so start-up, the
# message boxes and the extract mode do not pay for it. The library is made from a .def file
# listing the calls we use; mingw-w64's libmsi.a would also lack MsiBeginTransactionW and
# MsiEndTransaction.
# The .def file names the 32-bit stdcall exports with their argument sizes (@N); 64-bit
# Windows has one calling convention and no such decoration, so the x64 build drops them.
# With mingw-w64 this serves only functions declared without dllimport, as msi.h declares
# them: a dllimport call goes through an __imp_ pointer that the delay library leaves empty.
#   tessarvane_delay_import(TARGET DLL DEF_FILE)
function(tessarvane_delay_import target dll def)
  add_library(${target} INTERFACE)
  if(MSVC)
    get_filename_component(name ${dll} NAME_WE)
    target_link_libraries(${target} INTERFACE ${name} delayimp)
    target_link_options(${target} INTERFACE /DELAYLOAD:${dll})
    return()
  endif()
  set(lib ${CMAKE_BINARY_DIR}/lib${target}.a)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    get_filename_component(name ${def} NAME)
    set(def ${CMAKE_BINARY_DIR}/x64-${name})
    file(CONFIGURE OUTPUT ${def} CONTENT "${text}" @ONLY)
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} -d ${def} -y ${lib} -k
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_implib DEPENDS ${lib})
  add_dependencies(${target} ${target}_implib)
  target_link_libraries(${target} INTERFACE ${lib})
endfunction()

tessarvane_delay_import(tessarvane_msi msi.dll ${CMAKE_CURRENT_LIST_DIR}/msi.def)
