// Cases of the carried-file-name rule, which the updater (before it creates a file) and the
// packer (before it packs one) each apply with code of their own, one in each build tree.
// Both test suites run every case here, so the two cannot come to disagree. Standard C++ only.
#pragma once

#include <string>
#include <vector>

namespace sharedcases {

struct FileNameCase {
    std::u16string name;
    // Empty when the name is accepted; otherwise a word of the packer's reason, which the
    // updater, which gives no reason, reads as "refused".
    const char* refusal;
};

inline const std::vector<FileNameCase>& FileNameCases()
{
    static const std::vector<FileNameCase> cases = {
        {u"patch.msp", ""},
        {u"Update-KB1.msp", ""},
        {u"KB 1234 (x64).msp", ""},
        {u"Pr\u00FCfung \u2013 \u00FCn\u00EFcode \u2713.msp", ""},
        {u".hidden", ""},
        {u"CONSOLE.msp", ""},
        {u"console.msp", ""},
        {u"COM10.msp", ""},
        {u"com10.msp", ""},
        {u"lpt0.msp", ""},
        // A Windows file name, so an updater that carries one still extracts it; only the
        // packer's patch-list check refuses to pack it.
        {u"fix;1.msp", ""},
        {std::u16string(259, u'x'), ""},
        {u"", "empty"},
        {u".", "dot or a space"},
        {u"..", "dot or a space"},
        {u"dot.", "dot or a space"},
        {u"update.msp.", "dot or a space"},
        {u"space ", "dot or a space"},
        {u"update.msp ", "dot or a space"},
        {u"..\\escape.msp", "'\\'"},
        {u"sub/escape.msp", "'/'"},
        {u"a.msp:stream", "':'"},
        {u"C:escape.msp", "':'"},
        {u"a:b.msp", "':'"},
        {u"what?.msp", "'?'"},
        {u"a*.msp", "'*'"},
        {u"quote\".msp", "'\"'"},
        {u"a<b.msp", "'<'"},
        {u"a>b.msp", "'>'"},
        {u"a|b", "'|'"},
        {u"tab\t.msp", "control character"},
        {u"bell\x0007.msp", "control character"},
        {u"CON", "device"},
        {u"con", "device"},
        {u"con.msp.old", "device"},
        {u"Nul.msp", "device"},
        {u"nul.msp", "device"},
        {u"aux .msp", "device"},
        {u"PRN.txt", "device"},
        {u"COM1.msp", "device"},
        {u"com1.txt", "device"},
        {u"lpt9", "device"},
        {u"COM\u00B9.msp", "device"},
        {u"LPT\u00B3", "device"},
        {std::u16string(260, u'x'), "259"},
    };
    return cases;
}

}  // namespace sharedcases
