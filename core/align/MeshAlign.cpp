#include "core/align/MeshAlign.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

namespace tarnel {
namespace {

// Features are found on a copy whose long side is at most this; the global fit
// needs no more, and ORB's cost grows with the area.
constexpr double kFeatureSide = 1024.0;
// The flow runs on a copy of at most this many pixels: about 1.3 megapixels
// keeps a 1080p pair well inside a second on two cores.
constexpr double kFlowPixels = 1.3e6;
constexpr int kMinMatches = 30;
constexpr int kMinSide = 48;
constexpr int kFeatures = 3000;
constexpr float kMatchRatio = 0.8f;
// Forward and backward flow of one pixel may disagree by this much (pixels of
// the flow copy) before the pixel no longer counts.
constexpr float kFlowAgreement = 0.75f;

using Homography = cv::Matx33d;

cv::Mat grayOf(const Bitmap& picture) {
    cv::Mat gray(picture.height(), picture.width(), CV_8UC1);
    const int w = picture.width();
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* row = picture.scanline(y);
        uint8_t* out = gray.ptr<uint8_t>(y);
        auto put = [&](int x, int r, int g, int b) { out[x] = uint8_t((77 * r + 150 * g + 29 * b + 128) >> 8); };
        if (picture.bpp() == 24 || picture.bpp() == 32) {
            const int step = picture.bpp() / 8;
            for (int x = 0; x < w; ++x) put(x, row[x * step + 2], row[x * step + 1], row[x * step]);
        } else {
            for (int x = 0; x < w; ++x) {
                RGBQuad c = picture.pixelColor(x, y);
                put(x, c.red, c.green, c.blue);
            }
        }
    }
    return gray;
}

cv::Mat reduced(const cv::Mat& gray, double scale) {
    if (scale >= 1.0) return gray;
    cv::Mat out;
    cv::Size size(std::max(1, int(std::lround(gray.cols * scale))), std::max(1, int(std::lround(gray.rows * scale))));
    cv::resize(gray, out, size, 0, 0, cv::INTER_AREA);
    return out;
}

cv::Point2d apply(const Homography& h, cv::Point2d p) {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    return {(h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w};
}

double cross(cv::Point2d o, cv::Point2d a, cv::Point2d b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// A fit is usable when it keeps the picture's corners a convex quadrangle of
// the same turn, in front of the camera, at a plausible scale, and with no
// more perspective than two views of one subject show: a fit on features of a
// small part of the picture can tilt wildly beyond it.
bool plausible(const Homography& h, int width, int height) {
    const std::array<cv::Point2d, 4> corners = {cv::Point2d(0, 0), cv::Point2d(width, 0),
                                                cv::Point2d(width, height), cv::Point2d(0, height)};
    std::array<cv::Point2d, 4> mapped;
    double wMin = INFINITY, wMax = 0;
    for (size_t k = 0; k < 4; ++k) {
        const cv::Point2d& c = corners[k];
        const double w = h(2, 0) * c.x + h(2, 1) * c.y + h(2, 2);
        if (w <= 1e-6) return false;
        wMin = std::min(wMin, w), wMax = std::max(wMax, w);
        mapped[k] = apply(h, c);
    }
    if (wMax > 1.5 * wMin) return false;
    double area = 0;
    for (size_t k = 0; k < 4; ++k) {
        const double turn = cross(mapped[k], mapped[(k + 1) % 4], mapped[(k + 2) % 4]);
        if (turn <= 0) return false;
        area += mapped[k].x * mapped[(k + 1) % 4].y - mapped[(k + 1) % 4].x * mapped[k].y;
    }
    const double ratio = 0.5 * area / (double(width) * height);
    return ratio > 0.2 && ratio < 5.0;
}

struct GlobalFit {
    Homography h = Homography::eye();
    int inliers = 0;
    bool usable = false;
};

// `lowContrast`: for soft pictures (mist, blur, night) that give few corners,
// local contrast is raised and weaker corners count.
GlobalFit fitGlobal(const cv::Mat& start, const cv::Mat& end, const std::vector<cv::Point2f>& keptFrom,
                    const std::vector<cv::Point2f>& keptTo, bool lowContrast) {
    GlobalFit fit;
    const double scale = std::min(1.0, kFeatureSide / std::max(start.cols, start.rows));
    cv::Mat a = reduced(start, scale), b = reduced(end, scale);
    if (lowContrast) {
        auto clahe = cv::createCLAHE(3.0, cv::Size(8, 8));
        cv::Mat ea, eb;
        clahe->apply(a, ea);
        clahe->apply(b, eb);
        a = ea, b = eb;
    }
    auto orb = cv::ORB::create(kFeatures, 1.2f, 8, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, lowContrast ? 5 : 12);
    std::vector<cv::KeyPoint> ka, kb;
    cv::Mat da, db;
    orb->detectAndCompute(a, cv::noArray(), ka, da);
    orb->detectAndCompute(b, cv::noArray(), kb, db);
    std::vector<cv::Point2f> from, to;
    if (!da.empty() && !db.empty() && kb.size() >= 2) {
        cv::BFMatcher matcher(cv::NORM_HAMMING);
        std::vector<std::vector<cv::DMatch>> knn;
        matcher.knnMatch(da, db, knn, 2);
        for (const auto& m : knn) {
            if (m.size() < 2 || m[0].distance >= kMatchRatio * m[1].distance) continue;
            from.push_back(ka[size_t(m[0].queryIdx)].pt * float(1.0 / scale));
            to.push_back(kb[size_t(m[0].trainIdx)].pt * float(1.0 / scale));
        }
    }
    const size_t featureMatches = from.size();
    // Points placed by hand are correspondences the user vouches for.
    from.insert(from.end(), keptFrom.begin(), keptFrom.end());
    to.insert(to.end(), keptTo.begin(), keptTo.end());
    if (from.size() < 4) return fit;
    const double diagonal = std::hypot(double(start.cols), double(start.rows));
    // Smooth local motion (a wave, a turned head) moves true matches off any
    // single fit by several pixels: a strict threshold keeps only a patch of
    // them, and a fit on a patch tilts wildly beyond it.
    const double threshold = std::max(3.0 / scale, 0.01 * diagonal);
    std::vector<uint8_t> mask;
    auto countInliers = [&] {
        int n = 0;
        for (size_t k = 0; k < featureMatches && k < mask.size(); ++k) n += mask[k] ? 1 : 0;
        return n;
    };
    if (cv::Mat h = cv::findHomography(from, to, cv::USAC_MAGSAC, threshold, mask, 4000, 0.999); !h.empty()) {
        fit.h = Homography(h);
        fit.inliers = countInliers();
        fit.usable = plausible(fit.h, start.cols, start.rows);
    }
    if (fit.usable) return fit;
    // Matches that leave the perspective undetermined still fix an affine map.
    mask.clear();
    if (cv::Mat a = cv::estimateAffine2D(from, to, mask, cv::RANSAC, threshold, 4000, 0.999); !a.empty()) {
        fit.h = Homography(a.at<double>(0, 0), a.at<double>(0, 1), a.at<double>(0, 2), a.at<double>(1, 0),
                           a.at<double>(1, 1), a.at<double>(1, 2), 0, 0, 1);
        fit.inliers = countInliers();
        fit.usable = plausible(fit.h, start.cols, start.rows);
    }
    return fit;
}

// Dense flow from the start picture to the end picture brought onto it by the
// guide, with each pixel's forward-backward disagreement. The guide is the
// global fit refined by a coarse, smoothed first pass of the flow: matched
// features fix the fit where they are, and a fit that is off elsewhere would
// leave the fine pass more motion than it resolves in plain areas.
struct LocalFlow {
    double scale = 1.0;    // flow copy / picture
    cv::Mat guide;         // CV_32FC2: per pixel of the flow copy, its place in the end picture (copy pixels)
    cv::Mat forward;       // CV_32FC2
    cv::Mat disagreement;  // CV_32F, +inf where the end picture has nothing

    cv::Point2d guideAt(cv::Point2d p) const {
        const double x = std::clamp(p.x, 0.0, guide.cols - 1.0), y = std::clamp(p.y, 0.0, guide.rows - 1.0);
        const int x0 = std::min(int(x), guide.cols - 2 < 0 ? 0 : guide.cols - 2);
        const int y0 = std::min(int(y), guide.rows - 2 < 0 ? 0 : guide.rows - 2);
        const int x1 = std::min(x0 + 1, guide.cols - 1), y1 = std::min(y0 + 1, guide.rows - 1);
        const double fx = x - x0, fy = y - y0;
        auto at = [&](int xx, int yy) {
            const cv::Point2f v = guide.at<cv::Point2f>(yy, xx);
            return cv::Point2d(v.x, v.y);
        };
        const cv::Point2d g = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) + (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
        // Beyond the copy's edge the guide goes on as its last step did.
        return g + (p - cv::Point2d(x, y));
    }
};

// Forward flow a -> b and how far each pixel's backward flow disagrees;
// `seen` maps a pixel of b's frame to the end picture, for the edge test.
void flowBothWays(cv::DISOpticalFlow& dis, const cv::Mat& a, const cv::Mat& b, const cv::Mat& seen, cv::Size endSize,
                  cv::Mat& forward, cv::Mat& disagreement) {
    cv::Mat backward;
    dis.calc(a, b, forward);
    dis.calc(b, a, backward);
    cv::Mat map(a.size(), CV_32FC2);
    for (int y = 0; y < a.rows; ++y) {
        const auto* f = forward.ptr<cv::Point2f>(y);
        auto* m = map.ptr<cv::Point2f>(y);
        for (int x = 0; x < a.cols; ++x) m[x] = cv::Point2f(float(x), float(y)) + f[x];
    }
    cv::Mat back, where;
    cv::remap(backward, back, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(1e6, 1e6));
    cv::remap(seen, where, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(-1e6, -1e6));
    disagreement.create(a.size(), CV_32F);
    for (int y = 0; y < a.rows; ++y) {
        const auto* f = forward.ptr<cv::Point2f>(y);
        const auto* r = back.ptr<cv::Point2f>(y);
        const auto* w = where.ptr<cv::Point2f>(y);
        float* d = disagreement.ptr<float>(y);
        for (int x = 0; x < a.cols; ++x) {
            // Where the guide looks beyond the end picture the flow only sees
            // repeated edge pixels.
            const bool inside = w[x].x >= 0 && w[x].y >= 0 && w[x].x <= endSize.width - 1 && w[x].y <= endSize.height - 1;
            d[x] = inside ? float(std::hypot(f[x].x + r[x].x, f[x].y + r[x].y)) : INFINITY;
        }
    }
}

cv::Mat homographyMap(const cv::Matx33d& h, cv::Size size) {
    cv::Mat map(size, CV_32FC2);
    for (int y = 0; y < size.height; ++y) {
        auto* m = map.ptr<cv::Point2f>(y);
        for (int x = 0; x < size.width; ++x) {
            const cv::Point2d p = apply(h, cv::Point2d(x, y));
            m[x] = cv::Point2f(float(p.x), float(p.y));
        }
    }
    return map;
}

// Flow along an edge or a stripe is not fixed by the pictures (the aperture
// problem), yet agrees forward and backward: weigh each pixel by the smaller
// eigenvalue of its structure tensor against the level of noise.
cv::Mat textureOf(const cv::Mat& gray) {
    cv::Mat eigen;
    cv::cornerMinEigenVal(gray, eigen, 7, 3);
    constexpr double kNoise = 1e-5;  // a patch of sensor noise and JPEG blocks
    cv::Mat weight = eigen / (eigen + kNoise);
    return weight;
}

LocalFlow flowBetween(const cv::Mat& start, const cv::Mat& end, const Homography& h) {
    LocalFlow flow;
    flow.scale = std::min(1.0, std::sqrt(kFlowPixels / (double(start.cols) * start.rows)));
    const cv::Mat a = reduced(start, flow.scale), b = reduced(end, flow.scale);
    const cv::Matx33d s(flow.scale, 0, 0, 0, flow.scale, 0, 0, 0, 1);
    const cv::Matx33d hs = s * h * s.inv();
    flow.guide = homographyMap(hs, a.size());

    // The coarse pass, at half the size.
    if (a.cols >= 64 && a.rows >= 64) {
        const cv::Size half((a.cols + 1) / 2, (a.rows + 1) / 2);
        const cv::Matx33d up(2, 0, 0, 0, 2, 0, 0, 0, 1);
        const cv::Mat ac = reduced(a, double(half.width) / a.cols);
        const cv::Mat seen = homographyMap(hs * up, ac.size());
        cv::Mat warped, forward, disagreement;
        cv::remap(b, warped, seen, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        cv::Mat small;
        cv::resize(warped, small, ac.size(), 0, 0, cv::INTER_AREA);
        warped = small.size() == ac.size() ? small : warped;
        auto dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_FAST);
        cv::Mat seenHalf;
        cv::resize(seen, seenHalf, ac.size(), 0, 0, cv::INTER_LINEAR);
        flowBothWays(*dis, ac, warped, seenHalf, b.size(), forward, disagreement);
        // Keep what agrees both ways and smooth it broadly: only the large,
        // smooth part of the motion is wanted here.
        cv::Mat weight = disagreement < 1.0f;
        weight.convertTo(weight, CV_32F, 1.0 / 255);
        weight = weight.mul(textureOf(ac));
        std::vector<cv::Mat> parts;
        cv::split(forward, parts);
        const double sigma = std::max(ac.cols, ac.rows) / 24.0;
        cv::Mat wsum;
        cv::GaussianBlur(weight, wsum, cv::Size(), sigma);
        for (cv::Mat& part : parts) {
            cv::GaussianBlur(part.mul(weight), part, cv::Size(), sigma);
            part /= cv::max(wsum, 1e-3);
            part.setTo(0, wsum < 1e-3);
        }
        cv::Mat coarse;
        cv::merge(parts, coarse);
        cv::resize(coarse, coarse, a.size(), 0, 0, cv::INTER_LINEAR);
        coarse *= double(a.cols) / ac.cols;
        for (int y = 0; y < a.rows; ++y) {
            const auto* c = coarse.ptr<cv::Point2f>(y);
            auto* g = flow.guide.ptr<cv::Point2f>(y);
            for (int x = 0; x < a.cols; ++x) {
                // The coarse flow was measured in the half-size frame of the guide.
                const cv::Point2d p = apply(hs, cv::Point2d(x + c[x].x, y + c[x].y));
                g[x] = cv::Point2f(float(p.x), float(p.y));
            }
        }
    }

    cv::Mat warped;
    cv::remap(b, warped, flow.guide, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    auto dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
    flowBothWays(*dis, a, warped, flow.guide, b.size(), flow.forward, flow.disagreement);
    return flow;
}

struct PointFlow {
    cv::Point2d offset;  // in flow-copy pixels
    float confidence = 0;
};

// The flow around a point, weighted by closeness and counting only pixels
// whose flow agrees both ways; the confidence is the share that does.
PointFlow sampleFlow(const LocalFlow& flow, cv::Point2d at, double radius) {
    PointFlow out;
    const double sigma = radius / 2;
    const int x0 = int(std::floor(at.x - radius)), x1 = int(std::ceil(at.x + radius));
    const int y0 = int(std::floor(at.y - radius)), y1 = int(std::ceil(at.y + radius));
    double all = 0, agreed = 0, sx = 0, sy = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double d2 = (x - at.x) * (x - at.x) + (y - at.y) * (y - at.y);
            if (d2 > radius * radius) continue;
            const double w = std::exp(-d2 / (2 * sigma * sigma));
            all += w;
            if (x < 0 || y < 0 || x >= flow.forward.cols || y >= flow.forward.rows) continue;
            if (!(flow.disagreement.at<float>(y, x) < kFlowAgreement)) continue;
            const cv::Point2f f = flow.forward.at<cv::Point2f>(y, x);
            agreed += w;
            sx += w * f.x;
            sy += w * f.y;
        }
    }
    if (agreed > 0) out.offset = {sx / agreed, sy / agreed};
    out.confidence = all > 0 ? float(agreed / all) : 0.0f;
    return out;
}

// Triangulation neighbours of point (i, j), as BuildTriangleList cuts cells.
constexpr std::array<std::array<int, 2>, 6> kNeighbours = {
    {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, 1}, {-1, -1}}};

class Placement {
public:
    Placement(const MeshGrid& mesh, std::vector<bool> movable) : mesh_(mesh), movable_(std::move(movable)) {}

