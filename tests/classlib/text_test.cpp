// Text conversions of the class library: integers read from text, and text made fit for XML.
#include <gtest/gtest.h>

#include <string>

#include "classlib/sysutils.h"
#include "classlib/xmldoc.h"

namespace {

struct IntCase {
    const char* text;
    int value;
};

TEST(StrToInt, ReadsSignedDecimalsWithBlanksAround) {
    const IntCase cases[] = {
        {"0", 0},
        {"42", 42},
        {"+7", 7},
        {"-15", -15},
        {"  320 ", 320},
        {"\t240\r\n", 240},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const IntCase& c : cases) EXPECT_EQ(StrToInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrToInt, RefusesWhatIsNoIntegerNamingTheTrimmedText) {
    const char* const cases[] = {
        "", "   ", "-", "+", "12a", "1 2", "0x10", "3.5", "2147483648", "-2147483649", "99999999999999999999"};
    for (const char* text : cases) {
        try {
            StrToInt(text);
            ADD_FAILURE() << '"' << text << "\" was accepted";
        } catch (const EConvertError& e) {
            std::string trimmed = text;
            trimmed.erase(0, trimmed.find_first_not_of(" \t\r\n"));
            trimmed.erase(trimmed.find_last_not_of(" \t\r\n") + 1);
            EXPECT_EQ(std::string(e.what()), "'" + trimmed + "' is not a valid integer value");
        }
    }
}

TEST(XmlEscape, WritesTheThreeMarkupCharactersAsEntities) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"C:\\Videos\\clip.flv", "C:\\Videos\\clip.flv"},
        {"Tom & Jerry <1>.flv", "Tom &amp; Jerry &lt;1&gt;.flv"},
        {"&amp;", "&amp;amp;"},
        {"'quoted' \"names\"", "'quoted' \"names\""},
    };
    for (const auto& [text, escaped] : cases) EXPECT_EQ(XmlEscape(text), escaped) << text;
}

}  // namespace
