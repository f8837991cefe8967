#include "imaging/palette/PaletteRefine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "imaging/palette/PaletteLookup.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnel {

namespace {

using Colour = ColourHistogram::Colour;

// Coordinates of a slot without colours: never the nearest to anything.
constexpr float kFarAway = 1e9f;
constexpr float kHuge = 3.4e38f;
// Centres move this far past the mean of their colours (over-relaxation):
// fewer passes to settle, and the final entries are still true means.
constexpr float kOverRelax = 1.8f;
// Every this many passes, weak entries move to split the costliest clusters.
constexpr int kRelocateEvery = 4;
constexpr size_t kRelocateAtMost = 24;
// Each colour searches among the nearest neighbours of its centre first.
constexpr size_t kNeighbours = 32;

inline uint8_t toByte(double v) { return uint8_t(std::clamp(std::nearbyint(v), 0.0, 255.0)); }

void writePalette(cPal8bpp& palette, const std::vector<Colour>& colours) {
    palette.Initialize(int16_t(colours.size()));
    for (size_t i = 0; i < colours.size(); ++i) {
        const double n = double(colours[i].count);
        palette.SetRgbR(int32_t(i), toByte(double(colours[i].red) / n));
        palette.SetRgbG(int32_t(i), toByte(double(colours[i].green) / n));
        palette.SetRgbB(int32_t(i), toByte(double(colours[i].blue) / n));
    }
    palette.BuildLogicalPalette();
}

// Lloyd passes with bounds (Hamerly's): each colour keeps an upper bound on
// the distance to its centre and a lower bound on the distance to any other;
// while the first stays below the second (or below half the gap from its
// centre to the next), the colour cannot change centre and is not measured.
class Refiner {
public:
    Refiner(const std::vector<Colour>& points, size_t slots)
        : points_(points), slots_(slots), padded_((slots + 3) & ~size_t(3)), r_(padded_, kFarAway),
          g_(padded_, kFarAway), b_(padded_, kFarAway), scratch_(padded_), track_(points.size()),
          sumR_(slots), sumG_(slots), sumB_(slots),
          weight_(slots), shift_(slots), halfGap_(slots), near_(slots * kNeighbours), nearCount_(slots) {
        for (size_t i = 0; i < points.size(); ++i) track_[i] = {points[i].r, points[i].g, points[i].b, 0.0f, 0.0f, 0};
    }

    void setCentre(size_t s, float r, float g, float b) {
        r_[s] = r;
        g_[s] = g;
        b_[s] = b;
    }

    // Starts from the entries of a palette: each colour goes to the entry
    // nearest its rounded value, and the bounds say only that much.
    void start(PaletteLookup& lookup) {
        std::fill(sumR_.begin(), sumR_.end(), 0.0);
        std::fill(sumG_.begin(), sumG_.end(), 0.0);
        std::fill(sumB_.begin(), sumB_.end(), 0.0);
        std::fill(weight_.begin(), weight_.end(), 0.0);
        for (size_t i = 0; i < points_.size(); ++i) {
            const Colour& p = points_[i];
            const uint32_t slot = lookup.Nearest(int(std::lrint(p.r)), int(std::lrint(p.g)), int(std::lrint(p.b)));
            track_[i].slot = slot;
            track_[i].upper = distance(p, slot);
            track_[i].lower = 0;
            sumR_[slot] += double(p.red);
            sumG_[slot] += double(p.green);
            sumB_[slot] += double(p.blue);
            weight_[slot] += double(p.count);
        }
    }

    // Assigns every colour to its nearest centre (all measured when `full`)
    // and sums the clusters. True when any colour changed centre. The sums
    // are of whole numbers, exact in doubles, so a pass that is not full
    // only moves the colours that changed centre from one sum to the other.
    bool assign(bool full) {
        if (full) {
            std::fill(sumR_.begin(), sumR_.end(), 0.0);
            std::fill(sumG_.begin(), sumG_.end(), 0.0);
            std::fill(sumB_.begin(), sumB_.end(), 0.0);
            std::fill(weight_.begin(), weight_.end(), 0.0);
        } else {
            buildNeighbours();
        }
        bool changed = full;
        for (size_t i = 0; i < points_.size(); ++i) {
            const Track& p = track_[i];
            uint32_t slot = p.slot;
            bool measure = full;
            if (!measure) {
                const float bound = std::max(halfGap_[slot], track_[i].lower);
                if (track_[i].upper > bound) {
                    track_[i].upper = distance(p, slot);
                    measure = track_[i].upper > bound;
                }
            }
            if (measure) {
                uint32_t first = 0;
                float d1 = 0, d2 = 0;
                if (full || !nearestAmongNeighbours(p, slot, track_[i].upper, first, d1, d2))
                    nearestTwo(p, first, d1, d2);
                if (first != slot && !full) {
                    changed = true;
                    take(slot, points_[i], -1.0);
                    take(first, points_[i], 1.0);
                }
                slot = first;
                track_[i].slot = uint8_t(slot);
                track_[i].upper = d1;
                track_[i].lower = d2;
            }
            if (full) take(slot, points_[i], 1.0);
        }
        return changed;
    }