    MeshGrid& mesh() { return mesh_; }
    bool movable(int i, int j) const { return movable_[index(i, j)]; }
    size_t index(int i, int j) const { return size_t(j) * size_t(mesh_.countI()) + size_t(i); }

    // Of every triangle turned over or squashed flat, the movable corner the
    // pictures vouch for least.
    std::vector<size_t> folded(double minArea, const std::vector<float>& confidence) const {
        std::vector<size_t> bad;
        for (int j = 1; j <= mesh_.columns(); ++j) {
            for (int i = 1; i <= mesh_.rows(); ++i) {
                const cv::Point2d tl = at(i, j), tr = at(i + 1, j), bl = at(i, j + 1), br = at(i + 1, j + 1);
                // In a grid as placed, (TL, BL, BR) turns one way and (TL, TR, BR) the other.
                const bool first = -cross(tl, bl, br) > minArea, second = cross(tl, tr, br) > minArea;
                auto mark = [&](std::initializer_list<std::array<int, 2>> corners) {
                    size_t pick = SIZE_MAX;
                    for (auto [ci, cj] : corners)
                        if (movable(ci, cj) && (pick == SIZE_MAX || confidence[index(ci, cj)] < confidence[pick]))
                            pick = index(ci, cj);
                    if (pick != SIZE_MAX) bad.push_back(pick);
                };
                if (!first) mark({{i, j}, {i, j + 1}, {i + 1, j + 1}});
                if (!second) mark({{i, j}, {i + 1, j}, {i + 1, j + 1}});
            }
        }
        std::sort(bad.begin(), bad.end());
        bad.erase(std::unique(bad.begin(), bad.end()), bad.end());
        return bad;
    }

