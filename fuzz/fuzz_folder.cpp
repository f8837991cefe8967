// The frame-folder scan over a folder the input describes: records of
// [flags][name length][name][content length][content] become files and
// folders in a scratch folder of this process (flags bit 0: a folder;
// bit 1: a small valid BMP instead of the content). The chooser's lists, the
// frame kind, a play pass, the read-ahead cache and the import of the folder
// as an animation must agree with what was made there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/FrameNaming.h"
#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "output/FrameFolderImport.h"
#include "output/FrameSequence.h"
#include "platform/ProgramFolder.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

constexpr size_t kMaxEntries = 32;
constexpr size_t kMaxNameBytes = 64;

struct Made {
    std::set<std::string> files, folders;
};

const std::vector<uint8_t>& smallBmp() {
    static const std::vector<uint8_t> file = [] {
        Bitmap picture;
        check(picture.create(3, 2, 32));
        picture.setPixelValue(1, 1, 0x00FF8000);
        std::vector<uint8_t> bytes;
        check(EncodeBmp24(picture, bytes));
        return bytes;
    }();
    return file;
}

Made makeEntries(const std::string& folder, const uint8_t* data, size_t size) {
    Made made;
    size_t at = 0;
    while (at + 2 <= size && made.files.size() + made.folders.size() < kMaxEntries) {
        const uint8_t flags = data[at];
        const size_t nameLength = std::min<size_t>(data[at + 1], size - at - 2);
        std::string name;
        for (size_t i = 0; i < nameLength && name.size() < kMaxNameBytes; ++i) {
            const char c = char(data[at + 2 + i]);
            if (c != '/' && c != '\0') name += c;
        }
        at += 2 + nameLength;
        size_t contentLength = 0;
        if (at < size) {
            contentLength = data[at];
            ++at;
            contentLength = std::min(contentLength, size - at);
        }
        const uint8_t* content = data + at;
        at += contentLength;

        if (name.empty() || name == "." || name == ".." || made.files.count(name) || made.folders.count(name))
            continue;
        const std::string path = folder + "/" + name;
        if (flags & 1) {
            std::error_code ec;
            if (std::filesystem::create_directory(path, ec)) made.folders.insert(name);
        } else {
            const bool ok = flags & 2 ? fuzz::writeWholeFile(path, smallBmp().data(), smallBmp().size())
                                      : fuzz::writeWholeFile(path, content, contentLength);
            if (ok) made.files.insert(name);
        }
    }
    return made;
}

bool caseBlindOrder(const std::string& a, const std::string& b) {
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return s;
    };
    const std::string la = lower(a), lb = lower(b);
    return la != lb ? la < lb : a < b;
}

void checkChooser(const std::string& folder, const Made& made) {
    FolderChooser chooser({DriveEntry{"/", "/"}});
    check(chooser.setFolder(folder));
    check(chooser.folder() == folder && chooser.driveIndex() == 0);

    const auto& files = chooser.files();
    check(std::is_sorted(files.begin(), files.end(), caseBlindOrder));
    // The program's own session and temporary files are never offered.
    auto offered = [](const std::string& name) {
        return MatchesFilePattern(name, kFrameFilePattern) && !IsHousekeepingFileName(name);
    };
    size_t expectedFiles = 0;
    for (const std::string& name : made.files) expectedFiles += offered(name);
    check(files.size() == expectedFiles);
    for (size_t i = 0; i < files.size(); ++i) {
        check(made.files.count(files[i]) && offered(files[i]));
        check(chooser.filePath(int(i)) == folder + "/" + files[i]);
    }
    check(chooser.filePath(int(files.size())).empty());

    const auto& folders = chooser.subfolders();
    check(std::is_sorted(folders.begin(), folders.end(), caseBlindOrder));
    size_t expectedFolders = 0;
    for (const std::string& name : made.folders) expectedFolders += name[0] != '.';
    check(folders.size() == expectedFolders);
    for (const std::string& name : folders) check(made.folders.count(name) && name[0] != '.');

    // The first kind in the order the lookup tries whose frame 000 exists.
    int kind = kFrameKindNone;
    for (int k : {kSavePng, kSaveGif, kSaveJpg, kSaveBmp})
        if (made.files.count(FrameFileName(0, k))) kind = k;
    check(FindFrameKind(folder) == kind);
    check(chooser.folderHoldsFrames() == (kind != kFrameKindNone));
}

// One forward pass: frames 0, 1, ... until the first that does not load.
void checkPlayPass(const std::string& folder, int kind, FrameCache& cache) {
    std::vector<int> loaded;
    int failedAt = -1;
    auto load = [&](int index) {
        StdPicture picture;
        const bool ok = DecodeFrameFile(FramePath(folder, index, kind), picture);
        StdPicture cached;
        check(cache.take(index, cached) == ok);
        if (ok) {
            check(picture.isBitmap() && cached.width() == picture.width() && cached.height() == picture.height());
            loaded.push_back(index);
        } else {
            failedAt = index;
        }
        return ok;
    };
    FramePlayer player;
    player.play(0, 10);
    FramePlayer::Event event = FramePlayer::Event::None;
    for (int turn = 0; turn <= int(kMaxEntries) + 1 && event != FramePlayer::Event::PassEnded; ++turn)
        event = player.tick(player.nextDue(), load);
    check(event == FramePlayer::Event::PassEnded && !player.active());
    check(failedAt == int(loaded.size()));
    for (size_t i = 0; i < loaded.size(); ++i) check(loaded[i] == int(i));
}

// The import takes frames 000, 001, ... of frame 000's kind: all of them
// when every one decodes to frame 000's size and none follows a gap, else
// none with a reason.
void checkImport(const std::string& folder, const Made& made, int kind, uint8_t choice) {
    GifQuality quality;
    quality.palette = GifPaletteChoice(choice % 4);
    quality.ditherMethod = int32_t(choice / 4 % 3);
    cGif gif;
    std::string error;
    const bool imported = ImportFrameFolder(folder, gif, nullptr, quality, kDefaultFolderFrameDelay, &error);
    if (kind == kFrameKindNone) check(!imported);
    if (!imported) {
        check(!error.empty() && error.find('\n') == std::string::npos);
        return;
    }
    int count = 0;
    while (made.files.count(FrameFileName(count, kind))) ++count;
    check(gif.FramesCount() == count);
    for (int n = 1; n <= count; ++n) {
        check(gif.FrameDIBXOR(n).Width() == gif.FrameDIBXOR(1).Width());
        check(gif.FrameDIBXOR(n).Height() == gif.FrameDIBXOR(1).Height());
    }
    // Nothing numbered beyond the first gap.
    for (int later = count + 1; later <= int(kMaxEntries); ++later) check(!made.files.count(FrameFileName(later, kind)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDialogs();
    static const fuzz::ScratchFolder scratch("folder");
    static FrameCache cache(FrameCache::Limits{size_t(16) << 20, 8, 2, 1});
    scratch.clean();
    const Made made = makeEntries(scratch.path(), data, size);
    checkChooser(scratch.path(), made);

    const int kind = FindFrameKind(scratch.path());
    if (kind != kFrameKindNone) {
        cache.setSource(scratch.path(), kind);
        cache.prefetch(0, 1, false);
        checkPlayPass(scratch.path(), kind, cache);
        cache.waitIdle();
    }
    checkImport(scratch.path(), made, kind, size ? data[size - 1] : 0);
    return 0;
}
