// ao_basic_info's passes on any bytes a person could type.
#include "basic_info.h"

#include "fuzz_console.hpp"
#include "recording_module_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingModuleLibrary library;
    library.results = refusals_for(
        data, size, {"GetLibDate", "GetFirmwareVersion", "ReadAO_GainOffset", "WriteAO"});
    FuzzConsole console(data, size);
    FUZZ_CHECK(run_basic_info(library, console.console()) == 0);
    const std::string output = console.output();

    // One report for each write that the module did, of the value the report
    // shows, in the order of the passes; a write only after its calibration was read.
    std::size_t at = 0;
    std::size_t done = 0;
    for (const RecordingModuleLibrary::Write &write : library.writes) {
        FUZZ_CHECK(write.operation == "WriteAO");
        FUZZ_CHECK(is_sound_write(write.range, write.value));
        if (write.result == 0) {
            at = output.find(shown("Output Value = AO %7.3f \n", write.value), at);
            FUZZ_CHECK(at != std::string::npos);
            ++at;
            ++done;
        }
    }
    FUZZ_CHECK(count_of(output, "Output Value = AO ") == done);
    FUZZ_CHECK(count_of(output, " refused with result ") ==
               static_cast<std::size_t>(library.refusals));
    // A refused query shows no date or firmware; a refused read writes nothing.
    FUZZ_CHECK(count_of(output, "Library Build Date ") + library.results.count("GetLibDate") == 1);
    FUZZ_CHECK(
        count_of(output, "Farmware Version ") + library.results.count("GetFirmwareVersion") == 1);
    FUZZ_CHECK(library.results.count("ReadAO_GainOffset") == 0 || library.writes.empty());
    const std::vector<std::string> calls = library.calls_after_scan();
    for (std::size_t call = 4; call < calls.size(); ++call) {
        if (calls[call].rfind("WriteAO(", 0) == 0) {
            FUZZ_CHECK(calls[call - 1].rfind("ReadAO_GainOffset(", 0) == 0);
        }
    }
    return 0;
}