    // A feature the end picture does not show (beyond its border) is placed
    // just inside it: the border points stay, so beyond them the mesh folds.
    void keepInside(size_t k, double margin) {
        const int i = int(k % size_t(mesh_.countI())), j = int(k / size_t(mesh_.countI()));
        MeshPoint& p = mesh_.at(i, j);
        auto clampTo = [margin](float& v, double lo, double hi) {
            if (hi - lo > 2 * margin) v = float(std::clamp(double(v), lo + margin, hi - margin));
        };
        clampTo(p.x, mesh_.at(1, j).x, mesh_.at(mesh_.rows() + 1, j).x);
        clampTo(p.y, mesh_.at(i, 1).y, mesh_.at(i, mesh_.columns() + 1).y);
    }

    // Moves a point the least distance that unfolds every triangle it is a
    // corner of: the rest of what the pictures said of it stays. With the
    // other corners fixed each triangle asks a half-plane of it, so the
    // nearest allowed place is the point itself, its projection on one
    // boundary or the meeting of two. False when the half-planes leave no
    // room (its neighbours must move first).
    bool nudge(size_t k, double minArea) {
        const int i = int(k % size_t(mesh_.countI())), j = int(k / size_t(mesh_.countI()));
        MeshPoint& p = mesh_.at(i, j);
        const MeshPoint from = p;
        struct HalfPlane {
            double c0, cx, cy;  // c0 + cx x + cy y must exceed the margin
        };
        std::vector<HalfPlane> planes;
        for (int cj = std::max(1, j - 1); cj <= std::min(mesh_.columns(), j); ++cj)
            for (int ci = std::max(1, i - 1); ci <= std::min(mesh_.rows(), i); ++ci) {
                const std::array<std::array<std::array<int, 2>, 3>, 2> triangles = {
                    {{{{ci, cj}, {ci, cj + 1}, {ci + 1, cj + 1}}}, {{{ci, cj}, {ci + 1, cj}, {ci + 1, cj + 1}}}}};
                for (size_t t = 0; t < 2; ++t) {
                    const auto& corners = triangles[t];
                    if (std::none_of(corners.begin(), corners.end(), [&](auto c) { return c[0] == i && c[1] == j; }))
                        continue;
                    auto area = [&](double x, double y) {
                        p = MeshPoint{float(x), float(y)};
                        const double c = cross(at(corners[0][0], corners[0][1]), at(corners[1][0], corners[1][1]),
                                               at(corners[2][0], corners[2][1]));
                        return t == 0 ? -c : c;
                    };
                    // The area is affine in the point's position; read it off
                    // at the point and one pixel along each axis.
                    const double x0 = from.x, y0 = from.y, a0 = area(x0, y0);
                    const double ax = area(x0 + 1, y0) - a0, ay = area(x0, y0 + 1) - a0;
                    planes.push_back({a0 - ax * x0 - ay * y0, ax, ay});
                }
            }
        p = from;
        const double margin = 2 * minArea;
        auto allows = [&](double x, double y) {
            return std::all_of(planes.begin(), planes.end(),
                               [&](const HalfPlane& h) { return h.c0 + h.cx * x + h.cy * y >= margin * 0.999; });
        };
        if (allows(from.x, from.y)) return true;
        double bestX = 0, bestY = 0, best = INFINITY;
        auto consider = [&](double x, double y) {
            if (!std::isfinite(x) || !std::isfinite(y) || !allows(x, y)) return;
            const double d = std::hypot(x - from.x, y - from.y);
            if (d < best) best = d, bestX = x, bestY = y;
        };
        for (size_t a = 0; a < planes.size(); ++a) {
            const HalfPlane& h = planes[a];
            const double n2 = h.cx * h.cx + h.cy * h.cy;
            if (n2 <= 0) continue;
            const double over = (margin - (h.c0 + h.cx * from.x + h.cy * from.y)) / n2;
            consider(from.x + over * h.cx, from.y + over * h.cy);
            for (size_t b = a + 1; b < planes.size(); ++b) {
                const HalfPlane& g = planes[b];
                const double det = h.cx * g.cy - h.cy * g.cx;
                if (std::abs(det) < 1e-12) continue;
                consider(((margin - h.c0) * g.cy - h.cy * (margin - g.c0)) / det,
                         (h.cx * (margin - g.c0) - (margin - h.c0) * g.cx) / det);
            }
        }
        if (!std::isfinite(best)) return false;
        p = MeshPoint{float(bestX), float(bestY)};
        return true;
    }

