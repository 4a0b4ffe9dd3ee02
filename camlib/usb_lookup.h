// Pieces of the USB descriptor lookup that work without a hub: the descriptor request record, the
// string conversion and the configuration scan. CamUsbLookup (camlib.h) runs them over the hubs.
#pragma once

#include <cstdint>

#include "camlib/ports.h"

namespace camlib {

// The hub driver's descriptor request: connection index (4 bytes), setup packet (8), then the data.
inline constexpr uint32_t kDescriptorRequestHeaderBytes = 12;
inline constexpr uint32_t kDescriptorRequestBufferBytes = 2060;
inline constexpr uint32_t kLookupStringBytes = 64;

struct LookupRecord {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint32_t rev = 0;
    char manufacturer[kLookupStringBytes] = {};
    char product[kLookupStringBytes] = {};
    char serial[kLookupStringBytes] = {};
    uint32_t port = 0;
};

// A standard GET_DESCRIPTOR for the device on `port` (wValue = type << 8 | index).
void EncodeDescriptorRequest(uint8_t* buffer, uint32_t port, uint16_t wValue, uint16_t wIndex,
                             uint16_t wLength);
// Windows-1252 without the system: what a Western Windows converts to, '?' for the rest.
CodePagePort& PortableAnsiCodePage();
// A string descriptor's UTF-16 text through the ANSI code page into a 64-byte slot (always
// terminated; a text too long is cut before the character that does not fit). Null `ansi`:
// PortableAnsiCodePage().
void StringToAnsi(const uint8_t* descriptor, uint32_t size, char* slot, CodePagePort* ansi = nullptr);
// Whether a configuration descriptor set holds an extension unit whose GUID is `set`. Walks the
// descriptors by their length bytes and never past `size` or the configuration's total length.
bool HasExtensionUnit(const uint8_t* config, uint32_t size, const Guid& set);
// The walk itself: 0 when every controller was walked, else the error of the first that failed.
int FindOnPort(UsbHubPort& hubs, const Guid& set, uint32_t port, LookupRecord& out, CodePagePort* ansi = nullptr);

}  // namespace camlib
