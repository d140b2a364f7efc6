// The peer libraries a user could read a picture file with instead of ours:
// each loads a picture into its own native layout, as a program using the
// library would write it, from a file or from the file's bytes in memory,
// and frees the picture before the call returns. They exist in the
// benchmarks only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace peers {

struct TPeer {
    const char* Name;
    // Both raise std::runtime_error with the library's reason when it cannot
    // read the picture. LoadMemory is told the file's name for the libraries
    // that choose their reader by extension.
    void (*LoadFile)(const std::string& path);
    void (*LoadMemory)(const std::vector<uint8_t>& bytes, const std::string& path);
};

// The peers that read files with this extension (lower case, no period).
std::vector<TPeer> PeersFor(const std::string& extension);

}  // namespace peers
