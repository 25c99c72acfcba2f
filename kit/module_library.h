// The module library as the tools see it.
//
// Private to the tools, not a stable interface. The tools call the module only
// through ModuleLibrary, so that tests can hand them a recording fake; the
// default binding, LinkedModuleLibrary, calls the zmod4710_* functions that the
// program imports at load time.
#ifndef KIT_MODULE_LIBRARY_H
#define KIT_MODULE_LIBRARY_H

class ModuleLibrary {
public:
    virtual int Init(int slot) = 0;
    virtual int WriteAO(int slot, int channel, short range, float value) = 0;
    virtual int SetPowerOnEnStatus(int slot, short mode) = 0;
    virtual int WritePowerOn_AO(int slot, int channel, short range, float value) = 0;
    virtual int ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                                  short *offset) = 0;
    virtual int GetLibVersion() = 0;
    // date: a buffer of ZMOD4710_LIB_DATE_SIZE bytes.
    virtual int GetLibDate(char *date) = 0;
    virtual int GetFirmwareVersion(int slot, short *version) = 0;

protected:
    // Bindings are owned by the code that makes them, never deleted through this type.
    ~ModuleLibrary() {}
};

class LinkedModuleLibrary : public ModuleLibrary {
public:
    virtual int Init(int slot);
    virtual int WriteAO(int slot, int channel, short range, float value);
    virtual int SetPowerOnEnStatus(int slot, short mode);
    virtual int WritePowerOn_AO(int slot, int channel, short range, float value);
    virtual int ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                                  short *offset);
    virtual int GetLibVersion();
    virtual int GetLibDate(char *date);
    virtual int GetFirmwareVersion(int slot, short *version);
};

#endif // KIT_MODULE_LIBRARY_H
