// The nine functions QuelmarCamera.dll exports, by these names (QuelmarCamera.def), with the C
// calling convention (__cdecl on 32-bit Windows). Every one returns 0 on success and non-zero on
// failure, and works on the one camera the library keeps open inside after QuelmarCam_Init. They
// are called from one thread at a time.
//
// What each does:
//   QuelmarCam_Init(device)       opens the camera at or after video-input position `device` (as
//                                 the linked Init with family 'e' does); negative: 1
//   QuelmarCam_UnInit()           closes it
//   Get_FlashType(&code)          the serial-flash part's code (120: a part the kit does not know,
//                                 255: in-package flash); 1 when the camera cannot be asked
//   SetSF_WProtect_OFF/ON(table)  status-register protection off / on for command-table index
//                                 0..6. Families 'j', 'k' and 'l' have no register-level port:
//                                 there these succeed without touching the part, and EraseSF's
//                                 blank check then tells whether the part could be erased.
//   EraseSF(table)                loads the command table and erases the sixteen 4 KiB sectors of
//                                 the addressable 64 KiB, then reads them back: a sector that is
//                                 not blank (a protected part) fails the erase before anything is
//                                 written
//   Download_Sector(image, table, sector, option)
//                                 writes image[sector * 4096, +4096) at that flash address, sector
//                                 0..15. option 0: the sector was erased by EraseSF; option 1:
//                                 erase it first; anything else is refused
//   Upload_Sector(buffer, sector, table)
//                                 reads the sector into buffer[sector * 4096, +4096)
//   ResetCamera()                 soft-resets the chip; the camera then re-enumerates
//   Get_ChipFamily(&family)       the opened camera's chip family letter ('d', 'f' to 'l'), which
//                                 says where its images carry their identity block; 1 when no
//                                 camera is open. Tessaw asks for it only for its opt-in checks,
//                                 so a library without it still updates cameras.
#pragma once

#if defined(_WIN32)
#define QUELMAR_CALL __cdecl
#else
#define QUELMAR_CALL
#endif

extern "C" {
int QUELMAR_CALL QuelmarCam_Init(int device);
int QUELMAR_CALL QuelmarCam_UnInit(void);
int QUELMAR_CALL Get_FlashType(unsigned char* code);
int QUELMAR_CALL SetSF_WProtect_OFF(unsigned char table);
int QUELMAR_CALL SetSF_WProtect_ON(unsigned char table);
int QUELMAR_CALL EraseSF(unsigned char table);
int QUELMAR_CALL Download_Sector(unsigned char* image, unsigned char table, unsigned int sector, int option);
int QUELMAR_CALL Upload_Sector(unsigned char* buffer, unsigned int sector, unsigned char table);
int QUELMAR_CALL ResetCamera(void);
int QUELMAR_CALL Get_ChipFamily(unsigned char* family);
}

// Tessaw looks these up and calls them as declared here, whoever built the DLL.
#include "vendor/call_abi.h"
KIT_ABI_SLOTS(QuelmarCam_Init);
KIT_ABI_SLOTS(QuelmarCam_UnInit);
KIT_ABI_SLOTS(Get_FlashType);
KIT_ABI_SLOTS(SetSF_WProtect_OFF);
KIT_ABI_SLOTS(SetSF_WProtect_ON);
KIT_ABI_SLOTS(EraseSF);
KIT_ABI_SLOTS(Download_Sector);
KIT_ABI_SLOTS(Upload_Sector);
KIT_ABI_SLOTS(ResetCamera);
KIT_ABI_SLOTS(Get_ChipFamily);
