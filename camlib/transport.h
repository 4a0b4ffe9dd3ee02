// Extension-unit transport: length, write and read of a control selected by one byte, over either
// carrier, and 8- and 16-bit register access on top.
//
// The kernel-streaming carrier sends a 32-byte KSP_NODE through IKsControl; the private carrier
// sends records through property 35 of the chip maker's interface. Which one a unit uses follows
// from its device type `dt` alone. The transport never retries and never sleeps: callers own their
// retry policies. A unit is used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "camlib/ports.h"

namespace camlib {

// Results the library produces or recognises.
namespace hr {
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFalse = 1;
inline constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002);
inline constexpr int32_t kPointer = static_cast<int32_t>(0x80004003);
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
inline constexpr int32_t kUnexpected = static_cast<int32_t>(0x8000FFFF);
inline constexpr int32_t kNotReady = static_cast<int32_t>(0x80070015);
inline constexpr int32_t kGenFailure = static_cast<int32_t>(0x8007001F);
inline constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
inline constexpr int32_t kMoreData = static_cast<int32_t>(0x800700EA);
inline constexpr int32_t kDeviceNotConnected = static_cast<int32_t>(0x8007048F);
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x80070490);
inline constexpr int32_t kSetNotFound = static_cast<int32_t>(0x80070492);
inline constexpr int32_t kTimeout = static_cast<int32_t>(0x800705B4);
}  // namespace hr

// Control selectors of the chip's extension unit.
enum : uint8_t {
    XU_REG_ADDR = 2,
    XU_REG_DATA = 3,
    XU_REG16_ADDR = 4,
    XU_REG16_DATA = 5,
    XU_SF_CMD_INDEX = 7,
    XU_SF_CMD_VALUE = 8,
    XU_DFU_ENABLE_CONTROL = 9,
    XU_ISP_ENABLE = XU_DFU_ENABLE_CONTROL,
    XU_DFU_ACCESS_CONTROL = 10,
    XU_DFU_CHECKSUM = 11,
    XU_ISP_FW_DOWNLOAD_OK = 12,
    XU_SF_SECTOR_ERASE = 13,
    XU_SF_ADDRESS = 14,
    XU_SF_DATA = 15,
    XU_SF_PROGRAM_MODE = 16,
    XU_ISP_SERIAL_FLASH = 20,
    XU_SF_WINDOW = 22,
    XU_SF_ID = 23,
    XU_MCM_FLASH_CMDS = 24,
    XU_DFU_CHECKSUM_TRIGGER = 26,
};

// Device types: which carrier a unit uses.
enum : int32_t {
    kDtQuelmar = 0,       // private interface only
    kDtQuelmarAV = 1,     // private interface and kernel-streaming topology: kernel streaming
    kDtUvc = 2,           // kernel-streaming topology only
    kDtUndetermined = 3,  // every request refused with 1
};

inline constexpr uint32_t kKsPropertyTypeGetTopology = 0x10000001;
inline constexpr uint32_t kKsPropertyTypeSetTopology = 0x10000002;
inline constexpr uint32_t kKsNodeBytes = 32;

inline constexpr uint32_t kPrivateProperty = 35;
inline constexpr uint8_t kPrivateWrite = 0x01;   // SET_CUR
inline constexpr uint8_t kPrivateRead = 0x81;    // GET_CUR
inline constexpr uint8_t kPrivateLength = 0x85;  // GET_LEN
inline constexpr uint32_t kMaxControlBytes = 4096;
// A request record is a 4-byte head and up to 4096 data bytes; a reply holds up to 4096 bytes.
inline constexpr uint32_t kPrivateRequestBytes = 4 + kMaxControlBytes;
inline constexpr uint32_t kPrivateReplyBytes = kMaxControlBytes;

