// A module library that records every call, in order, as text, and answers as
// a test sets it up.
#pragma once

#include "module_library.h"

#include <map>
#include <string>
#include <vector>

class RecordingModuleLibrary : public ModuleLibrary {
public:
    // The slot whose Init answers 0; any other slot answers 1. -1: no module.
    int module_slot = 0;
    int lib_version = 0x0100;
    std::string lib_date = "2026-12-08";
    short firmware = 3;
    unsigned short gain = 32768;
    short offset = 0;
    // A library that does not fill what it is given leaves the caller's values.
    bool fills_outputs = true;

    // What each call answers, by operation name ("WriteAO"); 0 for any not named.
    // Init answers by module_slot, GetLibVersion with lib_version.
    std::map<std::string, int> results;
    // What the WriteAO calls answer in turn, before results is asked.
    std::vector<int> write_ao_results;
    // How many calls were answered with something other than 0.
    int refusals = 0;

    std::vector<std::string> calls;

    // Each write to the module, WriteAO and WritePowerOn_AO alike, as it was made.
    struct Write {
        std::string operation;
        int slot;
        int channel;
        short range;
        float value;
        int result;
    };
    std::vector<Write> writes;

    int Init(int slot) override;
    int WriteAO(int slot, int channel, short range, float value) override;
    int SetPowerOnEnStatus(int slot, short mode) override;
    int WritePowerOn_AO(int slot, int channel, short range, float value) override;
    int ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain_out,
                          short *offset_out) override;
    int GetLibVersion() override;
    int GetLibDate(char *date) override;
    int GetFirmwareVersion(int slot, short *version) override;

    // The calls other than the slot scan's Init calls.
    std::vector<std::string> calls_after_scan() const;

private:
    int answer(const std::string &operation);
};
