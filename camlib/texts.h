// Every debug trace line of the camera-access library, byte for byte: plain lines as they are
// written, formatted ones as printf formats. The library and its tests share them from here.
#pragma once

namespace camlib::text {

// Opening a camera and finding its extension unit.
inline constexpr const char* kInit = "in core QuelmarCam_Init";
inline constexpr const char* kInWhile = "in while";
inline constexpr const char* kVirtualCamera = "it might be virtual camera, find the next one";
inline constexpr const char* kUsbCamera = "it is usb camera, do nothing";
inline constexpr const char* kBindFilterFail = "BindToObject IID_IBaseFilter fail.";
inline constexpr const char* kQueryCustomProp = "QueryInterface for Quelmar IID_ICustomCameraProp";
inline constexpr const char* kAmpNull = "hand->pAmp is null";
inline constexpr const char* kCustomPropFail = "QueryInterface sp IID_ICustomCameraProp fail ";
inline constexpr const char* kDtQuelmar = "hand->pExt->dt = Quelmar";
inline constexpr const char* kCheckUvc = "Check for UVC driver";
inline constexpr const char* kKsControlFail = "QueryInterface IID_IKsControl fail";
inline constexpr const char* kKsControlOk = "QueryInterface IID_IKsControl ok";
inline constexpr const char* kTopologyOk = "QueryInterface m_pKsTopologyInfo ok";
inline constexpr const char* kTopologyFail = "QueryInterface m_pKsTopologyInfo fail";
inline constexpr const char* kDtUvc = "hand->pExt->dt = UVC";
inline constexpr const char* kDtQuelmarAV = "hand->pExt->dt = QuelmarAV";
inline constexpr const char* kFindNodeFail = "FindExtensionNode fail";
inline constexpr const char* kFindNodeOk = "FindExtensionNode ok";
inline constexpr const char* kSubVariantFail = "read 0x20D0 fail, device skipped";
inline constexpr const char* kNumNodesFail = "pIksTopologyInfo->get_NumNodes fail";
inline constexpr const char* kNumNodesOk = "pIksTopologyInfo->get_NumNodes ok";
inline constexpr const char* kWrongGuid = "wrong Guid, try the 7316";
inline constexpr const char* kGo = "go";
inline constexpr const char* kNotReadyGaveUp = "XU_DFU_CHECKSUM still not ready after %u ms, node %u skipped";

// The serial flash.
inline constexpr const char* kPortBusy = "serial-flash port still busy after %u polls of 0x2021";
inline constexpr const char* kStatusBusy = "serial-flash status still write-in-progress after %u reads";
inline constexpr const char* kNotBack = "camera not back %u ms after the mode switch";

// Download, generic variant (and its quiet form, which writes none of them).
inline constexpr const char* kFlashTypeError = "Flash type error";
inline constexpr const char* kDataNull = "Download Data is NULL!";
inline constexpr const char* kNullExt = "NULL pExt Pointer fail!";
inline constexpr const char* kTooShortForPatch = "image of %u bytes too short for the flash-type byte";
inline constexpr const char* kInitial = "DL_INITIAL...5%";
inline constexpr const char* kDirectDownload = "MX32 download...";
inline constexpr const char* kDirectTooLong = "image of %u bytes is too long for the direct path";
inline constexpr const char* kValidMarkFail = "valid mark at flash address 0 fail.";
inline constexpr const char* kChecksumDone = "CheckSum calculate ok";
inline constexpr const char* kSetFlashTypeFail = "SetFlashType fail";
inline constexpr const char* kSetFlashTypeOk = "SetFlashType ok";
inline constexpr const char* kSerialFlashOk = "for 7316 XU_ISP_SERIAL_FLASH ok!";
inline constexpr const char* kSerialFlashFail = "for 7316 XU_ISP_SERIAL_FLASH fail!";
inline constexpr const char* kProtectOff = "software protect off...";
inline constexpr const char* kStartFail = "start burning fail...";
inline constexpr const char* kStartRecovered = "start burning recover...";
inline constexpr const char* kStartOk = "start burning...ok!";
inline constexpr const char* kGetSize = "get size ...";
inline constexpr const char* kGetSizeFail = "get size ...fail";
inline constexpr const char* kGetSizeOk = "get size ok";
inline constexpr const char* kBurning = "buring data...";
inline constexpr const char* kChunkFail = "put_Property XU_DFU_ACCESS_CONTROL fail.";
inline constexpr const char* kChunkRecovered = "put_Property XU_DFU_ACCESS_CONTROL has been recovered.";
inline constexpr const char* kChecksumReadFail = "get_Property XU_DFU_CHECKSUM fail.";
inline constexpr const char* kChecksumIncorrect = "XU_DFU_CHECKSUM incorrect.";
inline constexpr const char* kChecksumMismatch = "FW get checksum (%x) != Code checksum(%x) \r\n";
inline constexpr const char* kChecksumCorrect = "checksum correct = %02X \r\n";
inline constexpr const char* kDownloadOkFail = "XU_ISP_FW_DOWNLOAD_OK fail.";

// Download, paced variant.
inline constexpr const char* kDownloading = "downloading...";
inline constexpr const char* kDataNullLine = "Download Data is NULL!\r\n";
inline constexpr const char* kNullExtLine = "NULL pExt Pointer fail.\r\n";
inline constexpr const char* kImageByte2 = "bin[2] = %x";
inline constexpr const char* kChecksumIs = "checksum is %x";
inline constexpr const char* kFlashTypeIs = "flash type is %x";
inline constexpr const char* kEnableFail = "put_Property XU_DFU_ENABLE_CONTROL = 1 fail.";
inline constexpr const char* kResendEnable = "Resend Command XU_DFU_ENABLE_CONTROL.";
inline constexpr const char* kEnableFailAgain = "put_Property XU_ISP_ENABLE = 1 fail again, goto reset chip";
inline constexpr const char* kEnableRecovered = "put_Property XU_ISP_ENABLE = 1 has been recovered.";
inline constexpr const char* kGetPropertySize = "get property size";
inline constexpr const char* kSizeFail = "get_PropertySize XU_DFU_ACCESS_CONTROL fail.";
inline constexpr const char* kResendSize = "Resend Command XU_DFU_ACCESS_CONTROL.";
inline constexpr const char* kSizeRecovered = "get_PropertySize XU_DFU_ACCESS_CONTROL has been recovered.";
inline constexpr const char* kInTransfer = "in transfer data.";
inline constexpr const char* kResend = "Resend Command.\r\n";
inline constexpr const char* kGetFwChecksum = "Get FW checksum";
inline constexpr const char* kChecksumReadFailLine = "get_Property XU_DFU_CHECKSUM fail.\r\n";
inline constexpr const char* kResendFail = "Resend Command fail.\r\n";
inline constexpr const char* kChecksumRecoveredLine = "get_Property XU_DFU_CHECKSUM has been recovered.\r\n";
inline constexpr const char* kRetryCounter = "retry counter %d";
inline constexpr const char* kChecksumMatch =
    "FW checksum = 0x%02X \r\nAP checksum = 0x%02X \r\n**Checksum Match!**\r\n";
inline constexpr const char* kFinishProcessFail = "DL_FINISH_PROCESS fail.";
inline constexpr const char* kIspEnableFail = "XU_ISP_ENABLE fail.";
inline constexpr const char* kEnd = "end";

// Download, in-package variant.
inline constexpr const char* kStartMcm = "--in Download_Fw, sftype=%d (MCM)";
inline constexpr const char* kStartSf = "--in Download_Fw, sftype=%d (SF)";
inline constexpr const char* kIspEnableFailLine = "put_Property XU_ISP_ENABLE = 1 fail.\r\n";
inline constexpr const char* kIspEnableRecoveredLine =
    "put_Property XU_ISP_ENABLE = 1 has been recovered.\r\n";
inline constexpr const char* kSizeFailLine = "get_PropertySize XU_DFU_ACCESS_CONTROL fail.\r\n";
inline constexpr const char* kSizeRecoveredLine =
    "get_PropertySize XU_DFU_ACCESS_CONTROL has been recovered.\r\n";
inline constexpr const char* kWhileStart = "--while start";
inline constexpr const char* kWhileEnd = "--while end";
inline constexpr const char* kChunkFailLine = "put_Property XU_DFU_ACCESS_CONTROL fail.\r\n";
inline constexpr const char* kChunkRecoveredLine =
    "put_Property XU_DFU_ACCESS_CONTROL has been recovered.\r\n";
inline constexpr const char* kTriggerResult = "trigger check sum calculate, the result = 0x%x";
inline constexpr const char* kWaitSecond = "wait 1 second";
inline constexpr const char* kBusyFlag = "get the FW busy flag = 0x%x";
inline constexpr const char* kBusyGaveUp = "FW busy flag still set after %u s, giving up";
inline constexpr const char* kChecksumIncorrectLine = "XU_DFU_CHECKSUM incorrect\r\n";
inline constexpr const char* kGenFailure = "0x800";
inline constexpr const char* kLeaveFailLine = "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n";
inline constexpr const char* kApSoftReset = "AP do soft reset";
inline constexpr const char* kCounts = "F=%d,R=%d";

// QuelmarCamera.dll's exports.
inline constexpr const char* kTableNotLoaded = "command table %u did not load";
inline constexpr const char* kHeaderNotProgrammed = "the header bytes were not programmed";
inline constexpr const char* kDownloadOkNotSet = "download-OK flag not set";
inline constexpr const char* kDownloadOkNotCleared = "download-OK flag not cleared";
inline constexpr const char* kProtectOnFailed = "write protection on failed (%d)";
inline constexpr const char* kProtectOffFailed = "write protection off failed (%d)";
inline constexpr const char* kSectorEraseFailed = "sector %u erase failed";
inline constexpr const char* kSectorReadAfterEraseFailed = "sector %u read after erase failed";
inline constexpr const char* kSectorNotBlank = "sector %u not blank after erase (write-protected part?)";

// The recorder of extension-unit traffic.
inline constexpr const char* kRecordingCannotCreate =
    "recording: cannot create %s (%s); check the folder and its rights. The run goes on unrecorded\n";
inline constexpr const char* kRecordingTo = "recording: extension-unit traffic to %s\n";

}  // namespace camlib::text
