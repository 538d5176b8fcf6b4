#include "routines/widetext.h"

#include <gtest/gtest.h>

TEST(StringToWide, KeepsEveryCharacterOfSingleByteText) {
    struct Case {
        std::string in;
        std::wstring out;
    } cases[] = {
        {"", L""},
        {"a", L"a"},
        {"C:\\Movies\\clip.flv", L"C:\\Movies\\clip.flv"},
        {"<invoke name=\"Play\">", L"<invoke name=\"Play\">"},
        {"caf\xE9", L"caf\u00E9"},  // ANSI code page 1252
    };
    for (const Case& c : cases) {
        std::wstring w = StringToWide(c.in);
        EXPECT_EQ(w, c.out) << c.in;
        EXPECT_EQ(w.size(), c.in.size());
    }
}