    // Moves the given points to the mean of their neighbours, repeatedly: with
    // a convex rim this cannot fold (a barycentric embedding).
    void relax(const std::vector<bool>& chosen, int sweeps) {
        for (int s = 0; s < sweeps; ++s) {
            for (int j = 2; j <= mesh_.columns(); ++j) {
                for (int i = 2; i <= mesh_.rows(); ++i) {
                    if (!chosen[index(i, j)]) continue;
                    double x = 0, y = 0;
                    for (auto [di, dj] : kNeighbours) {
                        x += mesh_.at(i + di, j + dj).x;
                        y += mesh_.at(i + di, j + dj).y;
                    }
                    mesh_.at(i, j) = MeshPoint{float(x / 6), float(y / 6)};
                }
            }
        }
    }

private:
    cv::Point2d at(int i, int j) const { return {mesh_.at(i, j).x, mesh_.at(i, j).y}; }
    MeshGrid mesh_;
    std::vector<bool> movable_;
};

// Fills the displacements of unknown points from known ones: a membrane over
// the inner points, the border taking no part.
void fillUnknown(const MeshGrid& mesh, std::vector<cv::Point2d>& residual, const std::vector<bool>& known) {
    const int ci = mesh.countI();
    auto idx = [ci](int i, int j) { return size_t(j) * size_t(ci) + size_t(i); };
    bool any = false;
    for (int j = 2; j <= mesh.columns(); ++j)
        for (int i = 2; i <= mesh.rows(); ++i) {
            if (known[idx(i, j)]) any = true;
            else residual[idx(i, j)] = {};
        }
    if (!any) return;
    const int sweeps = 8 * (mesh.rows() + mesh.columns()) + 50;
    for (int s = 0; s < sweeps; ++s) {
        for (int j = 2; j <= mesh.columns(); ++j) {
            for (int i = 2; i <= mesh.rows(); ++i) {
                if (known[idx(i, j)]) continue;
                cv::Point2d sum;
                int n = 0;
                for (auto [di, dj] : std::array<std::array<int, 2>, 4>{{{-1, 0}, {1, 0}, {0, -1}, {0, 1}}}) {
                    const int ni = i + di, nj = j + dj;
                    if (ni < 2 || nj < 2 || ni > mesh.rows() || nj > mesh.columns()) continue;
                    sum += residual[idx(ni, nj)];
                    ++n;
                }
                if (n) residual[idx(i, j)] = sum / n;
            }
        }
    }
}

}  // namespace

