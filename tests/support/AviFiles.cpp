#include "support/AviFiles.h"

#include "support/Cli.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/Files.h"
#include "support/TempDir.h"

namespace tarnel::test {

bool haveFfmpeg() {
    static const bool present = std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0;
    return present;
}

bool haveEncoder(const std::string& name) {
    if (!haveFfmpeg()) return false;
    std::string command = "ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + ShellQuote(name);
    return std::system(command.c_str()) == 0;
}

bool runFfmpeg(const std::string& args) {
    std::string command = "ffmpeg -nostdin -hide_banner -v error -y " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> testFrameBgr(int width, int height, int k) {
    // Soft gradients that move with the frame, so lossy codecs keep them
    // close and every frame differs from the one before.
    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[2] = uint8_t((x * 255) / std::max(1, width - 1));             // red across
            p[1] = uint8_t((y * 255) / std::max(1, height - 1));            // green down
            p[0] = uint8_t((k * 37 + (x + y) * 4) % 256);                   // blue moves
        }
    return bgr;
}

bool makeAvi(const std::string& path, const AviRecipe& r) {
    TempDir dir;
    std::vector<uint8_t> raw;
    for (int k = 0; k < r.frames; ++k) {
        std::vector<uint8_t> frame = testFrameBgr(r.width, r.height, k);
        raw.insert(raw.end(), frame.begin(), frame.end());
    }
    std::string input = dir.file("frames.bgr");
    writeFile(input, raw);
    return runFfmpeg("-f rawvideo -pix_fmt bgr24 -s " + std::to_string(r.width) + "x" + std::to_string(r.height) +
                     " -r " + r.rate + " -i " + ShellQuote(input) + " " + r.codecArgs + " -f avi " + ShellQuote(path));
}

std::vector<std::vector<uint8_t>> decodeWithFfmpeg(const std::string& path, int width, int height) {
    TempDir dir;
    std::string out = dir.file("decoded.bgr");
    std::vector<std::vector<uint8_t>> frames;
    if (!runFfmpeg("-i " + ShellQuote(path) + " -f rawvideo -pix_fmt bgr24 " + ShellQuote(out))) return frames;
    std::vector<uint8_t> all = readFile(out);
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= all.size(); at += frameBytes)
        frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameBytes));
    return frames;
}

int nearestCubeIndex(int r, int g, int b) {
    auto level = [](int v) {
        int best = 0;
        for (int l = 1; l < 6; ++l)
            if (std::abs(v - 51 * l) < std::abs(v - 51 * best)) best = l;
        return best;
    };
    return level(r) + 6 * level(g) + 36 * level(b);
}

}  // namespace tarnel::test

namespace tarnel::test {

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putTag(std::vector<uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// A chunk or list: its tag, then a size filled in once the body is written.
size_t open(std::vector<uint8_t>& b, const char* tag, const char* listType = nullptr) {
    putTag(b, tag);
    const size_t at = b.size();
    put32(b, 0);
    if (listType) putTag(b, listType);
    return at;
}
void close(std::vector<uint8_t>& b, size_t at) {
    const uint32_t size = uint32_t(b.size() - at - 4);
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(size >> (8 * i));
    if (b.size() & 1) b.push_back(0);
}

}  // namespace

uint32_t fourCC(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

std::vector<uint8_t> handMadeAvi(const HandMadeAvi& s) {
    const uint32_t frames = s.claimedFrames ? s.claimedFrames : uint32_t(s.packets.size());
    const bool palette = s.bitCount <= 8;
    std::vector<uint8_t> b;
    const size_t riff = open(b, "RIFF", "AVI ");
    const size_t hdrl = open(b, "LIST", "hdrl");
    const size_t avih = open(b, "avih");
    put32(b, 100000);  // 10 frames a second
    put32(b, 0);
    put32(b, 0);
    put32(b, 0x10);  // has an index
    put32(b, frames);
    put32(b, 0);
    put32(b, 1);
    put32(b, 0);
    put32(b, uint32_t(s.width));
    put32(b, uint32_t(s.height));
    for (int i = 0; i < 4; ++i) put32(b, 0);
    close(b, avih);
    const size_t strl = open(b, "LIST", "strl");
    const size_t strh = open(b, "strh");
    putTag(b, "vids");
    put32(b, s.compression > 1 ? s.compression : 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 1);   // scale
    put32(b, 10);  // rate
    put32(b, 0);
    put32(b, frames);
    put32(b, 0);
    put32(b, uint32_t(-1));
    put32(b, 0);
    put16(b, 0);
    put16(b, 0);
    put16(b, uint32_t(s.width) & 0xFFFF);
    put16(b, uint32_t(s.height) & 0xFFFF);
    close(b, strh);
    const size_t strf = open(b, "strf");
    put32(b, 40);
    put32(b, uint32_t(s.width));
    put32(b, uint32_t(s.height));
    put16(b, 1);
    put16(b, s.bitCount);
    put32(b, s.compression);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, palette ? 1u << s.bitCount : 0);
    put32(b, 0);
    if (palette)
        for (uint32_t i = 0; i < (1u << s.bitCount); ++i) put32(b, i * 0x010101u);
    close(b, strf);
    close(b, strl);
    close(b, hdrl);
    if (s.junkBytes) {
        const size_t junk = open(b, "JUNK");
        b.resize(b.size() + s.junkBytes, 0);
        close(b, junk);
    }

    const size_t movi = open(b, "LIST", "movi");
    const size_t moviTag = movi + 4;
    std::vector<std::pair<uint32_t, uint32_t>> index;  // offset from "movi", size
    const char* tag = s.compression == 0 ? "00db" : "00dc";
    for (const std::vector<uint8_t>& p : s.packets) {
        index.emplace_back(uint32_t(b.size() - moviTag), uint32_t(p.size()));
        const size_t chunk = open(b, tag);
        b.insert(b.end(), p.begin(), p.end());
        close(b, chunk);
    }
    close(b, movi);
    const size_t idx1 = open(b, "idx1");
    for (const auto& [offset, size] : index) {
        putTag(b, tag);
        put32(b, 0x10);
        put32(b, offset);
        put32(b, size);
    }
    close(b, idx1);
    close(b, riff);
    return b;
}

std::vector<uint8_t> rle8Fill(int width, int height, uint8_t colour) {
    std::vector<uint8_t> b;
    for (int y = 0; y < height; ++y) {
        for (int left = width; left > 0; left -= 255) {
            b.push_back(uint8_t(std::min(left, 255)));
            b.push_back(colour);
        }
        b.push_back(0);
        b.push_back(y + 1 < height ? 0 : 1);
    }
    return b;
}

std::vector<uint8_t> rle8Empty() { return {0, 1}; }

}  // namespace tarnel::test
