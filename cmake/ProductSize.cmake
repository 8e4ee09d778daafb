# The updater's size: every byte of it travels with every patch to every machine, and nearly
# all of a default build is the statically linked C++ runtime's exception support. The
# product's own code is built size-optimised, in sections the linker drops when unused (and
# for the program itself optimised as a whole at link time), and
# without exceptions or RTTI (it raises and catches none, and asks for no type information),
# and for x86 without the unwind tables that only exceptions would read;
# app/NoExceptions.cpp ends the process where the library would throw, so the library's
# exception machinery is not linked. The tests keep the default flags.
# libstdc++ declares std::wstring an extern template, instantiated inside the library (built
# with exceptions), for C++17 and earlier only; compiled as C++20 the product instantiates
# its strings itself, without exceptions. The code stays C++17.
#   tessarvane_product_size(LIBRARY...)   product libraries
#   tessarvane_updater_size(EXECUTABLE)   the updater program itself
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
  # Optimised as one whole at link time, the program keeps no function that it does not reach;
  # --gc-sections alone cannot drop them for x64, where ld keeps every function's unwind data
  # (.pdata) and with it the function.
  target_compile_options(${target} PRIVATE -flto)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -flto -Os)
endfunction()
