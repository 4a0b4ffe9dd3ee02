/* RvcLib.dll: the Realtek camera library, as the kit calls it.
 *
 * The kit loads the library at run time and looks every entry point up by its exported name
 * (the names below, undecorated); a caller that finds a name missing does not call it and takes
 * the default its own flow gives. The PFN_ types are what the looked-up addresses are cast to.
 *
 * Calling convention: __cdecl for every entry point and for the progress callback. The caller
 * removes the arguments, so a call through a pointer whose argument list is off by one cannot
 * unbalance the stack, and the 32-bit export names carry no @n decoration.
 *
 * Every argument and result is a 32-bit value (pointers aside). 0 is success wherever a result
 * reports one; any other value is the library's error code.
 */
#ifndef KIT_VENDOR_RVCLIB_H
#define KIT_VENDOR_RVCLIB_H

#include <stdint.h>

#if defined(_WIN32)
#define RVCLIB_CALL __cdecl
#else
#define RVCLIB_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of an opened camera; 0 is "no camera". */
typedef int32_t RvcHandle;

/* Called while EEPROMWrite3 runs: bytes done and the total, where the total is two stages of
 * equal length (writing, then verifying) and done counts through both. No context argument. */
typedef void(RVCLIB_CALL* RvcProgressCallback)(uint32_t done, uint32_t total);

/* Brackets one use of the library; callers pass 0, 1 and ignore the result. */
int32_t RVCLIB_CALL RvcLib_Initialize(int32_t reserved, int32_t mode);
int32_t RVCLIB_CALL RvcLib_UnInitialize(int32_t mode);

/* The camera with that index (0, 1, ...), or 0 when there is none: the end of an enumeration. */
RvcHandle RVCLIB_CALL UVC_Open(int32_t index);
int32_t RVCLIB_CALL UVC_Close(RvcHandle handle);
int32_t RVCLIB_CALL UVC_GetDevVIDPID(RvcHandle handle, uint16_t* vid, uint16_t* pid);
int32_t RVCLIB_CALL UVC_GetDevVIDPIDRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev);

/* The firmware memory of the camera with that index. Callers preset the type to 3 and the size to
 * 65536; on success the library may change either. */
int32_t RVCLIB_CALL EEPROMInfo(int32_t index, int32_t* memoryType, int32_t* size);
int32_t RVCLIB_CALL EEPROMInfo2(int32_t index, int32_t* memoryType, int32_t* size);

/* Writes size bytes of the image into the firmware memory, then verifies them, calling the
 * progress callback (which may be null) through both stages. */
int32_t RVCLIB_CALL EEPROMWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                 RvcProgressCallback progress);

/* Looked up by the kit's programs but never called. */
int32_t RVCLIB_CALL ReadSensorRegister8(RvcHandle handle, uint32_t address, uint32_t* value);
int32_t RVCLIB_CALL WriteSensorRegister8(RvcHandle handle, uint32_t address, uint32_t value);
int32_t RVCLIB_CALL ReadSensorRegister16(RvcHandle handle, uint32_t address, uint32_t* value);
int32_t RVCLIB_CALL WriteSensorRegister16(RvcHandle handle, uint32_t address, uint32_t value);
int32_t RVCLIB_CALL EEPROMWrite(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image);
int32_t RVCLIB_CALL EEPROMRead(int32_t memoryType, int32_t index, int32_t size, uint8_t* out);
int32_t RVCLIB_CALL EEPROMErase(int32_t memoryType, int32_t index);
int32_t RVCLIB_CALL UVC_ResetToRom(RvcHandle handle);
int32_t RVCLIB_CALL UVC_ResetToDLFW(RvcHandle handle);

typedef int32_t(RVCLIB_CALL* PFN_RvcLib_Initialize)(int32_t, int32_t);
typedef int32_t(RVCLIB_CALL* PFN_RvcLib_UnInitialize)(int32_t);
typedef RvcHandle(RVCLIB_CALL* PFN_UVC_Open)(int32_t);
typedef int32_t(RVCLIB_CALL* PFN_UVC_Close)(RvcHandle);
typedef int32_t(RVCLIB_CALL* PFN_UVC_GetDevVIDPID)(RvcHandle, uint16_t*, uint16_t*);
typedef int32_t(RVCLIB_CALL* PFN_UVC_GetDevVIDPIDRev)(RvcHandle, uint16_t*, uint16_t*, uint16_t*);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMInfo)(int32_t, int32_t*, int32_t*);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMInfo2)(int32_t, int32_t*, int32_t*);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMWrite3)(int32_t, int32_t, int32_t, const uint8_t*,
                                               RvcProgressCallback);
typedef int32_t(RVCLIB_CALL* PFN_ReadSensorRegister8)(RvcHandle, uint32_t, uint32_t*);
typedef int32_t(RVCLIB_CALL* PFN_WriteSensorRegister8)(RvcHandle, uint32_t, uint32_t);
typedef int32_t(RVCLIB_CALL* PFN_ReadSensorRegister16)(RvcHandle, uint32_t, uint32_t*);
typedef int32_t(RVCLIB_CALL* PFN_WriteSensorRegister16)(RvcHandle, uint32_t, uint32_t);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMWrite)(int32_t, int32_t, int32_t, const uint8_t*);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMRead)(int32_t, int32_t, int32_t, uint8_t*);
typedef int32_t(RVCLIB_CALL* PFN_EEPROMErase)(int32_t, int32_t);
typedef int32_t(RVCLIB_CALL* PFN_UVC_ResetToRom)(RvcHandle);
typedef int32_t(RVCLIB_CALL* PFN_UVC_ResetToDLFW)(RvcHandle);

#ifdef __cplusplus
}

#include "call_abi.h"

/* The kit calls every entry point through its PFN_ type: each must be the declaration's own type,
 * and take and return 32-bit values only, with the caller cleaning the stack. */
#define RVCLIB_CHECK_ENTRY(name)                                       \
    static_assert(std::is_same_v<PFN_##name, decltype(&name)>, #name); \
    KIT_ABI_ALL_WORDS(name)
RVCLIB_CHECK_ENTRY(RvcLib_Initialize);
RVCLIB_CHECK_ENTRY(RvcLib_UnInitialize);
RVCLIB_CHECK_ENTRY(UVC_Open);
RVCLIB_CHECK_ENTRY(UVC_Close);
RVCLIB_CHECK_ENTRY(UVC_GetDevVIDPID);
RVCLIB_CHECK_ENTRY(UVC_GetDevVIDPIDRev);
RVCLIB_CHECK_ENTRY(EEPROMInfo);
RVCLIB_CHECK_ENTRY(EEPROMInfo2);
RVCLIB_CHECK_ENTRY(EEPROMWrite3);
RVCLIB_CHECK_ENTRY(ReadSensorRegister8);
RVCLIB_CHECK_ENTRY(WriteSensorRegister8);
RVCLIB_CHECK_ENTRY(ReadSensorRegister16);
RVCLIB_CHECK_ENTRY(WriteSensorRegister16);
RVCLIB_CHECK_ENTRY(EEPROMWrite);
RVCLIB_CHECK_ENTRY(EEPROMRead);
RVCLIB_CHECK_ENTRY(EEPROMErase);
RVCLIB_CHECK_ENTRY(UVC_ResetToRom);
RVCLIB_CHECK_ENTRY(UVC_ResetToDLFW);
#undef RVCLIB_CHECK_ENTRY
/* The library calls back into the kit the same way. */
static_assert(kit_abi::kWordCall<RvcProgressCallback, true>, "RvcProgressCallback");
#endif

#endif /* KIT_VENDOR_RVCLIB_H */
