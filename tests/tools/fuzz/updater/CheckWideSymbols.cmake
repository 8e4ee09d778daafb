# Fails when the fuzzer binary BINARY still calls the C library's wide-string functions or
# libstdc++'s prebuilt std::wstring, both made for 4-byte wchar_t.
execute_process(COMMAND nm --undefined-only ${BINARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${BINARY}")
endif()
string(REGEX MATCHALL "[^\n]* (wcs|wmem|_wcs)[A-Za-z_0-9@.]*|[^\n]*char_traitsIwE[^\n]*" found "${undefined}")
if(found)
  message(FATAL_ERROR "${BINARY} calls 4-byte wide-character code:\n${found}")
endif()
