// FFmpeg's libraries are not in the process until a video is read or
// written: every command that needs none starts without loading them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/media/AviReader.h"

using namespace tarnel;

namespace {

bool mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find(library) != std::string::npos) return true;
    return false;
}

TEST(FFmpegLibraries, OpenedByTheFirstVideoOnly) {
    for (const char* library : {"libavcodec.so", "libavformat.so", "libavutil.so", "libswscale.so"})
        EXPECT_FALSE(mapped(library)) << library;
    AviReader reader;
    std::string error;
    const uint8_t notAnAvi[16] = {'R', 'I', 'F', 'F'};
    EXPECT_FALSE(reader.OpenMemory(notAnAvi, sizeof notAnAvi, &error));
    EXPECT_TRUE(mapped("libavformat.so")) << error;
}

}  // namespace
