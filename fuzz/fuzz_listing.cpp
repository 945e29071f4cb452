// libFuzzer entry for the listing parsers: the input is a listing as it would arrive on a data connection.
#include "engine/inet/ListingParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the format, the clock and how the bytes are cut into Feed calls, so the fuzzer
    // also explores lines that straddle reads.
    const std::uint8_t control = data[0];
    ++data;
    --size;
    const auto format = (control & 1) ? inet::ListingParser::Format::Mlsd : inet::ListingParser::Format::List;
    const std::int64_t now = (control & 2) ? 1796616090 : 0;
    const std::size_t chunk = 1 + (control >> 2);

    inet::ListingParser parser(
        format, now,
        [](inet::DirEntry&& e) {
            // An entry handed out must be usable as a path component as it stands.
            if (!inet::IsSafeEntryName(e.name) || (e.isFolder && e.isLink)) std::abort();
        },
        [](inet::LineKind kind, std::string_view line) {
            if (kind == inet::LineKind::Entry || kind == inet::LineKind::Ignored) std::abort();
            if (line.size() > inet::ListingParser::kMaxLineLength) std::abort();
        });
    const char* bytes = reinterpret_cast<const char*>(data);
    for (std::size_t i = 0; i < size; i += chunk) {
        parser.Feed(bytes + i, size - i < chunk ? size - i : chunk);
    }
    parser.Finish();
    return 0;
}
