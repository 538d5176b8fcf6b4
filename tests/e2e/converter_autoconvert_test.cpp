// Convert's start-up and the "AutoConvert" value it shares with Glimmerdeck.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::StoredValue;

enum class Stored { Missing, KeyOnly, Dword0, Dword5, Text0, Binary1 };

struct AutoConvertCase {
    const char* name;
    Stored stored;
    bool withArgument;
    bool dialogShown;
    StoredValue after;  // REG_NONE: no value; with keyCreated false also no key
    bool keyAfter;
};
void PrintTo(const AutoConvertCase& c, std::ostream* os) { *os << c.name; }

const AutoConvertCase kCases[] = {
    {"no_argument_no_key", Stored::Missing, false, true, {REG_NONE, 0}, false},
    {"no_argument_value_0_not_read", Stored::Dword0, false, true, {REG_DWORD, 0}, true},
    {"argument_no_key", Stored::Missing, true, true, {REG_DWORD, 1}, true},
    {"argument_key_without_value", Stored::KeyOnly, true, true, {REG_DWORD, 1}, true},
    {"argument_value_0_ends_at_once", Stored::Dword0, true, false, {REG_DWORD, 0}, true},
    {"argument_value_5_counts_as_true", Stored::Dword5, true, true, {REG_DWORD, 1}, true},
    {"argument_text_value_counts_as_missing", Stored::Text0, true, true, {REG_DWORD, 1}, true},
    {"argument_binary_value_counts_as_missing", Stored::Binary1, true, true, {REG_DWORD, 1}, true},
};

void Store(Stored stored) {
    DWORD zero = 0, five = 5;
    BYTE one = 1;
    switch (stored) {
    case Stored::Missing: break;
    case Stored::KeyOnly: {
        HKEY key;
        RegCreateKeyA(HKEY_CURRENT_USER, conv::kGlimmerdeckKey, &key);
        RegCloseKey(key);
        break;
    }
    case Stored::Dword0: conv::StoreAutoConvert(REG_DWORD, &zero, sizeof(zero)); break;
    case Stored::Dword5: conv::StoreAutoConvert(REG_DWORD, &five, sizeof(five)); break;
    case Stored::Text0: conv::StoreAutoConvert(REG_SZ, "0", 2); break;
    case Stored::Binary1: conv::StoreAutoConvert(REG_BINARY, &one, 1); break;
    }
}

class ConverterAutoConvert : public ConverterTest, public ::testing::WithParamInterface<AutoConvertCase> {};

TEST_P(ConverterAutoConvert, DecidesTheDialogAndIsWrittenOnClose) {
    const AutoConvertCase& c = GetParam();
    Store(c.stored);
    std::string input = dataDir_ + "missing video.flv";  // need not exist
    program_ = ui::Start(runDir_ + "Convert.exe", c.withArgument ? Quoted(input) : "", dataDir_);
    ASSERT_TRUE(program_.process);
    if (!c.dialogShown) {
        DWORD code = 0xFFFF;
        ASSERT_TRUE(ui::WaitForExit(program_, 10000, &code)) << "ends at once";
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(ui::TopLevelWindows(program_.pid).empty());
    } else {
        dialog_ = ui::WaitForWindow(program_.pid, "TForm1", nullptr, 15000);
        ASSERT_TRUE(dialog_);
        ui::Pause(500);
        EXPECT_EQ(ui::WindowText(InputEdit()), c.withArgument ? input : "");
        if (c.withArgument) {
            EXPECT_EQ(OutputText(), dataDir_ + "missing video.avi");
        }
        EXPECT_EQ(Exit(), 0u);
    }
    StoredValue after = conv::ReadAutoConvert();
    EXPECT_EQ(after.type, c.after.type);
    EXPECT_EQ(after.value, c.after.value);
    EXPECT_EQ(conv::GlimmerdeckKeyExists(), c.keyAfter);
}

INSTANTIATE_TEST_SUITE_P(Values, ConverterAutoConvert, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Closing through the window's close box writes the value as the Exit button does.
TEST_F(ConverterTest, CloseBoxWritesAutoConvertToo) {
    StartDialog(Quoted(dataDir_ + "clip.flv"));
    PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 0xFFFF;
    ASSERT_TRUE(ui::WaitForExit(program_, 10000, &code));
    EXPECT_EQ(code, 0u);
    StoredValue after = conv::ReadAutoConvert();
    EXPECT_EQ(after.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(after.value, 1u);
}

}  // namespace
