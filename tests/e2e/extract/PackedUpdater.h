// Access to the updaters that make-updaters.sh packed for these scenarios, and the placing of
// a payload behind this test binary's own image, where the header reader looks for it.
#pragma once

#include <string>
#include <vector>

#include "TestFiles.h"

// A file of the fixture folder given as the binary's first argument.
std::wstring FixturePath(const std::wstring& name);

// The payload of a packed updater file: from its payload offset up to its certificate table
// or its end.
Bytes PayloadOf(const Bytes& updater);

// Writes a file that holds the given payload from this binary's own payload offset on, so that
// ReadPayloadHeader, run in this process on the file, reads it as an updater's payload.
bool WriteBehindOwnImage(const std::wstring& path, const Bytes& payload);
