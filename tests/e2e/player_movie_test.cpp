// The player with movies: command line, drops, View sizes, maximised windows, rejected files.
#include "tests/e2e/player_fixture.h"

using player::MoviePuts;
using player::PlayerTest;
using player::SwfBytes;

namespace {
const char* const kTitle = "Corvelline Flash Player";

class PlayerMovie : public PlayerTest {};
}  // namespace

TEST_F(PlayerMovie, CommandLineMovieSizesTheWindowAndLoadsTheControlInOrder) {
    std::string movie = Fixture("movie.swf", SwfBytes(550, 400, 0x336699));
    Start("\"" + movie + "\"");
    EXPECT_TRUE(WaitForClient(550, 419));
    EXPECT_EQ(Status(), "Frame Size: 550 x 400");
    EXPECT_EQ(Caption(), std::string("movie.swf - ") + kTitle);
    EXPECT_EQ(LogLines({"put "}), MoviePuts("0x336699", movie));
    EXPECT_TRUE(NoMessageBox());
    Screenshot("player-movie");
}

TEST_F(PlayerMovie, ExtensionDecidesWhatIsPlayed) {
    struct Case {
        const char* name;
        bool plays;
    } cases[] = {{"UPPER.SWF", true},
                 {"Mixed.Swf", true},
                 {"movie.swf.txt", false},
                 {"noextension", false},
                 {"dotted.folder\\movie", false}};
    CreateDirectoryA((folder_ + "dotted.folder").c_str(), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = Fixture(c.name, SwfBytes(200, 100, 0x112233));
        if (c.plays) {
            Start("\"" + path + "\"");
            EXPECT_TRUE(WaitForClient(200, 119));
            EXPECT_EQ(Status(), "Frame Size: 200 x 100");
            EXPECT_TRUE(NoMessageBox());
        } else {
            StartOnly("\"" + path + "\"");  // the file is played while the window is created
            ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
            ASSERT_NE(box.window, nullptr);
            EXPECT_EQ(box.caption, kTitle);
            EXPECT_EQ(box.text, "Invalid Flash File!");
            EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
            EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
            ui::PressButton(box.window, IDOK);
            WaitForMainWindow();
            EXPECT_EQ(Caption(), kTitle);
            EXPECT_TRUE(LogLines({"put "}).empty());
        }
        ui::Kill(program_);
        DeleteFileA(log_.c_str());
    }
}

TEST_F(PlayerMovie, InvalidHeaderIsRejectedAndNothingChanges) {
    std::string bad = Fixture("bad.swf",
                              {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Start();
    SIZE before = Client();
    ASSERT_NO_FATAL_FAILURE(DropExpectingErrorBox(bad, "Invalid SWF File!"));
    EXPECT_EQ(Client().cx, before.cx);
    EXPECT_EQ(Client().cy, before.cy);
    EXPECT_EQ(Caption(), kTitle);
    EXPECT_TRUE(LogLines({"put "}).empty());
}

TEST_F(PlayerMovie, MissingMovieEndsInTheDefaultErrorBox) {
    Start();
    ASSERT_NO_FATAL_FAILURE(DropExpectingErrorBox(folder_ + "absent.swf", ""));
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(Caption(), kTitle);
}

// A compressed movie whose body does not inflate: zlib's words in the error box, and none of
// the files it was unpacked into left in the temporary folder.
TEST_F(PlayerMovie, DamagedCompressedMovieEndsInTheErrorBoxAndLeavesNoTemporaryFile) {
    // A zlib header, then a last block of the reserved type 3.
    std::vector<uint8_t> bytes = swftest::Header("CWS", 100);
    for (uint8_t b : {0x78, 0x9C, 0x07, 0x00, 0x00, 0x00}) bytes.push_back(b);
    std::string movie = Fixture("damaged.swf", bytes);
    const std::string temp = player::TempFolder();
    for (const char* prefix : {"_$$$_", "_$1$_", "_$2$_"}) DeleteFileA((temp + prefix + "damaged.swf").c_str());
    Start();
    ASSERT_NO_FATAL_FAILURE(DropExpectingErrorBox(movie, "invalid block type."));
    for (const char* prefix : {"_$$$_", "_$1$_", "_$2$_"})
        EXPECT_EQ(GetFileAttributesA((temp + prefix + "damaged.swf").c_str()), INVALID_FILE_ATTRIBUTES) << prefix;
    EXPECT_EQ(Caption(), kTitle);
    EXPECT_TRUE(LogLines({"put "}).empty());
}

TEST_F(PlayerMovie, DroppingThreeFilesPlaysTheFirst) {
    std::string first = Fixture("first.swf", SwfBytes(300, 200, 0xFF0000));
    std::string second = Fixture("second.swf", SwfBytes(400, 300, 0x00FF00));
    std::string third = Fixture("third.txt", {'x'});
    Start();
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {first, second, third}));
    EXPECT_TRUE(WaitForClient(300, 219));
    EXPECT_EQ(Status(), "Frame Size: 300 x 200");
    EXPECT_EQ(Caption(), std::string("first.swf - ") + kTitle);
    EXPECT_EQ(LogLines({"put "}), MoviePuts("0xFF0000", first));
    EXPECT_TRUE(NoMessageBox());
    // The drop handle made in the player's memory was taken; a second drop works the same way.
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {second}));
    EXPECT_TRUE(WaitForClient(400, 319));
}

