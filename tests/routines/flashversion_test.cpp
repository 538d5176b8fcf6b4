#include "routines/flashversion.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "classlib/sysutils.h"
#include "routines/fileversion.h"

namespace {

const char* const kProgIdKey = "ShockwaveFlash.ShockwaveFlash\\CLSID";
const char* const kTestClsid = "{6D2B1E50-1F0B-4C1E-9E0A-5A1B2C3D4E5F}";

std::string ReadDefault(const std::string& key, bool* exists) {
    char value[1024] = {0};
    LONG size = sizeof(value);
    *exists = RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) == ERROR_SUCCESS;
    return value;
}

void WriteDefault(const std::string& key, const std::string& value) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size())), ERROR_SUCCESS);
}

// Registers the control's two keys for one case and puts back what was there afterwards.
class FlashRegistration : public ::testing::Test {
protected:
    void SetUp() override { saved_ = ReadDefault(kProgIdKey, &hadProgId_); }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kTestClsid).c_str());
        if (hadProgId_) {
            WriteDefault(kProgIdKey, saved_);
        } else {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, "ShockwaveFlash.ShockwaveFlash");
        }
    }
    void Register(const std::string& controlFile) {
        WriteDefault(kProgIdKey, kTestClsid);
        WriteDefault(std::string("CLSID\\") + kTestClsid + "\\InprocServer32", controlFile);
    }
    static std::string Here(const std::string& name) { return ExeFolder() + name; }
    std::string saved_;
    bool hadProgId_ = false;
};

}  // namespace

TEST_F(FlashRegistration, MajorVersionOfTheRegisteredFile) {
    struct Case {
        const char* file;
        int version;
    } cases[] = {{"fakeflash7.dll", 7}, {"fakeflash8.dll", 8}, {"fakeflash10.dll", 10}};
    for (const Case& c : cases) {
        Register(Here(c.file));
        EXPECT_EQ(GetFlashVersion(), c.version) << c.file;
    }
}

TEST_F(FlashRegistration, MissingPiecesReadAsVersionZero) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "ShockwaveFlash.ShockwaveFlash");
    EXPECT_EQ(GetFlashVersion(), 0) << "no key";

    Register(Here("no-such-control.dll"));
    EXPECT_EQ(GetFlashVersion(), 0) << "missing file";

    Register(ExeName());  // a file without a version resource
    EXPECT_EQ(GetFlashVersion(), 0) << "no version resource";

    WriteDefault(kProgIdKey, "{00000000-0000-0000-0000-00000000ABCD}");
    EXPECT_EQ(GetFlashVersion(), 0) << "class id without a server key";
}

TEST(FixedFileInfo, CopiesTheFieldsOrLeavesTheRecordUntouched) {
    TFixedFileInfo info{};
    GetFixedFileInfo(ExeFolder() + "fakeflash10.dll", info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, (10u << 16) | 3u);
    EXPECT_EQ(info.dwFileVersionLS, (2u << 16) | 1u);
    EXPECT_EQ(info.dwProductVersionMS, (10u << 16) | 3u);

    TFixedFileInfo untouched;
    std::memset(&untouched, 0xA5, sizeof(untouched));
    GetFixedFileInfo(ExeFolder() + "absent.dll", untouched);
    EXPECT_EQ(untouched.dwSignature, 0xA5A5A5A5u);
}
