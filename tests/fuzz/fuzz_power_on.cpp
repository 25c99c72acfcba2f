// ao_power_on's dialogue on any bytes a person could type.
#include "power_on.h"

#include "fuzz_console.hpp"
#include "recording_module_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingModuleLibrary library;
    FuzzConsole console(data, size);
    FUZZ_CHECK(run_power_on(library, console.console()) == 0);
    const std::string output = console.output();

    // Every answer is in before the first write: a refused dialogue writes nothing,
    // and a completed one writes the output, and the power-on value in mode 1.
    const bool refused = output.find("invalid input\n") != std::string::npos;
    FUZZ_CHECK(!refused || library.writes.empty());
    FUZZ_CHECK(refused || library.writes.size() <= 2);
    for (const RecordingModuleLibrary::Write &write : library.writes) {
        FUZZ_CHECK(is_sound_write(write.range, write.value));
        FUZZ_CHECK(write.slot == 0);
        // The value written is the value the tool tells the user about.
        const std::string value = shown(" %2.4f ", write.value);
        FUZZ_CHECK(output.find(value) != std::string::npos);
    }
    return 0;
}