    // Moves each centre past the mean of its colours by `relax` (1 = to the
    // mean); an empty one to the costliest colour left (one each).
    void update(float relax) {
        std::vector<size_t> empty;
        for (size_t s = 0; s < slots_; ++s) {
            if (weight_[s] == 0) {
                empty.push_back(s);
                shift_[s] = 0;
                continue;
            }
            const float mr = float(sumR_[s] / weight_[s]), mg = float(sumG_[s] / weight_[s]),
                        mb = float(sumB_[s] / weight_[s]);
            move(s, std::clamp(r_[s] + relax * (mr - r_[s]), 0.0f, 255.0f),
                 std::clamp(g_[s] + relax * (mg - g_[s]), 0.0f, 255.0f),
                 std::clamp(b_[s] + relax * (mb - b_[s]), 0.0f, 255.0f));
        }
        if (!empty.empty()) {
            std::vector<size_t> order(points_.size());
            std::iota(order.begin(), order.end(), size_t(0));
            auto cost = [&](size_t i) {
                return double(track_[i].upper) * double(track_[i].upper) * double(points_[i].count);
            };
            const size_t take = std::min(empty.size(), order.size());
            std::partial_sort(order.begin(), order.begin() + ptrdiff_t(take), order.end(), [&](size_t a, size_t b) {
                const double ca = cost(a), cb = cost(b);
                return ca > cb || (ca == cb && a < b);
            });
            for (size_t e = 0; e < take && cost(order[e]) > 0; ++e) {
                const Colour& p = points_[order[e]];
                setCentre(empty[e], p.r, p.g, p.b);
                shift_[empty[e]] = kHuge;
            }
        }
        followShifts();
    }

