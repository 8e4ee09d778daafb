// How the stand-ins and the checks of the updater's payload fuzzer report a finding: one line
// on stderr, then abort(), which libFuzzer reports as a crash and saves the input that caused it.
#pragma once

[[noreturn]] void StopOnFault(const char* what);
