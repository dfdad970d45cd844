// Cutting an archive into disk volumes where the stub can follow it.
//
// The stub switches to the next volume only in three reads: a record
// signature, the 26 bytes of a local header behind its signature, and a
// chunk of a member's compressed data (at most 2048 bytes, counted from
// where the member's data, or the volume, began).  Every other read or
// skip stays on the current volume.  So a volume may end
//   - between two records, except in front of a data descriptor, or
//   - inside a member's data, but not at its first byte and not where a
//     2048-byte chunk ends exactly (the refill behind it would get nothing).
// Everything else (local header with name, extra field and encryption
// header; data descriptor; central header; end record) stays in one piece.
#ifndef TVSFX_SPAN_H
#define TVSFX_SPAN_H

#include "bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvsfx {

enum { STUB_CHUNK_SIZE = 2048 };

enum class RegionKind {
    Whole,       // must not be cut
    Data,        // member data read in chunks: may be cut inside
    Descriptor   // data descriptor: whole, and not cut away from the data in front
};

struct Region {
    std::size_t begin = 0;
    std::size_t end = 0;
    RegionKind kind = RegionKind::Whole;
    std::string what;  // names the record in messages
};

// True when a volume that starts at `volumeStart` may end at `cut`
// (0 < cut < total).  `regions` cover the stream without gaps, in order.
bool CutAllowed(const std::vector<Region>& regions, std::size_t volumeStart, std::size_t cut);

// The end positions of the volumes (the last one is `total`).  Volume i
// holds at most capacities[i] bytes of the stream; volumes beyond the
// list take whatever is left.  Throws Error when a volume cannot end
// anywhere in its room.
std::vector<std::size_t> PlanVolumes(const std::vector<Region>& regions, std::size_t total,
                                     const std::vector<std::uint64_t>& capacities);

}  // namespace tvsfx

#endif
