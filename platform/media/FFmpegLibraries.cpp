#include "platform/media/FFmpegLibraries.h"

#include <dlfcn.h>

#include <cstdarg>

namespace tarnel {

namespace {

struct Loaded {
    FFmpegFunctions functions;
    bool ok = false;
    std::string why;
};

const Loaded& loaded() {
    static const Loaded once = [] {
        Loaded l;
        // By the major versions of the headers built against: the ABI they describe.
        struct Library {
            const char* soname;
            void* handle;
        };
        Library avutil{"libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), nullptr},
            swscale{"libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR), nullptr},
            avcodec{"libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), nullptr},
            avformat{"libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), nullptr};
        for (Library* library : {&avutil, &swscale, &avcodec, &avformat}) {
            // Never closed: the functions stay in use until the process ends.
            library->handle = dlopen(library->soname, RTLD_NOW | RTLD_LOCAL);
            if (!library->handle) {
                const char* error = dlerror();
                l.why = error ? error : library->soname;
                return l;
            }
        }
#define TARNEL_FFMPEG_LOOKUP(library, name)                                                 \
    l.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(library.handle, #name)); \
    if (!l.functions.name) {                                                               \
        l.why = std::string(library.soname) + " has no " #name;                            \
        return l;                                                                          \
    }
        TARNEL_FFMPEG_FUNCTIONS(TARNEL_FFMPEG_LOOKUP)
#undef TARNEL_FFMPEG_LOOKUP
        l.functions.av_log_set_level(AV_LOG_QUIET);
        l.functions.av_log_set_callback([](void*, int, const char*, va_list) {});
        l.ok = true;
        return l;
    }();
    return once;
}

}  // namespace

bool LoadFFmpeg(std::string* why) {
    const Loaded& l = loaded();
    if (!l.ok && why) *why = "FFmpeg's libraries cannot be loaded: " + l.why;
    return l.ok;
}

const FFmpegFunctions& ff() { return loaded().functions; }

std::string FFmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    ff().av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace tarnel
