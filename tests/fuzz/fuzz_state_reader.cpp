// The simulated module's state-file reader on any bytes a file could hold: it
// accepts a backplane or refuses with a message, and what it accepts it writes
// back and reads again unchanged.
#include "backplane_json.hpp"

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    zmod4710_sim::Backplane backplane;
    try {
        backplane = zmod4710_sim::parse_backplane(text);
    } catch (const zmod4710_sim::StateError &error) {
        FUZZ_CHECK(error.what()[0] != '\0');
        return 0;
    }
    FUZZ_CHECK(zmod4710_sim::parse_backplane(zmod4710_sim::format_backplane(backplane)) ==
               backplane);
    return 0;
}
