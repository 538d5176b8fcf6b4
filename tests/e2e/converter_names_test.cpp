// Any file name the user may choose reaches the tool as it is, Shift held or not: the argument
// string the tool receives is the one the dialog's rule gives, the log lands beside the input
// under the input's name, and no other file of the folder changes. Beside each input lie the
// files that a command interpreter's reading of the name would hit instead (qWindows_NT.* for
// q%OS%.flv: the prefix's OS variable is Windows_NT).
#include <map>

#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

struct NameCase {
    const char* name;
    const char* input;  // in the data folder
    bool shift;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

const NameCase kNameCases[] = {
    {"percent_variable", "q%OS%.flv", false},
    {"percent_variable_shift", "q%OS%.flv", true},
    {"percent_unset_variable", "50% off %NO_SUCH_NAME%.flv", false},
    {"percent_unset_variable_shift", "50% off %NO_SUCH_NAME%.flv", true},
    {"caret_ampersand_semicolon", "a^b & c;d.flv", false},
    {"caret_ampersand_semicolon_shift", "a^b & c;d.flv", true},
    {"bang_parentheses", "x!OS! (1).flv", false},
    {"bang_parentheses_shift", "x!OS! (1).flv", true},
    {"spaces", " two  spaces .flv", false},
    {"spaces_shift", " two  spaces .flv", true},
};

// Every file of a folder (not its subfolders) by name, with its content.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[found.cFileName] = conv::ReadFile(folder + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

// The names of the files that are new, gone or changed in after.
std::vector<std::string> ChangedFiles(const std::map<std::string, std::string>& before,
                                      const std::map<std::string, std::string>& after) {
    std::vector<std::string> changed;
    for (const auto& [name, content] : after) {
        auto old = before.find(name);
        if (old == before.end() || old->second != content) changed.push_back(name);
    }
    for (const auto& entry : before)
        if (!after.count(entry.first)) changed.push_back(entry.first + " (gone)");
    return changed;
}

std::string WithExtension(const std::string& name, const std::string& extension) {
    return name.substr(0, name.rfind('.')) + extension;
}

class ConverterNames : public ConverterTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ConverterNames, ToolAndLogGetExactlyThePathsOfTheName) {
    const NameCase& c = GetParam();
    UseTool(Tool::Recorder);
    const std::string name = c.input;
    const std::string input = dataDir_ + name, output = dataDir_ + WithExtension(name, ".avi"),
                      log = dataDir_ + WithExtension(name, ".log");
    conv::WriteVideo(input);
    conv::WriteFile(output, "an old output");
    DeleteFileA(log.c_str());
    conv::WriteVideo(dataDir_ + "qWindows_NT.flv");
    conv::WriteFile(dataDir_ + "qWindows_NT.avi", "another video of the user's");
    conv::WriteFile(dataDir_ + "qWindows_NT.log", "another log of the user's");
    const std::map<std::string, std::string> before = FolderFiles(dataDir_);

    StartDialog(Quoted(input));
    EXPECT_EQ(OutputText(), output);
    ClickConvert(c.shift);
    ASSERT_TRUE(WaitForCalls(1, 15000)) << "the tool was not started";
    EXPECT_TRUE(WaitUntilIdle(15000)) << "the conversion did not end: the tool was left asking";

    const std::string params = Params(input, conv::kAviOptions, output);
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(conv::Trimmed(calls[0]), params);
    EXPECT_EQ(conv::ReadFile(output), "converted by the ffmpeg stand-in\n");
    std::vector<std::string> named{WithExtension(name, ".avi")};
    if (c.shift) {
        std::string logged = conv::ReadFile(log);
        EXPECT_NE(logged.find("ffmpeg stand-in called with: " + params), std::string::npos) << "log: " << logged;
        named.push_back(WithExtension(name, ".log"));
    }
    EXPECT_EQ(ChangedFiles(before, FolderFiles(dataDir_)), named)
        << "files of the folder changed that the conversion does not name";
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, ConverterNames, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
