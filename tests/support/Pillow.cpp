#include "support/Pillow.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "imaging/PictureIO.h"
#include "support/Cli.h"

namespace tarnel::test {

namespace {

const char* kPython = "/usr/bin/python3";

bool load(const std::string& path, Bitmap& out) {
    StdPicture picture;
    if (!LoadPicture(path, picture) || !picture.isBitmap()) return false;
    out = std::move(*picture.bitmap);
    return true;
}

std::vector<double> lumaOf(const Bitmap& b) {
    std::vector<double> y(size_t(b.width()) * size_t(b.height()));
    for (int r = 0; r < b.height(); ++r)
        for (int x = 0; x < b.width(); ++x) {
            const RGBQuad c = b.pixelColor(x, r);
            y[size_t(r) * size_t(b.width()) + size_t(x)] = 0.299 * c.red + 0.587 * c.green + 0.114 * c.blue;
        }
    return y;
}

}  // namespace

bool HavePillow() {
    return std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0;
}

PillowAnimation DecodeWithPillow(const std::string& path, const std::string& scratch) {
    const std::string script =
        "import sys\n"
        "from PIL import Image, ImageSequence\n"
        "im = Image.open(sys.argv[1])\n"
        "d = []\n"
        "for i, f in enumerate(ImageSequence.Iterator(im)):\n"
        "    d.append(int(round(f.info.get('duration', 0))))\n"
        "    f.convert('RGB').save('%s/%04d.bmp' % (sys.argv[2], i))\n"
        "print(im.info.get('loop', -1), len(d), *d)\n";
    PillowAnimation a;
    std::istringstream out(CaptureOutput(std::string(kPython) + " -c " + ShellQuote(script) + " " + ShellQuote(path) + " " +
                                   ShellQuote(scratch) + " 2>&1"));
    int count = 0;
    if (!(out >> a.loop >> count)) {
        a.error = out.str();
        return a;
    }
    for (int i = 0; i < count; ++i) {
        int d = 0;
        out >> d;
        a.durations.push_back(d);
        char name[16];
        std::snprintf(name, sizeof name, "/%04d.bmp", i);
        Bitmap frame;
        if (!load(scratch + name, frame)) {
            a.error = "frame " + std::to_string(i) + " did not come out";
            return a;
        }
        a.frames.push_back(std::move(frame));
    }
    a.ok = true;
    return a;
}

Bitmap PillowBoxResize(const std::string& in, int w, int h, const std::string& scratch) {
    const std::string out = scratch + "/pillow-box.bmp";
    const std::string script =
        "import sys\n"
        "from PIL import Image\n"
        "Image.open(sys.argv[1]).convert('RGB').resize((int(sys.argv[2]), int(sys.argv[3])), Image.BOX)"
        ".save(sys.argv[4])\n";
    CaptureOutput(std::string(kPython) + " -c " + ShellQuote(script) + " " + ShellQuote(in) + " " + std::to_string(w) + " " +
            std::to_string(h) + " " + ShellQuote(out) + " 2>&1");
    Bitmap b;
    if (!load(out, b)) return Bitmap();
    return b;
}

Bitmap FFmpegAreaResize(const std::string& in, int w, int h, const std::string& scratch) {
    const std::string out = scratch + "/ffmpeg-area.bmp";
    CaptureOutput("ffmpeg -v error -y -i " + ShellQuote(in) + " -vf scale=" + std::to_string(w) + ":" + std::to_string(h) +
            ":flags=area -pix_fmt bgr24 " + ShellQuote(out) + " 2>&1");
    Bitmap b;
    if (!load(out, b)) return Bitmap();
    return b;
}

WebPInfo WebPMuxInfo(const std::string& path) {
    WebPInfo info;
    std::istringstream out(CaptureOutput("webpmux -info " + ShellQuote(path) + " 2>/dev/null"));
    bool table = false;
    for (std::string line; std::getline(out, line);) {
        if (const size_t at = line.find("Loop Count :"); at != std::string::npos) {
            info.loop = std::atoi(line.c_str() + at + 12);
        } else if (line.find("No.:") != std::string::npos) {
            table = true;
        } else if (table) {
            // "  1:   480   270    no        0        0       50       none ..."
            std::istringstream row(line);
            std::string number, alpha;
            int w = 0, h = 0, x = 0, y = 0, duration = 0;
            if (row >> number >> w >> h >> alpha >> x >> y >> duration) info.durations.push_back(duration);
        }
    }
    info.ok = table && !info.durations.empty();
    return info;
}

double RgbPsnr(const Bitmap& a, const Bitmap& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const RGBQuad p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            const int d[3] = {p.red - q.red, p.green - q.green, p.blue - q.blue};
            for (int v : d) sum += double(v) * v;
        }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double LumaSsim(const Bitmap& a, const Bitmap& b) {
    const int w = a.width(), h = a.height();
    if (w < 11 || h < 11) return 0;
    const std::vector<double> x = lumaOf(a), y = lumaOf(b);
    double g[11], total = 0;
    for (int k = 0; k < 11; ++k) total += g[k] = std::exp(-double((k - 5) * (k - 5)) / (2 * 1.5 * 1.5));
    for (double& v : g) v /= total;
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double sum = 0;
    for (int r = 0; r + 11 <= h; ++r)
        for (int c = 0; c + 11 <= w; ++c) {
            double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
            for (int i = 0; i < 11; ++i)
                for (int j = 0; j < 11; ++j) {
                    const double wt = g[i] * g[j];
                    const size_t at = size_t(r + i) * size_t(w) + size_t(c + j);
                    mx += wt * x[at];
                    my += wt * y[at];
                    xx += wt * x[at] * x[at];
                    yy += wt * y[at] * y[at];
                    xy += wt * x[at] * y[at];
                }
            const double vx = xx - mx * mx, vy = yy - my * my, cxy = xy - mx * my;
            sum += ((2 * mx * my + c1) * (2 * cxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
        }
    return sum / (double(w - 10) * double(h - 10));
}

}  // namespace tarnel::test
