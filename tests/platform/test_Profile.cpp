#include "platform/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::TempDir;
using test::writeText;

std::string get(const std::string& file, const char* section, const char* key, const char* def = "<none>") {
    return GetPrivateProfileString(section, key, def, file);
}

size_t entriesIn(const fs::path& folder) {
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    std::string file = dir.file("a.ini");
    EXPECT_EQ(get(file, "Section", "k", "dflt"), "dflt");
    writeText(file, "[Other]\nk=1\n[Section]\nj=2\n");
    EXPECT_EQ(get(file, "Missing", "k", "d1"), "d1");
    EXPECT_EQ(get(file, "Section", "k", "d2"), "d2");
    EXPECT_EQ(get(file, "Section", "j"), "2");
}

TEST(Profile, WriteCreatesFileAndSection) {
    TempDir dir;
    std::string file = dir.file("new.ini");
    ASSERT_TRUE(WritePrivateProfileString("Section", "行数", " 5", file));
    EXPECT_EQ(readText(file), "[Section]\n行数= 5\n");
    ASSERT_TRUE(WritePrivateProfileString("Second", "x", "y", file));
    EXPECT_EQ(readText(file), "[Section]\n行数= 5\n\n[Second]\nx=y\n");
    // The blank of the written number is trimmed away on reading, as the platform does.
    EXPECT_EQ(get(file, "Section", "行数"), "5");
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // no temporary file left behind
}

TEST(Profile, LookupIgnoresAsciiCaseAndTakesFirstMatch) {
    TempDir dir;
    std::string file = dir.file("c.ini");
    writeText(file, "[SECTION]\nKey=first\nkey=second\n[section]\nkey=third\n");
    EXPECT_EQ(get(file, "Section", "KEY"), "first");
    EXPECT_EQ(get(file, " Section ", " key "), "first");
    EXPECT_EQ(get(file, "section", "kEy"), "first");
    ASSERT_TRUE(WritePrivateProfileString("Section", "KEY", "new", file));
    // The stored spelling of the name is kept; the second section is untouched.
    EXPECT_EQ(readText(file), "[SECTION]\nKey=new\nkey=second\n[section]\nkey=third\n");
}

TEST(Profile, LinesAreTrimmedAndQuotesRemoved) {
    TempDir dir;
    std::string file = dir.file("t.ini");
    writeText(file,
             "  [ Section ]  \n"
             "; key=comment\n"
             "  spaced  =  value with blanks  \t\n"
             "quoted=\"  inner  \"\n"
             "single='x'\n"
             "half=\"open\n"
             "empty=\n"
             "novalue\n");
    EXPECT_EQ(get(file, "Section", "spaced"), "value with blanks");
    EXPECT_EQ(get(file, "Section", "quoted"), "  inner  ");
    EXPECT_EQ(get(file, "Section", "single"), "x");
    EXPECT_EQ(get(file, "Section", "half"), "\"open");
    EXPECT_EQ(get(file, "Section", "empty"), "");
    EXPECT_EQ(get(file, "Section", "novalue", "d"), "d");
    EXPECT_EQ(get(file, "Section", "; key", "d"), "d");
}

TEST(Profile, ValuesAreCutAtTheBufferSize) {
    TempDir dir;
    std::string file = dir.file("long.ini");
    std::string ascii(300, 'a');
    std::string japanese;
    for (int i = 0; i < 300; ++i) japanese += "表";
    ASSERT_TRUE(WritePrivateProfileString("S", "ascii", ascii, file));
    ASSERT_TRUE(WritePrivateProfileString("S", "jp", japanese, file));
    EXPECT_EQ(get(file, "S", "ascii"), std::string(255, 'a'));
    std::string cut = get(file, "S", "jp");
    EXPECT_EQ(cut.size(), 255u * 3u);  // 255 whole characters, never a broken one
    EXPECT_EQ(cut, japanese.substr(0, 255 * 3));
    EXPECT_EQ(GetPrivateProfileString("S", "ascii", "", file, 11), std::string(10, 'a'));
    // The file keeps the whole value.
    EXPECT_NE(readText(file).find(ascii), std::string::npos);
}

TEST(Profile, OtherSectionsKeysCommentsAreKept) {
    TempDir dir;
    std::string file = dir.file("keep.ini");
    writeText(file,
             "; settings\n"
             "[A]\n"
             "a1=1\n"
             "\n"
             "[Section]\n"
             "k1=old\n"
             "; note\n"
             "k2=two\n"
             "\n"
             "[B]\n"
             "b1=3\n");
    ASSERT_TRUE(WritePrivateProfileString("Section", "k1", "new", file));
    ASSERT_TRUE(WritePrivateProfileString("Section", "k3", "three", file));
    ASSERT_TRUE(WritePrivateProfileString("B", "b1", std::nullopt, file));
    ASSERT_TRUE(WritePrivateProfileString("Nowhere", "x", std::nullopt, file));
    EXPECT_EQ(readText(file),
              "; settings\n"
              "[A]\n"
              "a1=1\n"
              "\n"
              "[Section]\n"
              "k1=new\n"
              "; note\n"
              "k2=two\n"
              "k3=three\n"
              "\n"
              "[B]\n");
}

TEST(Profile, LineEndingsAndByteOrderMarkAreKept) {
    TempDir dir;
    std::string file = dir.file("crlf.ini");
    writeText(file, "\xEF\xBB\xBF[Section]\r\nk=1\r\n");
    EXPECT_EQ(get(file, "Section", "k"), "1");
    ASSERT_TRUE(WritePrivateProfileString("Section", "k", "2", file));
    EXPECT_EQ(readText(file), "\xEF\xBB\xBF[Section]\r\nk=2\r\n");
}