std::vector<bool> PointsMovedSince(const MeshGrid& reference, const MeshGrid& current) {
    std::vector<bool> moved(current.points().size(), false);
    if (reference.rows() != current.rows() || reference.columns() != current.columns()) return moved;
    for (size_t k = 0; k < moved.size(); ++k) {
        const MeshPoint a = reference.points()[k], b = current.points()[k];
        moved[k] = std::abs(a.x - b.x) > 0.01f || std::abs(a.y - b.y) > 0.01f;
    }
    return moved;
}

AlignResult AlignMesh(const AlignRequest& request) {
    AlignResult result;
    result.requiredMatches = kMinMatches;
    if (request.endMesh) result.end = *request.endMesh;
    if (!request.start || !request.end || !request.startMesh || !request.endMesh || request.start->empty() ||
        request.end->empty()) {
        result.status = AlignResult::Status::Invalid;
        result.error = "no pictures or meshes to align";
        return result;
    }
    const MeshGrid& startMesh = *request.startMesh;
    const MeshGrid& endMesh = *request.endMesh;
    const int width = request.start->width(), height = request.start->height();
    if (request.end->width() != width || request.end->height() != height) {
        result.status = AlignResult::Status::Invalid;
        result.error = "the pictures differ in size";
        return result;
    }
    if (startMesh.empty() || startMesh.rows() != endMesh.rows() || startMesh.columns() != endMesh.columns()) {
        result.status = AlignResult::Status::Invalid;
        result.error = "the meshes differ in rows or columns";
        return result;
    }
    const size_t count = endMesh.points().size();
    std::vector<bool> keep = request.keep;
    keep.resize(count, false);
    std::vector<bool> movable(count, false);
    for (int j = 0; j < endMesh.countJ(); ++j)
        for (int i = 0; i < endMesh.countI(); ++i) {
            const size_t k = size_t(j) * size_t(endMesh.countI()) + size_t(i);
            movable[k] = IsInnerMeshPoint(endMesh, i, j) && !keep[k];
        }
    result.confidence.assign(count, 1.0f);

    try {
        const cv::Mat start = grayOf(*request.start), end = grayOf(*request.end);
        // Identical pictures: every point matches itself, exactly.
        if (cv::norm(start, end, cv::NORM_INF) == 0) {
            for (size_t k = 0; k < count; ++k)
                if (movable[k]) result.end.points()[k] = startMesh.points()[k];
            result.status = AlignResult::Status::Aligned;
            return result;
        }

        // Corner features need a patch of 31 pixels and a few pyramid levels.
        if (std::min(width, height) < kMinSide) {
            result.status = AlignResult::Status::TooFewMatches;
            result.error = "the pictures have too little in common: 0 consistent feature matches, at least " +
                           std::to_string(kMinMatches) + " needed (pictures under " + std::to_string(kMinSide) +
                           " pixels across show no features)";
            return result;
        }
        std::vector<cv::Point2f> keptFrom, keptTo;
        for (int j = 2; j <= endMesh.columns(); ++j)
            for (int i = 2; i <= endMesh.rows(); ++i)
                if (keep[size_t(j) * size_t(endMesh.countI()) + size_t(i)]) {
                    keptFrom.emplace_back(startMesh.at(i, j).x, startMesh.at(i, j).y);
                    keptTo.emplace_back(endMesh.at(i, j).x, endMesh.at(i, j).y);
                }
        GlobalFit fit = fitGlobal(start, end, keptFrom, keptTo, false);
        if (fit.inliers < kMinMatches || !fit.usable) {
            GlobalFit soft = fitGlobal(start, end, keptFrom, keptTo, true);
            if (soft.usable && soft.inliers >= kMinMatches) fit = soft;
            else fit.inliers = std::max(fit.inliers, soft.inliers);
        }
        result.matches = fit.inliers;
        if (fit.inliers < kMinMatches) {
            result.status = AlignResult::Status::TooFewMatches;
            result.error = "the pictures have too little in common: " + std::to_string(fit.inliers) +
                           " consistent feature matches, at least " + std::to_string(kMinMatches) + " needed";
            return result;
        }
        if (!fit.usable) {
            result.status = AlignResult::Status::Failed;
            result.error = "the matched features give no usable fit (" + std::to_string(fit.inliers) + " matches)";
            return result;
        }

        const LocalFlow flow = flowBetween(start, end, fit.h);
        // Average the flow over a patch a fifth of a cell across.
        const double cell = std::min(double(width) / endMesh.rows(), double(height) / endMesh.columns());
        const double radius = std::clamp(0.2 * cell * flow.scale, 2.0, 12.0);

        // Positions are the fit's plus a residual the flow adds; unknown
        // residuals are filled from known ones.
        std::vector<cv::Point2d> residual(count), fitted(count);
        std::vector<bool> known(count, false);
        std::vector<cv::Point2d> correction(count);
        std::vector<bool> corrected(count, false);
        for (int j = 2; j <= endMesh.columns(); ++j) {
            for (int i = 2; i <= endMesh.rows(); ++i) {
                const size_t k = size_t(j) * size_t(endMesh.countI()) + size_t(i);
                const cv::Point2d p(startMesh.points()[k].x, startMesh.points()[k].y);
                fitted[k] = flow.guideAt(p * flow.scale) / flow.scale;
                const PointFlow f = sampleFlow(flow, p * flow.scale, radius);
                const cv::Point2d flowed = flow.guideAt(p * flow.scale + f.offset) / flow.scale - fitted[k];
                if (keep[k]) {
                    const MeshPoint e = endMesh.points()[k];
                    residual[k] = cv::Point2d(e.x, e.y) - fitted[k];
                    known[k] = true;
                    if (f.confidence >= kLowAlignConfidence) {
                        correction[k] = residual[k] - flowed;
                        corrected[k] = true;
                    }
                    continue;
                }
                result.confidence[k] = f.confidence;
                if (f.confidence >= kLowAlignConfidence) {
                    residual[k] = flowed;
                    known[k] = true;
                }
            }
        }
        // A hand-placed point says where the flow went wrong around it: its
        // direct neighbours take half of that correction.
        for (int j = 2; j <= endMesh.columns(); ++j) {
            for (int i = 2; i <= endMesh.rows(); ++i) {
                const size_t k = size_t(j) * size_t(endMesh.countI()) + size_t(i);
                if (!movable[k] || !known[k]) continue;
                cv::Point2d sum;
                int n = 0;
                for (int dj = -1; dj <= 1; ++dj)
                    for (int di = -1; di <= 1; ++di) {
                        const size_t m = size_t(j + dj) * size_t(endMesh.countI()) + size_t(i + di);
                        if (corrected[m]) sum += correction[m], ++n;
                    }
                if (n) residual[k] += 0.5 * sum / n;
            }
        }
        fillUnknown(endMesh, residual, known);

        Placement placement(endMesh, movable);
        const double cellMin = std::min(double(width) / endMesh.rows(), double(height) / endMesh.columns());
        auto place = [&] {
            for (size_t k = 0; k < count; ++k)
                if (movable[k]) {
                    const cv::Point2d p = fitted[k] + residual[k];
                    placement.mesh().points()[k] = MeshPoint{float(p.x), float(p.y)};
                    placement.keepInside(k, 0.1 * cellMin);
                }
        };
        place();
        // Folds: a corner the flow did not vouch for is filled from its
        // neighbours' displacements; then the least trusted corner of each
        // folded triangle moves towards its neighbours as far as it must;
        // failing that, regions grow and at last the whole mesh is relaxed.
        const double minArea = 1e-3 * cellMin * cellMin;
        for (int round = 0; round < 4; ++round) {
            bool refill = false;
            for (size_t k : placement.folded(minArea, result.confidence))
                if (known[k] && !keep[k] && result.confidence[k] < kLowAlignConfidence) known[k] = false, refill = true;
            if (!refill) break;
            fillUnknown(endMesh, residual, known);
            place();
        }
        std::vector<bool> chosen(count, false);
        constexpr int kRounds = 40;
        for (int round = 0; round < kRounds; ++round) {
            const std::vector<size_t> bad = placement.folded(minArea, result.confidence);
            if (bad.empty()) break;
            bool stuck = false;
            for (size_t k : bad) {
                result.confidence[k] = std::min(result.confidence[k], 0.25f);
                if (!placement.nudge(k, minArea)) stuck = true;
            }
            if (!stuck || round < 8) continue;
            for (size_t k : bad) chosen[k] = true;
            // Grow the region by one ring of movable neighbours.
            std::vector<bool> grown = chosen;
            for (int j = 2; j <= endMesh.columns(); ++j)
                for (int i = 2; i <= endMesh.rows(); ++i) {
                    if (!chosen[placement.index(i, j)]) continue;
                    for (auto [di, dj] : kNeighbours)
                        if (placement.movable(i + di, j + dj)) grown[placement.index(i + di, j + dj)] = true;
                }
            chosen = grown;
            const bool last = round == kRounds - 2;
            if (last) chosen = movable;
            for (size_t k = 0; k < count; ++k)
                if (chosen[k]) result.confidence[k] = std::min(result.confidence[k], 0.25f);
            placement.relax(chosen, last ? 2000 : 50);
        }
        if (!placement.folded(minArea, result.confidence).empty()) {
            result.status = AlignResult::Status::Failed;
            result.error = "no placement without folds was found";
            return result;
        }
        for (size_t k = 0; k < count; ++k)
            if (movable[k] && !std::isfinite(placement.mesh().points()[k].x + placement.mesh().points()[k].y)) {
                result.status = AlignResult::Status::Failed;
                result.error = "the fit gave no finite positions";
                return result;
            }
        result.end = std::move(placement.mesh());
        result.status = AlignResult::Status::Aligned;
        return result;
    } catch (const cv::Exception& e) {
        result.end = endMesh;
        result.status = AlignResult::Status::Failed;
        result.error = std::string("alignment failed: ") + e.what();
    } catch (const std::bad_alloc&) {
        result.end = endMesh;
        result.status = AlignResult::Status::Failed;
        result.error = "alignment failed: out of memory";
    }
    return result;
}

}  // namespace tarnel
