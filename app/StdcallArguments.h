// The argument size that a 32-bit stdcall function's decorated name carries ("@N"): the bytes
// its caller pushes, each argument rounded up to whole 4-byte stack slots. Import pointers are
// named by hand with that number; a static_assert against this keeps a typo, or a signature
// that changes under a new SDK, from linking against a name that does not exist (or worse,
// binding silently to the import library's own pointer).
#pragma once

#include <cstddef>

template <typename Function>
struct StdcallArguments;

template <typename Result, typename... Arguments>
struct StdcallArguments<Result(__stdcall*)(Arguments...)> {
    static constexpr std::size_t bytes = (std::size_t{0} + ... + ((sizeof(Arguments) + 3) / 4 * 4));
};
