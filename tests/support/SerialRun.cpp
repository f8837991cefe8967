#include "support/SerialRun.h"

#include <filesystem>
#include <memory>

#include "core/warp/Warp.h"
#include "imaging/gif/GIF.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "platform/PictureBox.h"

namespace tarnel::test {

bool WriteSerialFrames(const MorphRunRequest& request, const std::string& folder) {
    PictureBox start, end, frame;
    start.setPicture(StdPicture{std::make_shared<Bitmap>(*request.start)});
    end.setPicture(StdPicture{std::make_shared<Bitmap>(*request.end)});
    frame.backColor = request.background;
    const std::vector<MeshTriangle> startTriangles = BuildTriangleList(*request.startMesh);
    const std::vector<MeshTriangle> endTriangles = BuildTriangleList(*request.endMesh);
    frame.resize(start.scaleWidth(), start.scaleHeight());
    PixelArray startPixels, endPixels;
    ReadPicturePixels(start.image(), startPixels);
    ReadPicturePixels(end.image(), endPixels);
    const int last = request.totalFrames;
    for (int k = 0; k <= last; ++k) {
        frame.Cls();
        WarpFrame(startTriangles, endTriangles, k, last, startPixels, endPixels, start.scaleWidth(),
                  start.scaleHeight(), frame.image(), request.options);
        const std::string path = folder + "/" + FrameFileName(k, request.saveKind);
        switch (request.saveKind) {
            case kSaveBmp:
                if (!SavePictureBMP(frame.image(), path)) return false;
                break;
            case kSaveJpg: {
                const std::string temp = folder + "/serial-temp.bmp";
                if (!SavePictureBMP(frame.image(), temp)) return false;
                const int result = ConvertBMPtoJPG(temp, path, -1, 100, -1);
                std::filesystem::remove(temp);
                if (result != kConvertOk) return false;
                break;
            }
            case kSaveGif: {
                frame.setPictureFromImage();
                GIF gif;
                if (!gif.SaveGIF(frame.picture(), path, frame.hDC(), request.transparency,
                                 GetPixel(frame.hDC(), 0, 0)))
                    return false;
                break;
            }
            default: break;
        }
    }
    return true;
}

}  // namespace tarnel::test
