#include "core/FrameNaming.h"

#include <cstdio>

#include "platform/NumText.h"

namespace tarnel {

std::string SaveKindName(int saveKind) {
    switch (saveKind) {
        case kSaveBmp: return "bmp";
        case kSaveJpg: return "jpg";
        case kSaveGif: return "gif";
        case kSavePng: return "png";
        default: return "";
    }
}

bool ParseSaveKindName(std::string_view name, int& saveKind) {
    for (int kind : {kSaveBmp, kSaveJpg, kSaveGif, kSavePng}) {
        if (name == SaveKindName(kind)) {
            saveKind = kind;
            return true;
        }
    }
    return false;
}

std::string FrameExtension(int saveKind) {
    const std::string name = SaveKindName(saveKind);
    return name.empty() ? name : "." + name;
}

std::string FrameFileName(int k, int saveKind) { return FormatNumber(k, "000") + FrameExtension(saveKind); }

std::string FrameFolderName(const std::tm& t) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d-%02d-%02d", (t.tm_year + 1900) % 10000, (t.tm_mon + 1) % 100,
                  t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    return name;
}

bool IsFrameFolderName(std::string_view name) {
    constexpr std::string_view pattern = "dddddddd-dd-dd-dd";
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < pattern.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == 'd' ? !digit(name[i]) : name[i] != '-') return false;
    std::string_view suffix = name.substr(pattern.size());
    if (suffix.empty()) return true;
    if (suffix.size() < 2 || suffix.front() != '-') return false;
    for (char c : suffix.substr(1))
        if (!digit(c)) return false;
    return true;
}

}  // namespace tarnel
