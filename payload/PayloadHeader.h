// Where the payload begins behind the program's image, and the reader of its header (the
// product name and version). Main thread, at start-up.
#pragma once

#include <cstdint>

#include "RunRecord.h"

// P: the end of the raw data of the section lying furthest into the file. Computed from the
// program's own image on the first call and cached.
uint32_t GetPayloadOffset();

// P for the image of this program's own flavour whose DOS header is at the given address
// (section table right after the NT headers: 248 bytes for PE32, 264 for PE32+; ties go to the
// earlier section).
uint32_t PayloadOffsetOfImage(const uint8_t* image);

// The file offset of the image's certificate table (security data directory), or 0.
uint32_t CertificateTableOffsetOfImage(const uint8_t* image);

enum : int {
    PayloadHeaderRead = 0,
    PayloadMissing = 1,
    PayloadHeaderUnreadable = 2,
};

// Reads name and version from appState.payloadFile into appState. 0: read, the file stands at
// the entry count; 1: nothing carried; 2: unreadable (one line logged and recorded).
int ReadPayloadHeader(RunRecord& record);
