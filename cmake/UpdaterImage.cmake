# How the updater's image is made, in one place: every byte of it travels with every patch to
# every machine, and it runs elevated from folders that others can write to.
#
#   tessarvane_add_updater(TARGET)      the updater program
#   tessarvane_product_size(TARGET...)  the product's compile flags, for the product libraries
#                                       and for programs built like the updater
#   tessarvane_updater_size(TARGET)     a program built like the updater (the flags above, the
#                                       no-exceptions runtime, link-time optimisation)
#
# What each part buys, and what would break it:
# - Delay-import libraries (dlltool -y, from the .def files beside this file) for every system
#   DLL the program loads after start-up: user32, shell32, ole32, advapi32, rpcrt4, comctl32
#   and msi. The loader then binds only kernel32 and the C runtime before wWinMain restricts
#   the DLL search, so no DLL planted beside the updater is loaded, and Windows Installer's
#   many DLLs are loaded only by an update run. The toolchain's delay-load helper calls the
#   hooks in platform/DelayLoad.cpp, which load from the system folder. Broken by: a call not
#   listed in a .def file, or listed with a wrong 32-bit argument size (@N), which the linker
#   silently takes from the ordinary import library; the import check below then fails the
#   build. The program is compiled with DECLSPEC_IMPORT defined empty: with the headers'
#   dllimport, 32-bit calls through a delay-import library jump to address 0 (binutils bug
#   14339). The product libraries keep dllimport, so that the tests' link-time seams, which
#   define import pointers, still replace system functions.
# - The import check: after linking, the build fails when the image's import table names any
#   DLL but kernel32 and msvcrt.
# - The load configuration (platform/LoadConfig.cpp) and the delay-import table's end
#   (platform/DelayImportEnd.cpp): ld 2.40 keeps both but leaves their data directories empty,
#   so set-load-config.py points them at what it finds in the image. DependentLoadFlags tells
#   Windows 10 and later to resolve the start-up imports from the system folder only; the
#   delay-import directory lets import listers and Windows' tools see the delay-loaded DLLs.
#   Broken by: a linker that fills the directories itself (the script then finds them set and
#   changes nothing), or signing before the step (the script refuses a signed image).
# - No exceptions and no RTTI (-fno-exceptions -fno-rtti), and on x86 no unwind tables that
#   only exceptions would read: the program raises and catches none. platform/NoExceptions.cpp
#   ends the process where the C++ library would throw, so the library's exception machinery,
#   unwinder and verbose terminate handler stay out (most of a default build's size). Broken
#   by: a library function that throws by another path than those it replaces (the image then
#   grows by tens of KiB, which the size test notices).
# - C++20 mode for the product's sources: libstdc++ declares std::wstring an extern template,
#   instantiated inside the library (built with exceptions), for C++17 and earlier only;
#   compiled as C++20 the product instantiates its strings itself, without exceptions. The
#   code stays C++17 (tests/build compiles it so). Broken by: a libstdc++ that declares the
#   extern template in C++20 mode too.
# - Size optimisation in sections of their own (-Os -ffunction-sections -fdata-sections) and
#   link-time optimisation of the whole program with --gc-sections: no function that it does
#   not reach stays, which --gc-sections alone cannot do for x64, where ld keeps every
#   function's unwind data (.pdata) and with it the function. The program compiles the
#   libraries' sources itself for this; the libraries stay as they are for the tests. The
#   whole program is optimised as one unit (-flto-partition=one): split into several, GCC 12
#   for mingw-w64 stops with an internal error in its dead-store pass (binds_to_current_def_p,
#   in a vector's growth) once a function is reached from more than one unit. Broken by: a
#   toolchain that ignores the option (the error comes back as the program grows).
# MSVC builds get the same delay loading from /DELAYLOAD and the load configuration from
# /DEPENDENTLOADFLAG; the size measures above are the GNU toolchain's.

set(TESSARVANE_DELAY_LOADED advapi32 comctl32 msi ole32 rpcrt4 shell32 user32)