// Chip registers the library names.
namespace reg {
inline constexpr uint16_t kPortMode = 0x2020;
inline constexpr uint16_t kPortBusy = 0x2021;
inline constexpr uint16_t kPortSend = 0x2022;
inline constexpr uint16_t kPortReceive = 0x2023;
inline constexpr uint16_t kPortReceived = 0x2024;
inline constexpr uint16_t kPortChipSelect = 0x2025;
inline constexpr uint16_t kReset0 = 0x2030;
inline constexpr uint16_t kReset1 = 0x2031;
inline constexpr uint16_t kReset2 = 0x2032;
inline constexpr uint16_t kReset3 = 0x2033;
inline constexpr uint16_t kReset4 = 0x2034;
inline constexpr uint16_t kGpioEnable0 = 0x2041;
inline constexpr uint16_t kGpioEnable1 = 0x2043;
inline constexpr uint16_t kSubVariant = 0x20D0;
inline constexpr uint16_t kMode20E9 = 0x20E9;
inline constexpr uint16_t kMode20EB = 0x20EB;
inline constexpr uint16_t kBoot0 = 0x20F5;
inline constexpr uint16_t kBoot1 = 0x20F6;
inline constexpr uint16_t kBoot2 = 0x20F7;
inline constexpr uint16_t kBoot3 = 0x20F8;
inline constexpr uint16_t kChipId = 0x20FF;
inline constexpr uint16_t kMode2501 = 0x2501;
inline constexpr uint16_t kModeRegister = 0x2C00;
}  // namespace reg

// The extension-unit record.
struct ExtUnit {
    uint32_t node = 0;                   // extension-unit node in the filter's topology
    std::unique_ptr<KsControl> control;  // kernel-streaming carrier, owned
    CustomProp* custom = nullptr;        // private carrier, borrowed from the handle's pAmp
    alignas(8) std::array<uint8_t, kKsNodeBytes> request{};  // KSP_NODE template
    int32_t dt = kDtUndetermined;
    char family = 'd';
    // Kept per unit, not per process, so that two cameras of different families can be open at once.
    Guid set = kFirstPropertySet;  // property set the unit answers on
    uint8_t selectLevel = 0;       // bypass-port chip-select level
    bool inPackageMode = false;    // last flash-type probe found the in-package flash in use
    bool switchedToInPackage = false;  // opened again after a mode switch that set the boot registers
};

// Writes a KSP_NODE: Property.Set, Property.Id, Property.Flags, NodeId, Reserved (little-endian).
void EncodeKsNode(std::array<uint8_t, kKsNodeBytes>& out, const Guid& set, uint32_t id, uint32_t flags,
                  uint32_t node);
// The private request record exactly as sent: {length, code, selector, data} for a write of n
// bytes; {length, code, selector, 0 0 0 0} for a read or length request.
std::vector<uint8_t> EncodePrivateRequest(uint8_t code, uint8_t selector, const uint8_t* data, uint32_t n);

// Primitives. Results: 0 success; 1 when dt selects no carrier; E_POINTER for a missing carrier
// interface or a null length pointer; E_INVALIDARG for more than 4096 bytes on the private carrier;
// otherwise the carrier's answer unchanged.
//
// Length: on kernel streaming only an ERROR_MORE_DATA answer carries a length (result 0); any
// other answer is returned and leaves *length untouched.
int32_t XuLength(ExtUnit& unit, uint8_t selector, uint32_t* length);
int32_t XuWrite(ExtUnit& unit, uint8_t selector, const uint8_t* data, uint32_t n);
int32_t XuRead(ExtUnit& unit, uint8_t selector, uint8_t* data, uint32_t n);

// Register access; the result is that of the last primitive.
int32_t WriteReg8(ExtUnit& unit, uint16_t address, uint8_t value);
int32_t ReadReg8(ExtUnit& unit, uint16_t address, uint8_t* value);
int32_t WriteReg16(ExtUnit& unit, uint16_t address, uint16_t value);
int32_t ReadReg16(ExtUnit& unit, uint16_t address, uint16_t* value);
// Read-modify-write of one register's bits.
int32_t SetRegBits(ExtUnit& unit, uint16_t address, uint8_t bits);
int32_t ClearRegBits(ExtUnit& unit, uint16_t address, uint8_t bits);

}  // namespace camlib
