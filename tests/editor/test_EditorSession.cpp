#include "editor/EditorSession.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/FileKinds.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

StdPicture picture(int w, int h, uint32_t seed) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    EXPECT_TRUE(p.bitmap->create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.bitmap->setPixelValue(x, y, (uint32_t(x * 7 + y) * seed) & 0xFFFFFF);
    return p;
}

bool samePixels(const StdPicture& a, const StdPicture& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.bitmap->pixelValue(x, y) & 0xFFFFFF) != (b.bitmap->pixelValue(x, y) & 0xFFFFFF)) return false;
    return true;
}

EditorState sample() {
    EditorState s;
    s.rows = 3;
    s.columns = 2;
    s.start = MeshGrid(3, 2);
    s.end = MeshGrid(3, 2);
    s.start.at(2, 1) = {12.25f, 7.5f};
    s.end.at(1, 2) = {-3.0f, 40.125f};
    auto a = std::make_shared<SourceState>();
    a->path = "/photos/開始.jpg";
    a->picture = picture(40, 30, 3);
    a->workingCopy = a->picture;
    a->width = 40;
    a->height = 30;
    a->sizeLabel = a->sizeLabelS = "40 * 30";
    a->preparable = true;
    auto b = std::make_shared<SourceState>(*a);
    b->path = "/photos/end.bmp";
    b->picture = picture(20, 15, 5);  // reduced from its working copy
    b->workingCopy = picture(40, 30, 9);
    b->sizeLabel = "20 * 15";
    b->prepared = true;
    s.sources = {a, b};
    return s;
}

size_t sessionPictures(const TempDir& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().extension() == ".bmp") ++n;
    return n;
}

TEST(EditorSession, RoundTripKeepsMeshesPicturesAndLabels) {
    TempDir dir;
    EditorSession session(dir.path().string());
    EXPECT_FALSE(session.Exists());
    EditorState saved = sample();
    std::string error;
    ASSERT_TRUE(session.Save(saved, error)) << error;
    EXPECT_EQ(sessionPictures(dir), 3u);  // a picture that is its own working copy is written once

    EditorState back;
    ASSERT_TRUE(session.Load(back, error)) << error;
    EXPECT_TRUE(back.sameMeshes(saved));
    for (int i = 0; i < 2; ++i) {
        const SourceState& a = *saved.sources[size_t(i)];
        const SourceState& b = *back.sources[size_t(i)];
        EXPECT_EQ(b.path, a.path);
        EXPECT_EQ(b.sizeLabel, a.sizeLabel);
        EXPECT_EQ(b.width, a.width);
        EXPECT_EQ(b.preparable, a.preparable);
        EXPECT_EQ(b.prepared, a.prepared);
        EXPECT_TRUE(samePixels(b.picture, a.picture)) << i;
        EXPECT_TRUE(samePixels(b.workingCopy, a.workingCopy)) << i;
    }
    EXPECT_EQ(back.sources[0]->picture.bitmap, back.sources[0]->workingCopy.bitmap);

    // A mesh edit writes no picture (a rewrite would replace the file a
    // second link still holds); a new picture replaces the one it follows.
    saved.start.at(1, 1).x = 99;
    const std::string first = dir.file("Tarnel.session." + session.id() + ".0.bmp");
    fs::create_hard_link(first, dir.file("first.link"));
    ASSERT_TRUE(session.Save(saved, error));
    EXPECT_TRUE(fs::equivalent(first, dir.file("first.link")));
    fs::remove(dir.file("first.link"));
    auto changed = std::make_shared<SourceState>(*saved.sources[1]);
    changed->picture = picture(10, 8, 11);
    saved.sources[1] = changed;
    ASSERT_TRUE(session.Save(saved, error));
    EXPECT_EQ(sessionPictures(dir), 3u);
    ASSERT_TRUE(session.Load(back, error));
    EXPECT_EQ(back.start.at(1, 1).x, 99);
    EXPECT_TRUE(samePixels(back.sources[1]->picture, changed->picture));

    session.Remove();
    EXPECT_FALSE(session.Exists());
    EXPECT_EQ(sessionPictures(dir), 0u);
}

