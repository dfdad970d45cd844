// A model of how the stub reads an archive: record by record from the
// front, switching to the next volume only where the stub does (a record
// signature, the 26 bytes of a local header, a chunk of member data of at
// most 2048 bytes), sizes and CRC taken from the local header only, a data
// descriptor skipped as 16 bytes, traditional decryption with the check
// byte.  Packages the builder writes must pass this walk.
#ifndef TVSFX_STUBWALK_H
#define TVSFX_STUBWALK_H

#include "testutil.h"

#include <string>
#include <vector>

namespace tvsfxtest {

struct WalkedMember {
    std::string name;
    Bytes data;
    unsigned disk = 0;     // 1-based volume on which its local header was read
    unsigned lastDisk = 0; // volume on which its data ended
};

struct WalkResult {
    std::string error;  // empty when the walk reached the archive's end
    std::vector<WalkedMember> members;
};

// volumes[0] is read from startOffset, every later volume from its start.
WalkResult StubWalk(const std::vector<Bytes>& volumes, std::size_t startOffset, bool spanned,
                    const std::string& password = "");

}  // namespace tvsfxtest

#endif
