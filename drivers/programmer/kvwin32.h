// The card-programmer library as the drivers call it: one function that
// creates programmer objects and three classes, the parallel-port
// programmer, the USB programmer and the USB media reader. This header
// names exactly the calls the drivers make; an implementation of it (our
// stand-in here, the vendor's library on a machine that has one) is linked
// in its place without a change to the drivers.
//
// Addresses are byte addresses on the card in the slot last selected.
// Results not described are not used by the drivers.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#if defined(KVWIN32_BUILDING)
#define KVWIN32_API __declspec(dllexport)
#else
#define KVWIN32_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KVWIN32_API __attribute__((visibility("default")))
#else
#define KVWIN32_API
#endif

// Object classes of an ObjectRequest.
enum KvcDeviceClass : int16_t { kKvcPPI = 2, kKvcUSB = 5, kKvcUSBMMR = 11 };
constexpr int kKvcCreateObject = 21;  // kvcCustomFunction: create an object

struct ObjectRequest {
    int16_t deviceClass;  // KvcDeviceClass
    int16_t one;          // always 1
    uint32_t unset;       // left as it is
    void *object;         // the object created, null when none is available
};

struct FileTime_t {
    uint8_t minute;
    uint8_t hour;
    uint8_t hundredths;
    uint8_t second;
};
struct FileDate_t {
    uint16_t year;
    uint8_t day;
    uint8_t month;  // 1-12
};
// A directory look-up record; the drivers only pass it along.
struct fd32_fs_lfnfind_t {
    uint8_t data[320];
};

// function 21 creates an object as request->deviceClass asks (result ignored).
KVWIN32_API int32_t kvcCustomFunction(int32_t function, ObjectRequest *request);

// Card programmer on the parallel port (two cartridge slots).
class KVWIN32_API CKvcPPI {
public:
    void kvciSetCartridge(int16_t slot);
    void SelectSlot(int16_t slot);
    void kvciSetPointer(uint32_t address);
    void kvciGetBuf(void *buffer, uint32_t count);
    int32_t kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool verify);  // 0 = programmed
    int32_t kvciWriteBlkFLASH(uint32_t address, const void *data, uint32_t count, bool verify);  // 0 = programmed
    int32_t kvciEraseSectorFLASH(uint32_t sectorAddress);  // 0 = erased, else low 16 bits = status
    uint16_t kvciGetPEROMID();                             // manufacturer * 256 + device
    uint16_t kvciGetFLASHID(uint32_t address);             // the same, for the flash chip at address
    uint16_t kvciReadID();                                 // code of the programmer
};

// Card programmer on USB (two cartridge slots).
class KVWIN32_API CKvcUSB {
public:
    void kvciSetCartridge(int16_t slot);
    void SelectSlot(int16_t slot);
    void kvciSetPointer(uint32_t address);
    void kvciGetBuf(void *buffer, uint32_t count);
    int32_t kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool verify);
    int32_t WriteOnFlash(uint32_t address, const void *data, uint32_t count, bool verify, bool check);
    int32_t kvciEraseSectorFLASH(uint32_t sectorAddress);
    void GetID_PEROM(uint8_t *manufacturer, uint8_t *device);
    void GetID_Flash(uint32_t address, uint8_t *manufacturer, uint8_t *device);
};

// USB media reader: cards used at flash level, or through their own file
// system with the media calls (one file open at a time).
class KVWIN32_API CKvcUSBMMR {
public:
    void SelectSlot(int16_t slot);
    void ReadMemory(uint32_t address, uint32_t count, void *buffer);
    int32_t kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool verify);
    int32_t WriteOnFlash(uint32_t address, const void *data, uint32_t count, bool verify, bool check);
    int32_t kvciEraseSectorFLASH(uint32_t sectorAddress);
    void GetID_PEROM(uint8_t *manufacturer, uint8_t *device);
    void GetID_Flash(uint32_t address, uint8_t *manufacturer, uint8_t *device);

    int32_t MediaSelect(int16_t readerSlot);  // nonzero = medium usable by the media calls
    int32_t kvciMediaFindFirstFile(const char *name, fd32_fs_lfnfind_t *found);  // nonzero = found
    void kvciMediaFindClose();
    int32_t kvciMediaDeleteFile(const char *name);  // nonzero = deleted
    // nonzero = the file exists with these attributes (created if absent)
    int32_t kvciMediaSetAttributes(const char *name, FileTime_t *time, FileDate_t *date, uint32_t size);
    int32_t kvciMediaOpenFile(const char *name, int16_t mode);  // 1 read, 2 write, 3 both; nonzero = open
    int32_t kvciMediaGetAttributes(FileTime_t *time, FileDate_t *date, uint32_t *size);  // nonzero = filled
    // Bytes read (fewer at the end of the file); 0 = refused.
    int32_t kvciMediaReadFileBlock(void *buffer, uint16_t count, uint32_t offset);
    int32_t kvciMediaWriteFileBlock(const void *buffer, uint16_t count, uint32_t offset); // nonzero = done
    void kvciMediaCloseFile();
};
