// Cutting a patch's target list into product codes.
#include <gtest/gtest.h>

#include "SplitProductCodes.h"

TEST(SplitProductCodes, CutsAtEverySemicolonKeepingEmptyPieces)
{
    struct Case {
        const wchar_t* text;
        std::vector<std::wstring> pieces;
    };
    const Case cases[] = {
        {L"A;B", {L"A", L"B"}}, {L"A;B;", {L"A", L"B"}},
        {L";A", {L"", L"A"}},   {L"A;;B", {L"A", L"", L"B"}},
        {L";", {L""}},          {L"", {}},
        {L"A", {L"A"}},         {L" A ; B", {L" A ", L" B"}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> pieces;
        SplitProductCodes(c.text, pieces);
        EXPECT_EQ(pieces, c.pieces) << "text: " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(SplitProductCodes, AppendsToWhatTheListHolds)
{
    std::vector<std::wstring> codes{L"X"};
    SplitProductCodes(L"A;B", codes);
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"X", L"A", L"B"}));
}
