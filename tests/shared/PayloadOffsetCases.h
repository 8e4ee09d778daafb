// Cases of the payload-offset rule (where the payload begins behind an image: the end of the
// raw data of the section with the greatest PointerToRawData, ties to the earlier section),
// which the updater applies to its own image and the packer to the stub it appends to, with
// code of their own in two build trees. Both test suites run every case here through their
// code, so the two cannot come to disagree. Standard C++ only.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sharedcases {

// The image's flavour decides the NT headers' size, and with it where the section table lies.
enum class ImageFlavour { Pe32, Pe32Plus };

struct ImageSection {
    uint32_t pointer;  // PointerToRawData
    uint32_t size;     // SizeOfRawData
};

struct PayloadOffsetCase {
    std::string what;
    ImageFlavour flavour;
    uint32_t ntOffset;  // e_lfanew
    std::vector<ImageSection> sections;
    uint32_t payloadOffset;
    uint32_t lastSection;  // the section that decides it
};

// Every case in both flavours: the PE32 rows as written, then the same images as PE32+.
inline const std::vector<PayloadOffsetCase>& PayloadOffsetCases()
{
    using F = ImageFlavour;
    static const std::vector<PayloadOffsetCase> cases = [] {
        std::vector<PayloadOffsetCase> rows = {
            {"one section", F::Pe32, 0x80, {{0x400, 0x200}}, 0x600, 0},
            {"furthest section last in the table", F::Pe32, 0x40, {{0x200, 0x200}, {0x400, 0x600}}, 0xA00, 1},
            {"furthest section first in the table", F::Pe32, 0x40, {{0x800, 0x200}, {0x200, 0x400}}, 0xA00, 0},
            {"furthest section in the middle",
             F::Pe32,
             0x80,
             {{0x400, 0x200}, {0x9000, 0x800}, {0x600, 0x8000}},
             0x9800,
             1},
            {"pointer decides, not end", F::Pe32, 0x40, {{0x200, 0x1000}, {0x400, 0x200}}, 0x600, 1},
            {"tie keeps the earlier section", F::Pe32, 0x40, {{0x400, 0x200}, {0x400, 0x600}}, 0x600, 0},
            {"tie behind a lower pointer", F::Pe32, 0x80, {{0x400, 0x200}, {0x800, 0x100}, {0x800, 0x300}}, 0x900, 1},
            {"all pointers zero take section 0", F::Pe32, 0x40, {{0, 0x300}, {0, 0x500}}, 0x300, 0},
            {"furthest section has no raw data", F::Pe32, 0x40, {{0x400, 0x200}, {0x600, 0}}, 0x600, 1},
            {"NT headers far from the DOS header", F::Pe32, 0x1F0, {{0x400, 0x200}, {0x600, 0x1000}}, 0x1600, 1},
            {"the furthest the updater can seek", F::Pe32, 0x80, {{0x400, 0x200}, {0x7FFFF000, 0xFFF}}, 0x7FFFFFFF, 1},
        };
        size_t count = rows.size();
        for (size_t i = 0; i < count; ++i) {
            PayloadOffsetCase plus = rows[i];
            plus.what += " (PE32+)";
            plus.flavour = F::Pe32Plus;
            rows.push_back(plus);
        }
        return rows;
    }();
    return cases;
}

// The headers of an image for a case: DOS header, NT headers of the flavour at ntOffset, and
// the section table; no section data. Also what a loader needs to take it for an image.
inline std::vector<uint8_t> MakeCaseImage(const PayloadOffsetCase& c)
{
    const bool plus = c.flavour == ImageFlavour::Pe32Plus;
    const uint32_t optionalSize = plus ? 240 : 224;
    const size_t table = c.ntOffset + 24 + optionalSize;
    std::vector<uint8_t> image(table + 40 * c.sections.size(), 0);
    auto put16 = [&](size_t at, uint16_t v) { memcpy(&image[at], &v, 2); };
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&image[at], &v, 4); };
    image[0] = 'M';
    image[1] = 'Z';
    put32(0x3C, c.ntOffset);
    memcpy(&image[c.ntOffset], "PE\0\0", 4);
    const size_t file = c.ntOffset + 4;
    put16(file, plus ? 0x8664 : 0x14C);
    put16(file + 2, static_cast<uint16_t>(c.sections.size()));
    put16(file + 16, static_cast<uint16_t>(optionalSize));
    put16(file + 18, plus ? 0x0022 : 0x0102);  // executable; large-address-aware or 32-bit
    const size_t optional = c.ntOffset + 24;
    put16(optional, plus ? 0x20B : 0x10B);
    put32(optional + 32, 0x1000);             // section alignment
    put32(optional + 36, 0x200);              // file alignment
    put16(optional + 68, 2);                  // GUI
    put32(optional + (plus ? 108 : 92), 16);  // data directories
    for (size_t i = 0; i < c.sections.size(); ++i) {
        size_t header = table + 40 * i;
        memcpy(&image[header], ".s", 2);
        put32(header + 8, c.sections[i].size);
        put32(header + 12, 0x1000 * static_cast<uint32_t>(i + 1));
        put32(header + 16, c.sections[i].size);
        put32(header + 20, c.sections[i].pointer);
    }
    return image;
}

}  // namespace sharedcases