// A settings file brought from a Japanese Windows system, in CP932. The bytes
// are written out by hand: 総 = 91 8D, ﾌ = CC, ﾚ = DA, ｰ = B0, ﾑ = D1, 数 = 90 94,
// 表 = 95 5C (its second byte is a backslash), 示 = 8E A6.
const std::string kCp932File =
    "[Section]\r\n"
    "\x91\x8D\xCC\xDA\xB0\xD1\x90\x94= 12\r\n"
    "Path=C:\\\x95\x5C\x8E\xA6\r\n";

TEST(Profile, ReadsCp932Files) {
    TempDir dir;
    std::string file = dir.file("sjis.ini");
    writeText(file, kCp932File);
    EXPECT_EQ(get(file, "Section", "総ﾌﾚｰﾑ数"), "12");
    EXPECT_EQ(get(file, "section", "path"), "C:\\表示");
}

TEST(Profile, WritingToCp932FileConvertsItToUtf8) {
    TempDir dir;
    std::string file = dir.file("sjis.ini");
    writeText(file, kCp932File);
    ASSERT_TRUE(WritePrivateProfileString("Section", "行数", " 7", file));
    EXPECT_EQ(readText(file), "[Section]\r\n総ﾌﾚｰﾑ数= 12\r\nPath=C:\\表示\r\n行数= 7\r\n");
}

TEST(Profile, UndecodableBytesDoNotBreakReading) {
    TempDir dir;
    std::string file = dir.file("bad.ini");
    writeText(file, "[S]\nk=\x81\nj=ok\n");
    EXPECT_EQ(get(file, "S", "j"), "ok");
    EXPECT_EQ(get(file, "S", "k"), "\xEF\xBF\xBD");
}

TEST(Profile, RefusesNamesAndValuesThatCannotBeStored) {
    TempDir dir;
    std::string file = dir.file("r.ini");
    EXPECT_FALSE(WritePrivateProfileString("", "k", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "a=b", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "k\n[X]", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("S]", "k", "v", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "line\nbreak", file));
    EXPECT_FALSE(fs::exists(file));
}

TEST(Profile, WriteIntoMissingFolderFailsCleanly) {
    TempDir dir;
    std::string file = dir.file("no/such/folder/x.ini");
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", file));
    EXPECT_EQ(entriesIn(dir.path()), 0u);
}

TEST(Profile, FailedWriteLeavesTheFileAsItWas) {
    TempDir dir;
    std::string file = dir.file("safe.ini");
    const std::string original = "[Section]\nk=1\n";
    writeText(file, original);
    bool written;
    {
        test::FileSizeLimit limit(64);
        written = WritePrivateProfileString("Section", "long", std::string(200, 'x'), file);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(readText(file), original);
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // the temporary file is gone
    EXPECT_TRUE(WritePrivateProfileString("Section", "long", std::string(200, 'x'), file));
}

TEST(Profile, OversizedFileIsNeitherReadNorRewritten) {
    TempDir dir;
    std::string file = dir.file("huge.ini");
    {
        std::ofstream out(file, std::ios::binary);
        out << "[S]\nk=1\n";
    }
    fs::resize_file(file, uintmax_t(17) << 20);
    EXPECT_EQ(get(file, "S", "k", "d"), "d");
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", file));
    EXPECT_EQ(fs::file_size(file), uintmax_t(17) << 20);
}

TEST(ProfileDocument, ManyChangesInOneWrite) {
    TempDir dir;
    std::string file = dir.file("doc.ini");
    writeText(file, "[A]\r\nk=1\r\n[B]\nx=2\n");
    ProfileDocument doc;
    ASSERT_FALSE(doc.load(file));
    EXPECT_EQ(doc.get("a", "K", "d"), "1");
    EXPECT_FALSE(doc.modified());
    EXPECT_FALSE(doc.set("A", "bad=key", "v"));
    EXPECT_FALSE(doc.set("A", "k", "two\nlines"));
    EXPECT_FALSE(doc.modified());
    EXPECT_TRUE(doc.set("A", "k", "3"));
    EXPECT_TRUE(doc.set("A", "new", "4"));
    EXPECT_TRUE(doc.set("B", "x", std::nullopt));
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(readText(file), "[A]\r\nk=1\r\n[B]\nx=2\n");  // nothing written yet
    ASSERT_FALSE(doc.save(file, true));
    // Each line keeps its own end; a new line takes the file's CRLF.
    EXPECT_EQ(readText(file), "[A]\r\nk=3\r\nnew=4\r\n[B]\n");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ProfileDocument, NeverWritesAFileTooLargeToReadBack) {
    TempDir dir;
    std::string file = dir.file("big.ini");
    writeText(file, "[S]\nk=1\n");
    ProfileDocument doc;
    ASSERT_FALSE(doc.load(file));
    ASSERT_TRUE(doc.set("S", "k", std::string(kMaxProfileBytes, 'v')));
    EXPECT_EQ(doc.save(file, false), std::errc::file_too_large);
    EXPECT_EQ(readText(file), "[S]\nk=1\n");
}

TEST(WriteFileAtomically, ReplacesContentAndKeepsPermissions) {
    TempDir dir;
    std::string file = dir.file("p.txt");
    writeText(file, "old");
    ::chmod(file.c_str(), 0640);
    EXPECT_FALSE(WriteFileAtomically(file, "new content", true));
    EXPECT_EQ(readText(file), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_TRUE(WriteFileAtomically(dir.file("missing/p.txt"), "x", false));
    EXPECT_TRUE(WriteFileAtomically(dir.path().string() + "/", "x", false));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace tarnel
