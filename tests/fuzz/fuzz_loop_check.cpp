// ao_loop_check on any bytes a person could type.
#include "loop_check.h"

#include "fuzz_console.hpp"
#include "recording_module_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingModuleLibrary library;
    library.results = refusals_for(data, size, {"WriteAO"});
    FuzzConsole console(data, size);
    FUZZ_CHECK(run_loop_check(library, console.console()) == 0);
    const std::string output = console.output();

    // The points in their order on one channel in one range, then at most the
    // value the channel is left at; each write shown before it is made.
    FUZZ_CHECK(library.writes.size() <= 10);
    std::size_t at = 0;
    for (std::size_t index = 0; index < library.writes.size(); ++index) {
        const RecordingModuleLibrary::Write &write = library.writes[index];
        FUZZ_CHECK(write.operation == "WriteAO");
        FUZZ_CHECK(is_sound_write(write.range, write.value));
        FUZZ_CHECK(write.range == library.writes[0].range);
        FUZZ_CHECK(write.channel == library.writes[0].channel);
        if (index < 9) {
            at = output.find(shown("AO %.3f ", write.value), at);
            FUZZ_CHECK(at != std::string::npos);
            ++at;
        }
    }
    // A check that wrote anything reports once, and a refused write is told.
    const std::size_t reports = count_of(output, "Loop check of CH ");
    FUZZ_CHECK(reports == (library.writes.empty() ? 0u : 1u));
    FUZZ_CHECK(count_of(output, "Verdict ") == reports);
    FUZZ_CHECK(count_of(output, " refused with result ") ==
               static_cast<std::size_t>(library.refusals));
    return 0;
}
