/* BurnerApLib.dll: the Sonix serial-flash burner library, as the kit calls it.
 *
 * The kit imports the library by export name through its import library (libBurnerApLib.a, made
 * from BurnerApLib.def). The library finds the camera itself when Initialize_DriverInterface is
 * called; no handle crosses the boundary.
 *
 * Calling convention: __cdecl for every entry point, so that the 32-bit import library and the
 * export names agree without @n decoration. bool is the one-byte C/C++ bool.
 *
 * SetWriteProtect takes its word and byte by reference in C++; C sees the same pointers.
 */
#ifndef KIT_VENDOR_BURNERAPLIB_H
#define KIT_VENDOR_BURNERAPLIB_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#define BURNERAP_CALL __cdecl
#else
#define BURNERAP_CALL
#endif

#ifdef __cplusplus
#define BURNERAP_REF(type) type&
extern "C" {
#else
#define BURNERAP_REF(type) type*
#endif

/* The list block the kit hands to GetDeviceList: 24 paths of 260 wide characters. */
#define BURNERAP_MAX_DEVICES 24
#define BURNERAP_PATH_CHARS 260

/* Flash requests of ReqToDriver. */
#define BURNERAP_REQ_WRITE 6
#define BURNERAP_REQ_READ 7

/* Results of Initialize_DriverInterface other than a device count. */
#define BURNERAP_NO_DEVICE (-1)
#define BURNERAP_UNKNOWN_BACKEND (-2)
#define BURNERAP_NO_CONTROL_INTERFACE (-3)

/* Greater than 0: the number of Sonix devices, and the interface is ready. */
int32_t BURNERAP_CALL Initialize_DriverInterface(void);

/* Writes up to maxPaths zero-terminated device paths of at most pathChars characters (terminator
 * included) into the caller's zero-filled block and their number into *count. */
bool BURNERAP_CALL GetDeviceList(wchar_t (*paths)[BURNERAP_PATH_CHARS], int32_t maxPaths, int32_t pathChars,
                                 int32_t* count);

/* Writes 8 bytes: the ROM name (5 characters, zero-padded) at 0..4, a small number at 5, zeros. */
bool BURNERAP_CALL GetRomVersion(char* version);

bool BURNERAP_CALL GetSectorTableAddr(uint16_t* address);

/* Fills 8 bytes of the buffer with the chip's bytes at address, address + 1, ... */
bool BURNERAP_CALL ProcReadFromASIC(uint16_t address, uint8_t* buffer);

/* BURNERAP_REQ_READ: length bytes of the flash at address into the buffer;
 * BURNERAP_REQ_WRITE: length bytes of the buffer into the flash at address. */
bool BURNERAP_CALL ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length);

/* false lifts the flash's write protection, true restores it. */
bool BURNERAP_CALL SetWriteProtect(bool enable, BURNERAP_REF(uint16_t) word, BURNERAP_REF(uint8_t) byte);

/* Erases the whole serial flash. */
bool BURNERAP_CALL EraseSF(void);

/* 0..100: how far the running (or last) flash write has come; any thread may ask. */
uint32_t BURNERAP_CALL GetProgress(void);

/* Non-zero: the camera was reset. */
int32_t BURNERAP_CALL ResetDevice(void);

#ifdef __cplusplus
}

#include "call_abi.h"

/* Imported by name from a 32-bit library: __cdecl, one stack slot per argument. */
KIT_ABI_SLOTS(Initialize_DriverInterface);
KIT_ABI_SLOTS(GetDeviceList);
KIT_ABI_SLOTS(GetRomVersion);
KIT_ABI_SLOTS(GetSectorTableAddr);
KIT_ABI_SLOTS(ProcReadFromASIC);
KIT_ABI_SLOTS(ReqToDriver);
KIT_ABI_SLOTS(SetWriteProtect);
KIT_ABI_SLOTS(EraseSF);
KIT_ABI_SLOTS(GetProgress);
KIT_ABI_SLOTS(ResetDevice);
/* The library's bool results and argument are one byte, and its device paths UTF-16. */
static_assert(sizeof(bool) == 1, "bool must be one byte");
#if defined(_WIN32)
static_assert(sizeof(wchar_t) == 2 && sizeof(wchar_t[BURNERAP_MAX_DEVICES][BURNERAP_PATH_CHARS]) == 12480,
              "GetDeviceList's block is 24 paths of 260 UTF-16 units");
#endif
#endif

#endif /* KIT_VENDOR_BURNERAPLIB_H */
