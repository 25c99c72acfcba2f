// ao_basic_info's passes on any bytes a person could type.
#include "basic_info.h"

#include "fuzz_console.hpp"
#include "recording_module_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingModuleLibrary library;
    FuzzConsole console(data, size);
    FUZZ_CHECK(run_basic_info(library, console.console()) == 0);
    const std::string output = console.output();

    // One report for each write, each write of a value the report shows, in the
    // order of the passes; each pass reads the calibration of what it writes first.
    std::size_t at = 0;
    for (const RecordingModuleLibrary::Write &write : library.writes) {
        FUZZ_CHECK(write.operation == "WriteAO");
        FUZZ_CHECK(is_sound_write(write.range, write.value));
        at = output.find(shown("Output Value = AO %7.3f \n", write.value), at);
        FUZZ_CHECK(at != std::string::npos);
        ++at;
    }
    std::size_t reports = 0;
    for (std::size_t found = output.find("Output Value = AO "); found != std::string::npos;
         found = output.find("Output Value = AO ", found + 1)) {
        ++reports;
    }
    FUZZ_CHECK(reports == library.writes.size());
    const std::vector<std::string> calls = library.calls_after_scan();
    FUZZ_CHECK(calls.size() == 3 + 2 * library.writes.size());
    for (std::size_t pass = 0; pass < library.writes.size(); ++pass) {
        FUZZ_CHECK(calls[3 + 2 * pass].rfind("ReadAO_GainOffset(", 0) == 0);
    }
    return 0;
}