// Leaves `state` as the editor wrote it before sessions had ids:
// "Tarnel.session.json" naming "Tarnel.session.<n>.bmp".
void writeSingleSessionLayout(const TempDir& dir, const EditorState& state) {
    std::string error, id;
    {
        EditorSession session(dir.path().string());
        ASSERT_TRUE(session.Save(state, error)) << error;
        id = session.id();
    }
    const std::string mark = "Tarnel.session." + id + ".";
    std::stringstream text;
    text << std::ifstream(dir.file(mark + "json")).rdbuf();
    std::string json = text.str();
    for (size_t at = json.find(mark); at != std::string::npos; at = json.find(mark, at))
        json.replace(at, mark.size(), "Tarnel.session.");
    std::ofstream(dir.file("Tarnel.session.json")) << json;
    fs::remove(dir.file(mark + "json"));
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (name.rfind(mark, 0) == 0) fs::rename(e.path(), dir.file("Tarnel.session." + name.substr(mark.size())));
    }
}

void expectSameSources(const EditorState& back, const EditorState& saved) {
    EXPECT_TRUE(back.sameMeshes(saved));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back.sources[i]->path, saved.sources[i]->path);
        EXPECT_TRUE(samePixels(back.sources[i]->picture, saved.sources[i]->picture)) << i;
        EXPECT_TRUE(samePixels(back.sources[i]->workingCopy, saved.sources[i]->workingCopy)) << i;
    }
}

TEST(EditorSession, DamagedSessionsAreRefused) {
    const std::string texts[] = {
        "{\"version\": 1, \"sources\": [{}, {\"path\": \"/a.bmp\", \"picture\": \"../../etc/passwd\"}]}",
        "{\"version\": 1, \"sources\": [{}, {\"path\": \"/a.bmp\", \"picture\": \"Tarnel.session.7.bmp\"}]}",
        "{\"version\": 1, \"sources\": [{}]}",
        "{\"version\": 1, \"sources\": 5}",
        "{\"version\": 1, \"sources\": [{}, {\"path\": 3}]}",
        "{\"version\": 1, \"sources\": [",
        "",
        // another session's picture
        R"({"sources": [{}, {"path": "/a.bmp", "picture": "Tarnel.session.0123456789abcdef.0.bmp"}]})",
        // numbers no side can have, values of the wrong kind
        R"({"sources": [{}, {"path": "/a.bmp", "width": 1e300}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "width": 1e999}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "height": 4294967336}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "height": -1}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "width": "40"}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "prepared": 1}]})",
        R"({"sources": [{}, {"path": "/a.bmp", "sizeLabel": ["40 * 30"]}]})",
        R"({"sources": [{}, 5]})",
        R"([{"sources": [{}, {}]}])",
        R"({"rows": 1e300, "columns": 2, "sources": [{}, {}]})",
        R"({"rows": 1, "columns": 1, "start": [[1e300, 0]], "end": [], "sources": [{}, {}]})",
        // nesting without end, up to the size cap
        std::string(16u << 20, '['),
        std::string(100, '{'),
    };
    for (const std::string& text : texts) {
        const std::string shown = text.substr(0, 80);
        TempDir dir;
        std::ofstream(dir.file("Tarnel.session.json")) << text;
        auto left = EditorSession::Abandoned(dir.path().string());
        ASSERT_EQ(left.size(), 1u) << shown;
        EditorState out;
        std::string error;
        EXPECT_FALSE(left[0]->Load(out, error)) << shown;
        EXPECT_FALSE(error.empty()) << shown;
    }
}