    // Splits the costliest clusters along their widest axis, each with an
    // entry taken from where it is missed least, when the split is likely
    // to save more than the move costs.
    void relocate() {
        struct Cluster {
            double cost = 0;              // sum of weight x squared distance to the centre
            double m[6] = {0, 0, 0, 0, 0, 0};  // weighted rr, gg, bb, rg, rb, gb
        };
        std::vector<Cluster> clusters(slots_);
        for (size_t i = 0; i < points_.size(); ++i) {
            const Colour& p = points_[i];
            Cluster& c = clusters[track_[i].slot];
            const double w = double(p.count);
            const double d = distance(p, track_[i].slot);
            c.cost += w * d * d;
            c.m[0] += w * p.r * p.r;
            c.m[1] += w * p.g * p.g;
            c.m[2] += w * p.b * p.b;
            c.m[3] += w * p.r * p.g;
            c.m[4] += w * p.r * p.b;
            c.m[5] += w * p.g * p.b;
        }
        // Giving up an entry costs about its weight times the squared
        // distance to the next entry; a split saves about a third of a cluster.
        std::vector<double> loss(slots_, kHuge);
        for (size_t s = 0; s < slots_; ++s) {
            if (weight_[s] == 0) continue;
            float nearest = kHuge;
            for (size_t t = 0; t < slots_; ++t)
                if (t != s && weight_[t] > 0) nearest = std::min(nearest, distance2(r_[s], g_[s], b_[s], t));
            loss[s] = weight_[s] * double(nearest);
        }
        std::vector<size_t> costly(slots_), cheap(slots_);
        std::iota(costly.begin(), costly.end(), size_t(0));
        std::iota(cheap.begin(), cheap.end(), size_t(0));
        std::sort(costly.begin(), costly.end(), [&](size_t a, size_t b) {
            return clusters[a].cost > clusters[b].cost || (clusters[a].cost == clusters[b].cost && a < b);
        });
        std::sort(cheap.begin(), cheap.end(),
                  [&](size_t a, size_t b) { return loss[a] < loss[b] || (loss[a] == loss[b] && a < b); });
        std::vector<uint8_t> used(slots_, 0);
        size_t next = 0, moved = 0;
        for (size_t k = 0; k < costly.size() && moved < kRelocateAtMost; ++k) {
            const size_t t = costly[k];
            if (used[t] || weight_[t] == 0) continue;
            while (next < cheap.size() && (used[cheap[next]] || cheap[next] == t)) ++next;
            if (next >= cheap.size()) break;
            const size_t d = cheap[next];
            if (loss[d] >= clusters[t].cost / 3) break;
            used[t] = used[d] = 1;
            ++moved;
            // The widest axis of the cluster by a few rounds of power iteration.
            const double w = weight_[t];
            const double mr = sumR_[t] / w, mg = sumG_[t] / w, mb = sumB_[t] / w;
            const Cluster& c = clusters[t];
            const double crr = c.m[0] / w - mr * mr, cgg = c.m[1] / w - mg * mg, cbb = c.m[2] / w - mb * mb;
            const double crg = c.m[3] / w - mr * mg, crb = c.m[4] / w - mr * mb, cgb = c.m[5] / w - mg * mb;
            double v[3] = {1, 1, 1};
            double lambda = 0;
            for (int it = 0; it < 8; ++it) {
                const double x = crr * v[0] + crg * v[1] + crb * v[2];
                const double y = crg * v[0] + cgg * v[1] + cgb * v[2];
                const double z = crb * v[0] + cgb * v[1] + cbb * v[2];
                lambda = std::sqrt(x * x + y * y + z * z);
                if (lambda <= 0) break;
                v[0] = x / lambda;
                v[1] = y / lambda;
                v[2] = z / lambda;
            }
            // Two halves of a bell-shaped cluster centre about 0.8 sigma out.
            const double step = 0.8 * std::sqrt(std::max(lambda, 0.0));
            auto at = [](double m, double dv) { return float(std::clamp(m + dv, 0.0, 255.0)); };
            move(t, at(mr, -step * v[0]), at(mg, -step * v[1]), at(mb, -step * v[2]));
            setCentre(d, at(mr, step * v[0]), at(mg, step * v[1]), at(mb, step * v[2]));
            shift_[d] = kHuge;
        }
        for (size_t s = 0; s < slots_; ++s)
            if (!used[s]) shift_[s] = 0;
        followShifts();
    }

    // Slots that ended with colours, in slot order, as the means of their colours.
    void write(cPal8bpp& palette) const {
        palette.Initialize(0);
        int16_t entries = 0;
        for (size_t s = 0; s < slots_; ++s) {
            if (weight_[s] == 0) continue;
            palette.SetRgbR(entries, toByte(sumR_[s] / weight_[s]));
            palette.SetRgbG(entries, toByte(sumG_[s] / weight_[s]));
            palette.SetRgbB(entries, toByte(sumB_[s] / weight_[s]));
            ++entries;
        }
        palette.SetEntries(entries);
        palette.BuildLogicalPalette();
    }

private:
    struct Neighbour {
        float distance;
        uint32_t slot;
    };

    float distance2(float r, float g, float b, size_t s) const {
        const float dr = r - r_[s], dg = g - g_[s], db = b - b_[s];
        return dr * dr + dg * dg + db * db;
    }
    template <class P>
    float distance(const P& p, size_t s) const { return std::sqrt(distance2(p.r, p.g, p.b, s)); }

    void take(size_t s, const Colour& p, double sign) {
        sumR_[s] += sign * double(p.red);
        sumG_[s] += sign * double(p.green);
        sumB_[s] += sign * double(p.blue);
        weight_[s] += sign * double(p.count);
    }

    void move(size_t s, float r, float g, float b) {
        const float dr = r - r_[s], dg = g - g_[s], db = b - b_[s];
        shift_[s] = std::sqrt(dr * dr + dg * dg + db * db);
        setCentre(s, r, g, b);
    }

    // The bounds follow the moves: a colour's own centre may have gone away
    // by its shift, any other come closer by the largest shift of the rest.
    void followShifts() {
        size_t most = 0;
        for (size_t s = 1; s < slots_; ++s)
            if (shift_[s] > shift_[most]) most = s;
        float nextMost = 0;
        for (size_t s = 0; s < slots_; ++s)
            if (s != most) nextMost = std::max(nextMost, shift_[s]);
        for (size_t i = 0; i < points_.size(); ++i) {
            const uint32_t slot = track_[i].slot;
            track_[i].upper = shift_[slot] >= kHuge ? kHuge : track_[i].upper + shift_[slot];
            const float fall = slot == most ? nextMost : shift_[most];
            track_[i].lower = fall >= kHuge ? 0.0f : std::max(0.0f, track_[i].lower - fall);
        }
    }

