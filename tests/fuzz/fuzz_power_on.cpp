// ao_power_on's dialogue on any bytes a person could type.
#include "power_on.h"

#include "fuzz_console.hpp"
#include "recording_module_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingModuleLibrary library;
    library.results =
        refusals_for(data, size, {"SetPowerOnEnStatus", "WriteAO", "WritePowerOn_AO"});
    FuzzConsole console(data, size);
    FUZZ_CHECK(run_power_on(library, console.console()) == 0);
    const std::string output = console.output();

    // Every answer is in before the first write: a refused dialogue writes nothing,
    // and a completed one writes the output, and the power-on value in mode 1.
    const bool refused = output.find("invalid input\n") != std::string::npos;
    FUZZ_CHECK(!refused || library.writes.empty());
    FUZZ_CHECK(refused || library.writes.size() <= 2);
    std::size_t outputs_done = 0;
    std::size_t power_on_values_done = 0;
    for (const RecordingModuleLibrary::Write &write : library.writes) {
        FUZZ_CHECK(is_sound_write(write.range, write.value));
        FUZZ_CHECK(write.slot == 0);
        if (write.result == 0) {
            // The value written is the value the tool tells the user about.
            FUZZ_CHECK(output.find(shown(" %2.4f ", write.value)) != std::string::npos);
            ++(write.operation == "WriteAO" ? outputs_done : power_on_values_done);
        }
    }
    // Nothing is shown as done that the module refused; every refusal is told, and
    // the first one ends the writing.
    FUZZ_CHECK(count_of(output, " should output ") + count_of(output, " will hold at ") ==
               outputs_done);
    FUZZ_CHECK(count_of(output, " will become ") == power_on_values_done);
    FUZZ_CHECK(count_of(output, " refused with result ") ==
               static_cast<std::size_t>(library.refusals));
    FUZZ_CHECK(library.refusals <= 1);
    return 0;
}