// A FIFO where the session or its lock should be is never opened for
// reading, so nothing waits on it.
TEST(EditorSession, SessionFilesThatAreNoFilesAreNeverWaitedOn) {
    for (const char* fifoName : {"Tarnel.session.json", "Tarnel.session.lock"}) {
        TempDir dir;
        if (fifoName != std::string("Tarnel.session.json"))
            std::ofstream(dir.file("Tarnel.session.json")) << R"({"sources": [{}, {}]})";
        ASSERT_TRUE(test::makeFifo(dir.file(fifoName))) << fifoName;
        size_t offered = 0;
        bool loaded = true;
        EXPECT_TRUE(test::returnsWithoutWaitingOnFifo(dir.file(fifoName), [&] {
            auto left = EditorSession::Abandoned(dir.path().string());
            offered = left.size();
            EditorState out;
            std::string error;
            if (offered) loaded = left[0]->Load(out, error);
        })) << fifoName;
        // The lock cannot be taken on a FIFO: that session is left alone.
        EXPECT_EQ(offered, fifoName == std::string("Tarnel.session.json") ? 1u : 0u) << fifoName;
        if (offered) {
            EXPECT_FALSE(loaded) << fifoName;
        }
    }
}

TEST(EditorSession, TwoEditorsInOneFolderKeepEachOthersSessions) {
    TempDir dir;
    const std::string folder = dir.path().string();
    auto a = std::make_unique<EditorSession>(folder);
    auto b = std::make_unique<EditorSession>(folder);
    EditorState stateA = sample(), stateB = sample();
    auto other = std::make_shared<SourceState>(*stateB.sources[0]);
    other->picture = other->workingCopy = picture(30, 20, 13);
    stateB.sources[0] = other;
    std::string error;
    ASSERT_TRUE(a->Save(stateA, error)) << error;
    ASSERT_TRUE(b->Save(stateB, error)) << error;
    EXPECT_NE(a->jsonPath(), b->jsonPath());

    // A's next picture and then its end command leave B's session whole.
    auto changed = std::make_shared<SourceState>(*stateA.sources[1]);
    changed->picture = picture(10, 8, 11);
    stateA.sources[1] = changed;
    ASSERT_TRUE(a->Save(stateA, error)) << error;
    EXPECT_TRUE(EditorSession::Abandoned(folder).empty());  // both still run
    a->Remove();
    a.reset();
    EditorState back;
    ASSERT_TRUE(b->Load(back, error)) << error;
    expectSameSources(back, stateB);

    // B ends without the end command: the next start is offered its session.
    b.reset();
    auto left = EditorSession::Abandoned(folder);
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(left[0]->Load(back, error)) << error;
    expectSameSources(back, stateB);
}

// An editor in another process that saves a session and holds it until
// released, then ends without any clean-up, as a crash would.
class ChildEditor {
public:
    ChildEditor(const std::string& folder, const EditorState& state) {
        if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready_[0]);
            ::close(release_[1]);
            char saved = 0;
            {
                EditorSession session(folder);
                std::string error;
                saved = session.Save(state, error) ? 1 : 0;
                if (::write(ready_[1], &saved, 1) == 1)
                    while (::read(release_[0], &saved, 1) > 0) {
                    }
                ::_exit(0);  // no destructor: the lock file stays behind, unlocked
            }
        }
        ::close(ready_[1]);
        ::close(release_[0]);
    }
    ~ChildEditor() {
        ::close(ready_[0]);
        if (release_[1] >= 0) ::close(release_[1]);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // True once the child has saved; false when it failed or did not answer in time.
    bool saved() {
        pollfd p{ready_[0], POLLIN, 0};
        char ok = 0;
        return pid_ > 0 && ::poll(&p, 1, 60000) == 1 && ::read(ready_[0], &ok, 1) == 1 && ok == 1;
    }
    // Lets the child end; false when it has not ended in time.
    bool end() {
        ::close(release_[1]);
        release_[1] = -1;
        for (int tries = 0; tries < 6000; ++tries) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            ::usleep(10000);
        }
        return false;
    }