    // The kNeighbours nearest other centres of each centre, nearest first.
    void buildNeighbours() {
        // Kept in order of squared distance as the slots go by (a later
        // slot never wins a tie); only the kept ones need a root.
        std::array<Neighbour, kNeighbours> all;
        Neighbour* top = all.data();
        float* d = scratch_.data();
        for (size_t a = 0; a < slots_; ++a) {
            const float ra = r_[a], ga = g_[a], ba = b_[a];
            for (size_t b = 0; b < slots_; ++b) d[b] = distance2(ra, ga, ba, b);
            size_t keep = 0;
            for (size_t b = 0; b < slots_; ++b) {
                if (b == a || (keep == kNeighbours && d[b] >= top[keep - 1].distance)) continue;
                size_t at = keep < kNeighbours ? keep++ : keep - 1;
                while (at > 0 && top[at - 1].distance > d[b]) {
                    top[at] = top[at - 1];
                    --at;
                }
                top[at] = {d[b], uint32_t(b)};
            }
            for (size_t k = 0; k < keep; ++k) top[k].distance = std::sqrt(top[k].distance);
            std::copy_n(all.begin(), keep, near_.begin() + ptrdiff_t(a * kNeighbours));
            nearCount_[a] = keep;
            halfGap_[a] = keep > 0 ? all[0].distance / 2 : kHuge;
        }
    }

    // A colour at distance u from centre `slot` can be nearer only to centres
    // less than 2u from it. False when the kept neighbours do not settle it.
    template <class P>
    bool nearestAmongNeighbours(const P& p, uint32_t slot, float u, uint32_t& first, float& d1, float& d2) const {
        // Squared distances while searching; the bounds want plain ones.
        first = slot;
        float best = u * u, second = kHuge;
        const Neighbour* list = near_.data() + size_t(slot) * kNeighbours;
        const size_t n = nearCount_[slot];
        bool settled = n + 1 == slots_;
        for (size_t k = 0; k < n; ++k) {
            // Every later centre is at least this far from the colour.
            const float gap = list[k].distance - u;
            if (gap > 0 && gap * gap >= second) {
                settled = true;
                break;
            }
            const uint32_t c = list[k].slot;
            const float dc = distance2(p.r, p.g, p.b, c);
            if (dc < best || (dc == best && c < first)) {
                second = best;
                best = dc;
                first = c;
            } else if (dc < second) {
                second = dc;
            }
        }
        d1 = std::sqrt(best);
        d2 = std::sqrt(second);
        return settled;
    }

    // Nearest and second nearest centre over all of them, four lanes at a
    // time; ties go to the lower slot.
    template <class P>
    void nearestTwo(const P& p, uint32_t& first, float& d1, float& d2nd) {
        float lo1[4], lo2[4];
        uint32_t at[4];
#if defined(__SSE2__)
        // Each lane keeps its nearest slot: the first of equals, as < is strict.
        const __m128 vr = _mm_set1_ps(p.r), vg = _mm_set1_ps(p.g), vb = _mm_set1_ps(p.b);
        __m128 m1 = _mm_set1_ps(kHuge), m2 = m1;
        __m128i slot = _mm_setr_epi32(0, 1, 2, 3), bestSlot = _mm_setzero_si128();
        const __m128i four = _mm_set1_epi32(4);
        for (size_t k = 0; k < padded_; k += 4) {
            const __m128 dr = _mm_sub_ps(vr, _mm_loadu_ps(&r_[k]));
            const __m128 dg = _mm_sub_ps(vg, _mm_loadu_ps(&g_[k]));
            const __m128 db = _mm_sub_ps(vb, _mm_loadu_ps(&b_[k]));
            const __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dr, dr), _mm_mul_ps(dg, dg)), _mm_mul_ps(db, db));
            const __m128i nearer = _mm_castps_si128(_mm_cmplt_ps(v, m1));
            bestSlot = _mm_or_si128(_mm_and_si128(nearer, slot), _mm_andnot_si128(nearer, bestSlot));
            slot = _mm_add_epi32(slot, four);
            m2 = _mm_min_ps(m2, _mm_max_ps(m1, v));
            m1 = _mm_min_ps(m1, v);
        }
        _mm_storeu_ps(lo1, m1);
        _mm_storeu_ps(lo2, m2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bestSlot);
