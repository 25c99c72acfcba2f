#include "recording_module_library.hpp"

#include "zmod4710.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

void append(std::ostringstream &) {}

template <class First, class... Rest>
void append(std::ostringstream &text, const First &first, const Rest &...rest) {
    text << first;
    if constexpr (sizeof...(rest) > 0) {
        text << ", ";
    }
    append(text, rest...);
}

// "WriteAO(0, 3, 1, 2.5)": shorts and floats as numbers, not characters.
template <class... Args> std::string call_text(const char *name, const Args &...args) {
    std::ostringstream text;
    text << name << "(";
    append(text, args...);
    text << ")";
    return text.str();
}

} // namespace

int RecordingModuleLibrary::Init(int slot) {
    calls.push_back(call_text("Init", slot));
    return slot == module_slot ? 0 : 1;
}

int RecordingModuleLibrary::WriteAO(int slot, int channel, short range, float value) {
    calls.push_back(call_text("WriteAO", slot, channel, range, value));
    const auto turn = static_cast<std::size_t>(
        std::count_if(writes.begin(), writes.end(),
                      [](const Write &write) { return write.operation == "WriteAO"; }));
    const int result = turn < write_ao_results.size() ? write_ao_results[turn] : answer("WriteAO");
    refusals += turn < write_ao_results.size() && result != 0 ? 1 : 0;
    writes.push_back({"WriteAO", slot, channel, range, value, result});
    return result;
}

int RecordingModuleLibrary::SetPowerOnEnStatus(int slot, short mode) {
    calls.push_back(call_text("SetPowerOnEnStatus", slot, mode));
    return answer("SetPowerOnEnStatus");
}

int RecordingModuleLibrary::WritePowerOn_AO(int slot, int channel, short range, float value) {
    calls.push_back(call_text("WritePowerOn_AO", slot, channel, range, value));
    const int result = answer("WritePowerOn_AO");
    writes.push_back({"WritePowerOn_AO", slot, channel, range, value, result});
    return result;
}

int RecordingModuleLibrary::ReadAO_GainOffset(int slot, int channel, short range,
                                              unsigned short *gain_out, short *offset_out) {
    calls.push_back(call_text("ReadAO_GainOffset", slot, channel, range));
    if (fills_outputs) {
        *gain_out = gain;
        *offset_out = offset;
    }
    return answer("ReadAO_GainOffset");
}

int RecordingModuleLibrary::GetLibVersion() {
    calls.push_back(call_text("GetLibVersion"));
    return lib_version;
}

int RecordingModuleLibrary::GetLibDate(char *date) {
    calls.push_back(call_text("GetLibDate"));
    if (fills_outputs) {
        std::memcpy(date, lib_date.data(),
                    std::min<std::size_t>(lib_date.size() + 1, ZMOD4710_LIB_DATE_SIZE));
    }
    return answer("GetLibDate");
}

int RecordingModuleLibrary::GetFirmwareVersion(int slot, short *version) {
    calls.push_back(call_text("GetFirmwareVersion", slot));
    if (fills_outputs) {
        *version = firmware;
    }
    return answer("GetFirmwareVersion");
}

int RecordingModuleLibrary::answer(const std::string &operation) {
    const auto found = results.find(operation);
    const int result = found != results.end() ? found->second : 0;
    refusals += result != 0 ? 1 : 0;
    return result;
}

std::vector<std::string> RecordingModuleLibrary::calls_after_scan() const {
    std::vector<std::string> rest;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(rest),
                 [](const std::string &call) { return call.rfind("Init(", 0) != 0; });
    return rest;
}
