// Splits the PID_TEMPLATE text of a patch, which lists the products it targets. Keeps no
// state; any thread.
#include "SplitProductCodes.h"

void SplitProductCodes(const std::wstring& text, std::vector<std::wstring>& codes)
{
    size_t position = 0;
    while (position < text.size()) {
        size_t semicolon = text.find(L';', position);
        if (semicolon == std::wstring::npos)
            break;
        codes.push_back(text.substr(position, semicolon - position));
        position = semicolon + 1;
    }
    if (position < text.size())
        codes.push_back(text.substr(position));
}
