#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;
using tarnel::test::solidPicture;
namespace fs = std::filesystem;

namespace {

void touch(const std::string& path) { std::ofstream(path) << "x"; }

std::vector<std::string> pathsOf(const std::vector<DriveEntry>& drives) {
    std::vector<std::string> out;
    for (const DriveEntry& d : drives) out.push_back(d.path);
    return out;
}

const char* kMounts =
    "overlay / overlay rw,relatime 0 0\n"
    "proc /proc proc rw,nosuid 0 0\n"
    "/dev/sdb1 /media/anna/USB\\040STICK vfat rw 0 0\n"
    "/dev/sdc1 /run/media/anna/CAMERA exfat rw 0 0\n"
    "/dev/sdd1 /mnt/backup ext4 rw 0 0\n"
    "/dev/sda2 /home ext4 rw 0 0\n"
    "/dev/sde1 /media/anna/Archive ext4 rw 0 0\n"
    "/dev/sdd1 /mnt/backup ext4 rw 0 0\n"
    "tmpfs /run tmpfs rw 0 0\n"
    "broken-line\n";

TEST(ListDrives, OffersRootHomeAndRemovableMedia) {
    auto drives = ListDrives(kMounts, "/home/anna/");
    EXPECT_EQ(pathsOf(drives), (std::vector<std::string>{"/", "/home/anna", "/media/anna/Archive",
                                                          "/media/anna/USB STICK", "/mnt/backup",
                                                          "/run/media/anna/CAMERA"}));
    EXPECT_EQ(drives[0].text, "/");
    EXPECT_EQ(drives[3].text, "/media/anna/USB STICK");
}

TEST(ListDrives, WithoutATableThereIsStillTheRoot) {
    EXPECT_EQ(pathsOf(ListDrives("", "")), (std::vector<std::string>{"/"}));
    EXPECT_EQ(pathsOf(ListDrives("", "relative/home")), (std::vector<std::string>{"/"}));
    EXPECT_EQ(pathsOf(ListDrives("", "/")), (std::vector<std::string>{"/"}));
    EXPECT_FALSE(ListDrives().empty());
}

TEST(DriveIndexOf, TakesTheDeepestDriveHoldingThePath) {
    auto drives = ListDrives(kMounts, "/home/anna");
    struct Case {
        const char* path;
        int drive;
    } cases[] = {
        {"/", 0},
        {"/work/frames", 0},
        {"/home/anna", 1},
        {"/home/anna/pictures/20260101-10-00-00", 1},
        {"/home/annabel", 0},
        {"/media/anna/USB STICK/a", 3},
        {"/mnt/backup", 4},
    };
    for (const Case& c : cases) EXPECT_EQ(DriveIndexOf(drives, c.path), c.drive) << c.path;
    EXPECT_EQ(DriveIndexOf({}, "/x"), -1);
}

TEST(CheckFolder, AMissingDeviceIsNotReady) {
    TempDir dir;
    FolderError error;
    EXPECT_TRUE(CheckFolder(dir.path().string(), &error));
    EXPECT_FALSE(CheckFolder(dir.file("gone"), &error));
    EXPECT_TRUE(error.notReady);
    EXPECT_EQ(DriveErrorMessage("/media/anna/USB", error), "ﾄﾞﾗｲﾌﾞ/media/anna/USB は、準備されていません。");
}

TEST(CheckFolder, OtherErrorsNameTheirNumberInHexadecimal) {
    TempDir dir;
    touch(dir.file("plain"));
    FolderError error;
    EXPECT_FALSE(CheckFolder(dir.file("plain"), &error));
    EXPECT_FALSE(error.notReady);
    EXPECT_EQ(error.number, ENOTDIR);
    EXPECT_EQ(DriveErrorMessage("/x", error), "Tarnel: &H14\n" + error.description);
    FolderError other{false, 0x1A2B, "something"};
    EXPECT_EQ(DriveErrorMessage("/x", other), "Tarnel: &H1A2B\nsomething");
}

TEST(MatchesFilePattern, TheFourFrameKindsWithoutRegardToCase) {
    struct Case {
        const char* name;
        bool match;
    } cases[] = {
        {"000.bmp", true}, {"001.JPG", true},  {"a.Gif", true},     {"x.png", true},
        {"y.jpeg", false}, {".bmp", false},    {"bmp", false},      {"a.bmp.txt", false},
        {"a.gif", true},   {"frame.jpg", true}, {"000.bm", false}, {"y.webp", false}, {"001.PNG", true},
    };
    for (const Case& c : cases) EXPECT_EQ(MatchesFilePattern(c.name, kFrameFilePattern), c.match) << c.name;
    EXPECT_TRUE(MatchesFilePattern("anything", "*.*"));
    EXPECT_TRUE(MatchesFilePattern("Exact.TXT", "exact.txt"));
}

TEST(ListPatternFiles, ImagesOnlyInAlphabeticalOrder) {
    TempDir dir;
    for (const char* name : {"b.JPG", "A.bmp", "010.bmp", "002.gif", "x.png", "y.jpeg", "1000.bmp", "101.bmp", "z.webp"})
        touch(dir.file(name));
    fs::create_directory(dir.path() / "d.bmp");
    EXPECT_EQ(ListPatternFiles(dir.path().string()),
              (std::vector<std::string>{"002.gif", "010.bmp", "1000.bmp", "101.bmp", "A.bmp", "b.JPG", "x.png"}));
    EXPECT_TRUE(ListPatternFiles(dir.file("missing")).empty());
}

// The program folder holds the editor's session and working copies beside
// its settings: none of them is a frame, whatever its extension.
TEST(ListPatternFiles, TheProgramsOwnFilesAreNoFrames) {
    TempDir dir;
    for (const char* name : {"000.bmp", "001.bmp", "Tarnel.session.json", "Tarnel.session.0.bmp",
                             "Tarnel.session.0123456789abcdef.3.bmp", "temp00.tarnel-tmp-0123456789abcdef.bmp",
                             "AVI_Temp.tarnel-tmp-fedcba9876543210.bmp", "Tarnel.ini", "Tarnel.sessions.bmp"})
        touch(dir.file(name));
    EXPECT_EQ(ListPatternFiles(dir.path().string()),
              (std::vector<std::string>{"000.bmp", "001.bmp", "Tarnel.sessions.bmp"}));
    FolderChooser chooser(ListDrives("", dir.path().string()));
    ASSERT_TRUE(chooser.setFolder(dir.path().string()));
    EXPECT_EQ(chooser.fileCount(), 3);
}

TEST(ListSubfolders, VisibleFoldersInAlphabeticalOrder) {
    TempDir dir;
    for (const char* name : {"beta", "Alpha", ".hidden", "20260101-10-00-00"}) fs::create_directory(dir.path() / name);
    touch(dir.file("file"));
    EXPECT_EQ(ListSubfolders(dir.path().string()),
              (std::vector<std::string>{"20260101-10-00-00", "Alpha", "beta"}));
}

TEST(FolderChain, FromTheDriveDownToTheFolder) {
    EXPECT_EQ(FolderChain("/", "/work/main/x"), (std::vector<std::string>{"/", "/work", "/work/main", "/work/main/x"}));
    EXPECT_EQ(FolderChain("/home/anna", "/home/anna/p"), (std::vector<std::string>{"/home/anna", "/home/anna/p"}));
    EXPECT_EQ(FolderChain("/", "/"), (std::vector<std::string>{"/"}));
    EXPECT_EQ(FolderChain("/media/x", "/work"), (std::vector<std::string>{"/work"}));
    EXPECT_EQ(JoinFolder("/", "a"), "/a");
    EXPECT_EQ(JoinFolder("/b", "a"), "/b/a");
}

TEST(PreviewSizeFor, NinetyThreeOnTheLongerSideRoundedHalfToEven) {
    struct Case {
        int w, h, pw, ph;
    } cases[] = {
        {200, 150, 93, 70},  // 69.75
        {150, 200, 70, 93},
        {100, 100, 93, 93},
        {2, 1, 93, 46},      // 46.5 to even
        {6, 1, 93, 16},      // 15.5 to even
        {1, 2, 46, 93},
        {1920, 1080, 93, 52},  // 52.3125
        {1000, 1, 93, 1},      // 0.093: one line stays
        {0, 10, 0, 0},
    };
    for (const Case& c : cases) {
        PreviewSize s = PreviewSizeFor(c.w, c.h);
        EXPECT_EQ(s.width, c.pw) << c.w << "x" << c.h;
        EXPECT_EQ(s.height, c.ph) << c.w << "x" << c.h;
    }
}

TEST(DrawPreview, StretchesThePictureInsideARaisedEdge) {
    StdPicture picture = solidPicture(200, 150, 0x0000FF);
    for (int y = 0; y < 150; ++y)
        for (int x = 100; x < 200; ++x) picture.bitmap->setPixelValue(x, y, 0x00FF00);
    PictureBox preview;
    ASSERT_TRUE(DrawPreview(picture, preview));
    EXPECT_EQ(preview.scaleWidth(), 93);
    EXPECT_EQ(preview.scaleHeight(), 70);
    EXPECT_EQ(preview.image().pixelValue(20, 35), 0x0000FFu);
    EXPECT_EQ(preview.image().pixelValue(70, 35), 0x00FF00u);
    // Light outer edge at the top-left, dark at the bottom-right.
    EXPECT_NE(preview.image().pixelValue(0, 0), 0x0000FFu);
    EXPECT_NE(preview.image().pixelValue(92, 69), 0x00FF00u);
    EXPECT_NE(preview.image().pixelValue(0, 0), preview.image().pixelValue(92, 69));
    EXPECT_FALSE(DrawPreview(StdPicture{}, preview));
}

TEST(FolderChooser, ListsTheFolderAndCountsItsImages) {
    TempDir dir;
    for (const char* name : {"002.bmp", "000.bmp", "001.bmp", "notes.txt"}) touch(dir.file(name));
    fs::create_directory(dir.path() / "sub");
    FolderChooser chooser(ListDrives("", ""));
    ASSERT_TRUE(chooser.setFolder(dir.path().string() + "/"));
    EXPECT_EQ(chooser.folder(), dir.path().string());
    EXPECT_EQ(chooser.driveIndex(), 0);
    EXPECT_EQ(chooser.files(), (std::vector<std::string>{"000.bmp", "001.bmp", "002.bmp"}));
    EXPECT_EQ(chooser.fileCount(), 3);
    EXPECT_EQ(chooser.filePath(1), dir.file("001.bmp"));
    EXPECT_EQ(chooser.filePath(3), "");
    EXPECT_EQ(chooser.subfolders(), (std::vector<std::string>{"sub"}));
}

TEST(FolderChooser, AFolderThatCannotBeListedChangesNothing) {
    TempDir dir;
    touch(dir.file("000.jpg"));
    FolderChooser chooser(ListDrives("", ""));
    ASSERT_TRUE(chooser.setFolder(dir.path().string()));
    FolderError error;
    EXPECT_FALSE(chooser.setFolder(dir.file("gone"), &error));
    EXPECT_TRUE(error.notReady);
    EXPECT_EQ(chooser.folder(), dir.path().string());
    EXPECT_EQ(chooser.fileCount(), 1);
}

TEST(FolderChooser, ADriveThatIsNotThereKeepsTheDriveAndFolder) {
    TempDir dir;
    std::vector<DriveEntry> drives{{"/", "/"}, {"usb", dir.file("unplugged")}};
    FolderChooser chooser(drives);
    ASSERT_TRUE(chooser.setFolder(dir.path().string()));
    FolderError error;
    EXPECT_FALSE(chooser.setDrive(1, &error));
    EXPECT_TRUE(error.notReady);
    EXPECT_EQ(chooser.driveIndex(), 0);
    EXPECT_EQ(chooser.folder(), dir.path().string());
    fs::create_directory(dir.path() / "unplugged");
    EXPECT_TRUE(chooser.setDrive(1, &error));
    EXPECT_EQ(chooser.driveIndex(), 1);
    EXPECT_EQ(chooser.folder(), dir.file("unplugged"));
    EXPECT_FALSE(chooser.setDrive(2));
}

TEST(FolderChooser, AcceptsOnlyAFolderWithFrame000) {
    struct Case {
        std::vector<const char*> files;
        bool accepted;
    } cases[] = {
        {{"000.bmp", "001.bmp"}, true},
        {{"000.jpg", "001.jpg"}, true},
        {{"000.gif"}, true},
        {{"001.bmp", "002.bmp"}, false},
        {{"frame0.bmp", "a.jpg"}, false},
        {{"000.png", "001.png"}, true},
        {{"000.webp"}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (const char* name : c.files) touch(dir.file(name));
        FolderChooser chooser(ListDrives("", ""));
        ASSERT_TRUE(chooser.setFolder(dir.path().string()));
        EXPECT_EQ(chooser.folderHoldsFrames(), c.accepted) << (c.files.empty() ? "(empty)" : c.files[0]);
    }
    EXPECT_FALSE(FolderChooser({}).folderHoldsFrames());
}

TEST(FolderChooser, APreviewOfTheFirstImage) {
    TempDir dir;
    ASSERT_TRUE(SavePictureBMP(solidPicture(40, 80, 0x336699), dir.file("000.bmp")));
    FolderChooser chooser(ListDrives("", ""));
    ASSERT_TRUE(chooser.setFolder(dir.path().string()));
    StdPicture first;
    ASSERT_TRUE(LoadPicture(chooser.filePath(0), first));
    PictureBox preview;
    ASSERT_TRUE(DrawPreview(first, preview));
    EXPECT_EQ(preview.scaleWidth(), 46);  // 46.5 to even
    EXPECT_EQ(preview.scaleHeight(), 93);
}

}  // namespace
