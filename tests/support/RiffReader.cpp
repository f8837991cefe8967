#include "support/RiffReader.h"

namespace tarnel::test {

namespace {

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
std::string fcc(const std::vector<uint8_t>& b, size_t at) { return std::string(b.begin() + long(at), b.begin() + long(at) + 4); }

bool parseChunks(const std::vector<uint8_t>& b, size_t from, size_t end, std::vector<RiffChunk>& out,
                 std::string& error) {
    size_t at = from;
    while (at + 8 <= end) {
        RiffChunk c;
        c.offset = at;
        c.id = fcc(b, at);
        c.size = u32(b, at + 4);
        c.dataOffset = at + 8;
        if (c.dataOffset + c.size > end) {
            error = "chunk " + c.id + " at " + std::to_string(at) + " runs past its parent";
            return false;
        }
        if (c.id == "RIFF" || c.id == "LIST") {
            if (c.size < 4) {
                error = "list at " + std::to_string(at) + " without a type";
                return false;
            }
            c.listType = fcc(b, c.dataOffset);
            if (!parseChunks(b, c.dataOffset + 4, c.dataOffset + c.size, c.children, error)) return false;
        }
        at = c.dataOffset + c.size + (c.size & 1);
        out.push_back(std::move(c));
    }
    if (at != end && at != end + 1) {
        error = "stray bytes at " + std::to_string(at);
        return false;
    }
    return true;
}

}  // namespace

const RiffChunk* RiffChunk::child(const std::string& idOrListType) const {
    for (const RiffChunk& c : children)
        if (c.id == idOrListType || (!c.listType.empty() && c.listType == idOrListType)) return &c;
    return nullptr;
}

bool ParseRiff(const std::vector<uint8_t>& bytes, RiffChunk& root, std::string& error) {
    root = RiffChunk{};
    root.id = "file";
    root.size = uint32_t(bytes.size());
    return parseChunks(bytes, 0, bytes.size(), root.children, error);
}

bool ReadAvi(const std::vector<uint8_t>& b, AviContents& avi, std::string& error) {
    RiffChunk root;
    if (!ParseRiff(b, root, error)) return false;
    const RiffChunk* riff = root.child("RIFF");
    if (!riff || riff->listType != "AVI ") return (error = "not a RIFF AVI file"), false;
    const RiffChunk* hdrl = riff->child("hdrl");
    const RiffChunk* avih = hdrl ? hdrl->child("avih") : nullptr;
    const RiffChunk* strl = hdrl ? hdrl->child("strl") : nullptr;
    const RiffChunk* strh = strl ? strl->child("strh") : nullptr;
    const RiffChunk* strf = strl ? strl->child("strf") : nullptr;
    const RiffChunk* movi = riff->child("movi");
    if (!avih || avih->size < 40 || !strh || strh->size < 56 || !strf || strf->size < 40 || !movi)
        return (error = "hdrl, strl or movi is missing or short"), false;

    size_t p = avih->dataOffset;
    avi.main = {u32(b, p),      u32(b, p + 4),  u32(b, p + 8),  u32(b, p + 12), u32(b, p + 16),
                u32(b, p + 20), u32(b, p + 24), u32(b, p + 28), u32(b, p + 32), u32(b, p + 36)};
    p = strh->dataOffset;
    avi.stream.fccType = fcc(b, p);
    avi.stream.fccHandler = fcc(b, p + 4);
    avi.stream.flags = u32(b, p + 8);
    avi.stream.initialFrames = u32(b, p + 16);
    avi.stream.scale = u32(b, p + 20);
    avi.stream.rate = u32(b, p + 24);
    avi.stream.start = u32(b, p + 28);
    avi.stream.length = u32(b, p + 32);
    avi.stream.suggestedBufferSize = u32(b, p + 36);
    avi.stream.quality = u32(b, p + 40);
    avi.stream.sampleSize = u32(b, p + 44);
    avi.stream.left = int16_t(u16(b, p + 48));
    avi.stream.top = int16_t(u16(b, p + 50));
    avi.stream.right = int16_t(u16(b, p + 52));
    avi.stream.bottom = int16_t(u16(b, p + 54));
    p = strf->dataOffset;
    avi.format = {u32(b, p), int32_t(u32(b, p + 4)), int32_t(u32(b, p + 8)), u16(b, p + 12), u16(b, p + 14),
                  u32(b, p + 16), u32(b, p + 20)};

    avi.moviListType = movi->dataOffset;
    avi.frames.clear();
    for (const RiffChunk& c : movi->children)
        if (c.id.size() == 4 && c.id[0] == '0' && c.id[1] == '0') avi.frames.push_back({c.id, c.dataOffset, c.size});

    avi.index.clear();
    if (const RiffChunk* idx1 = riff->child("idx1")) {
        for (size_t at = idx1->dataOffset; at + 16 <= idx1->dataOffset + idx1->size; at += 16)
            avi.index.push_back({fcc(b, at), u32(b, at + 4), u32(b, at + 8), u32(b, at + 12)});
    }
    return true;
}

}  // namespace tarnel::test
