// The updater raises no exceptions and is compiled without them. The few places where the
// standard library would throw (an allocation that fails, a string or vector asked to grow
// past its maximum) end the process here instead, with a log line and exit code 8
// (ERROR_NOT_ENOUGH_MEMORY), never with the runtime's abort box, which nobody could answer in
// an unattended run. This keeps the library's exception objects, its unwinder and its verbose terminate
// handler (with a demangler and a printf) out of the program. Linked into the updater only;
// the tests keep the library's own versions. Any thread.
#include <cstdlib>
#include <new>

#include "FatalExit.h"

[[noreturn]] static void OutOfMemoryOrBadLength()
{
    ExitForFatalFailure(L"Out of memory.", ERROR_NOT_ENOUGH_MEMORY);
}

void* operator new(std::size_t size)
{
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
        OutOfMemoryOrBadLength();
    return block;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

#if defined(__GLIBCXX__)
// What libstdc++'s containers and strings call where they would throw. Defining them here
// keeps the library's versions, which throw, from being linked.
namespace std {
void __throw_bad_alloc()
{
    OutOfMemoryOrBadLength();
}
void __throw_bad_array_new_length()
{
    OutOfMemoryOrBadLength();
}
void __throw_length_error(const char*)
{
    OutOfMemoryOrBadLength();
}
void __throw_logic_error(const char*)
{
    OutOfMemoryOrBadLength();
}
void __throw_out_of_range_fmt(const char*, ...)
{
    OutOfMemoryOrBadLength();
}
}  // namespace std
#endif