private:
    int ready_[2] = {-1, -1}, release_[2] = {-1, -1};
    pid_t pid_ = -1;
};

TEST(EditorSession, OnlySessionsOfEndedEditorsAreOffered) {
    TempDir dir;
    const std::string folder = dir.path().string();
    const EditorState state = sample();
    std::string error;
    EditorSession here(folder);
    ASSERT_TRUE(here.Save(state, error)) << error;
    ChildEditor child(folder, state);
    ASSERT_TRUE(child.saved());
    EXPECT_TRUE(EditorSession::Abandoned(folder).empty());  // each holds its lock

    ASSERT_TRUE(child.end());
    auto left = EditorSession::Abandoned(folder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0]->id(), here.id());
    EditorState back;
    ASSERT_TRUE(left[0]->Load(back, error)) << error;
    expectSameSources(back, state);
    // While one start holds it, another does not offer it as well.
    EXPECT_TRUE(EditorSession::Abandoned(folder).empty());
}

TEST(EditorSession, SessionOfTheSingleSessionLayoutIsRestored) {
    TempDir dir;
    const std::string folder = dir.path().string();
    const EditorState saved = sample();
    writeSingleSessionLayout(dir, saved);
    auto left = EditorSession::Abandoned(folder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]->jsonPath(), dir.file("Tarnel.session.json"));
    EditorState back;
    std::string error;
    ASSERT_TRUE(left[0]->Load(back, error)) << error;
    expectSameSources(back, saved);

    // Taken over, it goes on under its names until the end command removes it.
    EditorSession editor(folder);
    editor.Adopt(std::move(*left[0]));
    ASSERT_TRUE(editor.Save(back, error)) << error;
    EXPECT_TRUE(fs::exists(dir.file("Tarnel.session.json")));
    EXPECT_EQ(sessionPictures(dir), 3u);
    editor.Remove();
    EXPECT_FALSE(fs::exists(dir.file("Tarnel.session.json")));
    EXPECT_EQ(sessionPictures(dir), 0u);
}

// The views' zoom and scrolling travel with the session; a session without
// them, or with values out of reason, gives the defaults.
TEST(EditorSession, ViewsComeBackWithTheSession) {
    TempDir dir;
    EditorSession session(dir.path().string());
    std::string error;
    SessionView view;
    view.zoom = {0, 300};
    view.scrollX = {0, 120};
    view.scrollY = {45, 0};
    ASSERT_TRUE(session.Save(sample(), error, &view)) << error;
    EditorState back;
    SessionView read;
    ASSERT_TRUE(session.Load(back, error, &read)) << error;
    EXPECT_EQ(read.zoom, view.zoom);
    EXPECT_EQ(read.scrollX, view.scrollX);
    EXPECT_EQ(read.scrollY, view.scrollY);

    const struct {
        const char* name;
        const char* views;  // the "views" value written into the file
    } odd[] = {{"absent", nullptr}, {"not_a_list", "7"}, {"one_view", "[{\"zoom\": 200}]"},
               {"negative", "[{\"zoom\": -1, \"x\": -4}, {\"zoom\": 1e9}]"}};
    for (const auto& c : odd) {
        ASSERT_TRUE(session.Save(sample(), error)) << error;
        if (c.views) {
            std::string text = test::readText(session.jsonPath());
            text.insert(text.rfind('}'), std::string(",\"views\": ") + c.views);
            test::writeText(session.jsonPath(), text);
        }
        ASSERT_TRUE(session.Load(back, error, &read)) << c.name << ": " << error;
        EXPECT_EQ(read.zoom, (std::array<int, 2>{100, 100})) << c.name;
        EXPECT_EQ(read.scrollX, (std::array<int, 2>{0, 0})) << c.name;
    }
}

}  // namespace
}  // namespace tarnel
