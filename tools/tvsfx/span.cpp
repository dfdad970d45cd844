#include "span.h"

#include "bytes.h"

#include <algorithm>

namespace tvsfx {

bool CutAllowed(const std::vector<Region>& regions, std::size_t volumeStart, std::size_t cut) {
    auto it = std::upper_bound(regions.begin(), regions.end(), cut,
                               [](std::size_t pos, const Region& r) { return pos < r.end; });
    if (it == regions.end()) return false;
    const Region& r = *it;
    if (cut == r.begin) return r.kind == RegionKind::Whole;
    if (r.kind != RegionKind::Data) return false;
    std::size_t origin = std::max(r.begin, volumeStart);
    return cut > origin && (cut - origin) % STUB_CHUNK_SIZE != 0;
}

std::vector<std::size_t> PlanVolumes(const std::vector<Region>& regions, std::size_t total,
                                     const std::vector<std::uint64_t>& capacities) {
    std::vector<std::size_t> ends;
    std::size_t start = 0;
    while (start < total) {
        std::size_t index = ends.size();
        if (index >= capacities.size()) {
            ends.push_back(total);
            break;
        }
        std::uint64_t room = capacities[index];
        if (room >= total - start) {
            ends.push_back(total);
            break;
        }
        std::size_t cut = start + static_cast<std::size_t>(room);
        while (cut > start && !CutAllowed(regions, start, cut)) --cut;
        if (cut == start) {
            auto it = std::upper_bound(regions.begin(), regions.end(), start,
                                       [](std::size_t pos, const Region& r) { return pos < r.end; });
            std::string what = it == regions.end() ? "the archive" : it->what;
            throw Error("volume " + std::to_string(index + 1) + " (" + std::to_string(room) +
                        " bytes) is too small: " + what + " at archive offset " + std::to_string(start) +
                        " does not fit, nor can the volume end inside it");
        }
        ends.push_back(cut);
        start = cut;
    }
    if (ends.empty()) ends.push_back(total);
    return ends;
}

}  // namespace tvsfx