TEST_F(PlayerMovie, ViewSizesFollowTheFrame) {
    std::string movie = Fixture("movie.swf", SwfBytes(250, 150, 0));
    Start();
    Menu({"View", "Double Size"});  // nothing played yet: from 320 x 240
    EXPECT_TRUE(WaitForClient(640, 499));
    Menu({"View", "Original Size"});
    EXPECT_TRUE(WaitForClient(320, 259));
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {movie}));
    EXPECT_TRUE(WaitForClient(250, 169));
    Menu({"View", "Double Size"});
    EXPECT_TRUE(WaitForClient(500, 319));
    Menu({"View", "Original Size"});
    EXPECT_TRUE(WaitForClient(250, 169));
    EXPECT_TRUE(LogLines({"call "}).empty()) << "no requests in movie mode";
}

// Sizes the window cannot take (narrower than the smallest window, larger than the screen)
// leave every later size exact: the next movie or View command gives its client area, with the
// menu bar on one line and the status bar whole.
TEST_F(PlayerMovie, WindowFollowsTheFrameAfterSizesItCannotTake) {
    const player::SizeRun runs[] = {
        {"700 x 500, Ctrl+2 twice, Ctrl+1",
         {{700, 500, nullptr, 700, 519}, {0, 0, "ctrl+2", 0, 0}, {0, 0, "ctrl+2", 0, 0}, {0, 0, "ctrl+1", 700, 519}}},
        {"16 x 16 twice, then 200 x 150",
         {{16, 16, nullptr, 0, 0}, {16, 16, nullptr, 0, 0}, {200, 150, nullptr, 200, 169}}},
        {"larger than the screen twice, then 200 x 150",
         {{2000, 1500, nullptr, 0, 0}, {2000, 1500, nullptr, 0, 0}, {200, 150, nullptr, 200, 169}}},
    };
    for (const player::SizeRun& run : runs) {
        RunSizes(run, false);
        Screenshot("player-sizes-" + std::to_string(&run - runs));
        ui::Kill(program_);
        DeleteFileA(log_.c_str());
    }
}

TEST_F(PlayerMovie, NewMovieRestoresAMaximisedWindowButOriginalSizeDoesNot) {
    std::string movie = Fixture("movie.swf", SwfBytes(550, 400, 0x336699));
    Start();
    PostMessageA(window_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ui::Pause(500);
    ASSERT_TRUE(IsZoomed(window_));
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {movie}));
    EXPECT_TRUE(WaitForClient(550, 419));
    EXPECT_FALSE(IsZoomed(window_));
    // The window takes its size before the drop's handler ends: maximise once the movie is set.
    EXPECT_TRUE(WaitForLog("put Movie " + movie));
    PostMessageA(window_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ui::Pause(500);
    ASSERT_TRUE(IsZoomed(window_));
    Menu({"View", "Original Size"});
    EXPECT_TRUE(IsZoomed(window_));
}

TEST_F(PlayerMovie, ExitEndsTheProgram) {
    Start();
    Menu({"File", "Exit"});
    DWORD code = 99;
    EXPECT_TRUE(ui::WaitForExit(program_, 10000, &code));
    EXPECT_EQ(code, 0u);
}