#else
        for (uint32_t l = 0; l < 4; ++l) {
            lo1[l] = lo2[l] = kHuge;
            at[l] = l;
        }
        for (size_t k = 0; k < padded_; k += 4)
            for (size_t l = 0; l < 4; ++l) {
                const float v = distance2(p.r, p.g, p.b, k + l);
                lo2[l] = std::min(lo2[l], std::max(lo1[l], v));
                if (v < lo1[l]) at[l] = uint32_t(k + l);
                lo1[l] = std::min(lo1[l], v);
            }
#endif
        // The smallest of the lanes' smallest (the lowest slot of equals),
        // then the runner-up among the rest.
        int bestLane = 0;
        for (int l = 1; l < 4; ++l)
            if (lo1[l] < lo1[bestLane] || (lo1[l] == lo1[bestLane] && at[l] < at[bestLane])) bestLane = l;
        const float best = lo1[bestLane];
        float second = lo2[bestLane];
        for (int l = 0; l < 4; ++l)
            if (l != bestLane) second = std::min(second, lo1[l]);
        first = at[bestLane];
        d1 = std::sqrt(best);
        d2nd = std::sqrt(second);
    }

    const std::vector<Colour>& points_;
    const size_t slots_, padded_;
    std::vector<float> r_, g_, b_, scratch_;
    // Per colour, together for the passes: its coordinates, the bounds and its slot.
    struct Track {
        float r, g, b, upper, lower;
        uint32_t slot;
    };
    std::vector<Track> track_;
    std::vector<double> sumR_, sumG_, sumB_, weight_;
    std::vector<float> shift_, halfGap_;
    std::vector<Neighbour> near_;
    std::vector<size_t> nearCount_;
};

}  // namespace

void RefinePalette(cPal8bpp& palette, const ColourHistogram& histogram, int32_t maxColors, int32_t passes) {
    maxColors = std::clamp(maxColors, 1, 256);
    // A picture of few colours keeps them all, exactly.
    const std::vector<uint32_t> exact = histogram.ExactColours();
    if (!exact.empty() && exact.size() <= size_t(maxColors)) {
        palette.Initialize(int16_t(exact.size()));
        for (size_t i = 0; i < exact.size(); ++i) {
            palette.SetRgbR(int32_t(i), uint8_t(exact[i] >> 16));
            palette.SetRgbG(int32_t(i), uint8_t(exact[i] >> 8));
            palette.SetRgbB(int32_t(i), uint8_t(exact[i]));
        }
        palette.BuildLogicalPalette();
        return;
    }
    const std::vector<Colour> points = histogram.Colours();
    if (points.empty()) return;
    if (points.size() <= size_t(maxColors)) return writePalette(palette, points);

    Refiner refiner(points, size_t(maxColors));
    const int start = std::clamp<int>(palette.Entries(), 0, maxColors);
    for (int i = 0; i < start; ++i)
        refiner.setCentre(size_t(i), float(palette.rgbR(i)), float(palette.rgbG(i)), float(palette.rgbB(i)));
    if (start == 0) refiner.setCentre(0, points[0].r, points[0].g, points[0].b);

    if (start > 0) {
        PaletteLookup lookup;
        lookup.SetPalette(palette.entries(), start);
        refiner.start(lookup);
    } else {
        refiner.assign(true);
    }
    for (int pass = 1; pass <= passes; ++pass) {
        // The last passes settle without jumps or overshoot.
        const bool settling = pass > passes - 2;
        if (!settling && pass % kRelocateEvery == 0) refiner.relocate();
        else refiner.update(settling ? 1.0f : kOverRelax);
        if (!refiner.assign(false) && settling) break;
    }
    refiner.write(palette);
}

void CreateRefinedPalette(const GcDIB& image, cPal8bpp& palette, int32_t maxColors) {
    if (image.BPP() != 32) return;
    ColourHistogram histogram;
    histogram.Add(*image.bitmap());
    int32_t x = 0, y = 0, w = 0, h = 0;
    image.GetBestFitInfo(kRefineStartSide, kRefineStartSide, x, y, w, h, false);
    w = std::max(w, 1);
    h = std::max(h, 1);
    GcDIB start;
    if (start.Create(w, h, 32)) image.Stretch(start.hDIBDC(), 0, 0, w, h, 0, 0, image.Width(), image.Height(), SRCCOPY);
    palette.CreateOptimal(start, std::clamp(maxColors, 1, 256), 6, 1.0f, 1.0f, 1.0f);
    RefinePalette(palette, histogram, maxColors);
}

}  // namespace tarnel
