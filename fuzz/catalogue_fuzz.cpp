// Any bytes as a compiled message catalogue. A damaged one must be refused with a problem
// text, never read beyond its bytes; one that is taken must answer every look-up with a
// NUL-terminated text within them, or with nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/MessageCatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MessageCatalogue catalogue;
    std::string problem;
    // The catalogue keeps a copy of exactly their size, so that ASan sees any read beyond.
    if (!catalogue.Take(std::vector<std::uint8_t>(data, data + size), problem)) {
        if (problem.empty()) std::abort();
        return 0;
    }
    // Every NUL-terminated piece of the input is looked up: in a catalogue the originals
    // are such pieces, so the search finds them as well as misses.
    const char* const text = reinterpret_cast<const char*>(data);
    std::size_t start = 0;
    for (std::size_t at = 0; at < size; ++at) {
        if (data[at] != 0) continue;
        if (const char* found = catalogue.Find(std::string_view(text + start, at - start))) {
            if (std::strlen(found) == 0) std::abort();  // an empty translation is none
        }
        start = at + 1;
    }
    return 0;
}