# A delay-import library for one DLL, made from its .def file. The .def files name the 32-bit
# stdcall exports with their argument sizes (@N); 64-bit Windows has one calling convention
# and no such decoration, so the x64 build drops them.
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

foreach(dll ${TESSARVANE_DELAY_LOADED})
  tessarvane_delay_import(tessarvane_delay_${dll} ${dll}.dll ${CMAKE_CURRENT_LIST_DIR}/${dll}.def)
endforeach()

function(tessarvane_product_size)
  if(MSVC)
    return()
  endif()
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
    # 32-bit code unwinds through DWARF tables that only C++ exceptions read; x64 keeps its
    # unwind data, which Windows itself uses.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
    endif()
    set_target_properties(${target} PROPERTIES CXX_STANDARD 20)
  endforeach()
endfunction()

function(tessarvane_updater_size target)
  if(MSVC)
    return()
  endif()
  tessarvane_product_size(${target})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/NoExceptions.cpp)
  target_compile_options(${target} PRIVATE -flto)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -flto -flto-partition=one -Os)
endfunction()

# The updater program from the product libraries' sources (PRODUCT_LIBRARIES, top first).
function(tessarvane_add_updater target)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/app/WinMain.cpp)
  set(delay_libraries "")
  foreach(dll ${TESSARVANE_DELAY_LOADED})
    list(APPEND delay_libraries tessarvane_delay_${dll})
  endforeach()
  if(MSVC)
    target_link_libraries(${target} PRIVATE ${TESSARVANE_PRODUCT_LIBRARIES} tv_resources ${delay_libraries} kernel32)
    target_link_options(${target} PRIVATE /DEPENDENTLOADFLAG:0x800 /TSAWARE /SUBSYSTEM:WINDOWS,6.00)
    return()
  endif()

  foreach(library ${TESSARVANE_PRODUCT_LIBRARIES})
    get_target_property(sources ${library} SOURCES)
    get_target_property(dir ${library} SOURCE_DIR)
    foreach(source ${sources})
      if(NOT IS_ABSOLUTE ${source})
        set(source ${dir}/${source})
      endif()
      target_sources(${target} PRIVATE ${source})
    endforeach()
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>)
  endforeach()
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/DelayLoad.cpp
                 ${PROJECT_SOURCE_DIR}/platform/LoadConfig.cpp ${PROJECT_SOURCE_DIR}/platform/DelayImportEnd.cpp)
  target_compile_definitions(${target} PRIVATE DECLSPEC_IMPORT=)
  target_link_libraries(${target} PRIVATE tv_resources ${delay_libraries} kernel32)
  tessarvane_updater_size(${target})

  # No time stamp in the image: two builds of one commit give the same bytes.
  # --tsaware: on a Remote Desktop Session Host, Windows would otherwise hand the program a
  # per-user Windows folder, and with it a working folder in a place the user owns.
  target_link_options(${target} PRIVATE -municode -mwindows -s -Wl,--no-insert-timestamp -Wl,--tsaware)
  # Subsystem and OS version 6.0, what Windows Vista and later expect of a current program
  # (older values make Windows draw older frame metrics and apply compatibility guesses).
  target_link_options(${target} PRIVATE -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,0
                      -Wl,--major-os-version,6 -Wl,--minor-os-version,0)
  # Nothing in the code refers to the load configuration or the delay-import table's end, so
  # name them as roots that --gc-sections keeps (32-bit C symbols carry a leading underscore).
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(${target} PRIVATE -Wl,--undefined=_load_config_used -Wl,--undefined=tessarvaneDelayImportEnd)
  else()
    target_link_options(${target} PRIVATE -Wl,--undefined=__load_config_used -Wl,--undefined=_tessarvaneDelayImportEnd)
    # The program registers no exception handler of its own (no C++ exceptions, no __try,
    # and the delay-load failure hook ends the process instead of letting the helper raise),
    # so Windows may refuse every handler that claims to be in the image.
    target_link_options(${target} PRIVATE -Wl,--no-seh)
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/set-load-config.py
            --allow-imports kernel32.dll,msvcrt.dll $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
