// Cutting a patch's target list ("A;B;...") into product codes.
#pragma once

#include <string>
#include <vector>

// Appends the semicolon-separated pieces of text to codes (which is not cleared). Nothing
// is trimmed or checked; an empty piece between two semicolons is kept as an empty code,
// a final semicolon adds nothing.
void SplitProductCodes(const std::wstring& text, std::vector<std::wstring>& codes);
