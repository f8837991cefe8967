// AVI import: any bytes open cleanly or not at all, and an import never holds
// more frames than the stream has, never reserves beyond the budget of the
// input's size, nor leaves a container that cannot be saved. Frames of any
// size run: the reader and the budget refuse what the bytes cannot back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/LoadBudget.h"
#include "imaging/gif/cGif.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"

using namespace tarnel;

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AviReader reader;
    if (!reader.OpenMemory(data, size)) {
        check(!reader.IsOpen() && reader.Length() == 0);
        return 0;
    }
    check(reader.Width() > 0 && reader.Height() > 0 && reader.Length() >= 0);

    // Going back after reading forward, then the whole import. Going back
    // opens the file a second time, as costly as the rest of a small import:
    // a quarter of the inputs take it.
    Bitmap frame;
    if (size % 4 == 0 && reader.GetFrame(1, frame)) {
        check(frame.width() == reader.Width() && frame.height() == reader.Height() && frame.bpp() == 32);
        reader.GetFrame(0, frame);
    }

    // Both palette modes, as the settings would choose.
    AviImportOptions options;
    options.Quality.palette = size % 2 ? GifPaletteChoice::Adaptive : GifPaletteChoice::Cube;
    options.Quality.ditherMethod = int32_t(size / 2 % 3);
    LoadBudget budget = LoadBudget::ForInput(size);
    options.Budget = &budget;
    cGif gif;
    const bool complete = ImportAviFrames(reader, gif, nullptr, options);
    check(budget.Used() <= budget.Limit());
    check(gif.FramesCount() <= reader.Length());
    if (complete) check(gif.FramesCount() == reader.Length());
    std::vector<uint8_t> saved;
    if (gif.FramesCount() > 0) check(gif.SaveToStream(saved));
    return 0;
}
