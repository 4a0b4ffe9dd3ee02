#include "camlib/transport.h"

#include <algorithm>
#include <cstring>

namespace camlib {
namespace {

void Put32(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

bool UsesKs(const ExtUnit& unit) { return unit.dt == kDtQuelmarAV || unit.dt == kDtUvc; }
bool UsesPrivate(const ExtUnit& unit) { return unit.dt == kDtQuelmar; }

int32_t KsRequest(ExtUnit& unit, uint8_t selector, uint32_t flags, void* data, uint32_t n,
                  uint32_t* returned) {
    if (!unit.control) return hr::kPointer;
    EncodeKsNode(unit.request, unit.set, selector, flags, unit.node);
    uint32_t ignored = 0;
    return unit.control->KsProperty(unit.request.data(), kKsNodeBytes, data, n,
                                    returned ? returned : &ignored);
}

// Sends one request record. The driver may read the whole request buffer whatever the record's
// length, so the record always sits in a full-size zeroed buffer.
int32_t PrivateSend(ExtUnit& unit, uint8_t code, uint8_t selector, const uint8_t* data, uint32_t n) {
    std::vector<uint8_t> record = EncodePrivateRequest(code, selector, data, n);
    std::vector<uint8_t> buffer(kPrivateRequestBytes, 0);
    std::copy(record.begin(), record.end(), buffer.begin());
    return unit.custom->SetProperty(kPrivateProperty, buffer.data());
}

// A request and its reply. A failed request is reported as such: a reply fetched after it would
// only repeat an older answer.
int32_t PrivateAsk(ExtUnit& unit, uint8_t code, uint8_t selector, uint32_t n, std::vector<uint8_t>& reply) {
    if (int32_t r = PrivateSend(unit, code, selector, nullptr, n); r < 0) return r;
    reply.assign(kPrivateReplyBytes, 0);
    return unit.custom->GetProperty(kPrivateProperty, reply.data());
}

}  // namespace

void EncodeKsNode(std::array<uint8_t, kKsNodeBytes>& out, const Guid& set, uint32_t id, uint32_t flags,
                  uint32_t node) {
    std::copy(set.begin(), set.end(), out.begin());
    Put32(&out[16], id);
    Put32(&out[20], flags);
    Put32(&out[24], node);
    Put32(&out[28], 0);
}

std::vector<uint8_t> EncodePrivateRequest(uint8_t code, uint8_t selector, const uint8_t* data, uint32_t n) {
    const uint32_t length = code == kPrivateLength ? 2 : n;
    const uint32_t body = code == kPrivateWrite ? n : 4;
    std::vector<uint8_t> record(4 + body, 0);
    record[0] = static_cast<uint8_t>(length);
    record[1] = static_cast<uint8_t>(length >> 8);
    record[2] = code;
    record[3] = selector;
    if (code == kPrivateWrite && n) std::memcpy(record.data() + 4, data, n);
    return record;
}

int32_t XuLength(ExtUnit& unit, uint8_t selector, uint32_t* length) {
    if (UsesKs(unit)) {
        if (!length) return hr::kPointer;
        uint32_t returned = 0;
        int32_t r = KsRequest(unit, selector, kKsPropertyTypeGetTopology, nullptr, 0, &returned);
        if (r != hr::kMoreData) return r;
        *length = returned;
        return hr::kOk;
    }
    if (!UsesPrivate(unit)) return hr::kFalse;
    if (!unit.custom || !length) return hr::kPointer;
    std::vector<uint8_t> reply;
    int32_t r = PrivateAsk(unit, kPrivateLength, selector, 2, reply);
    if (r >= 0) *length = static_cast<uint32_t>(reply[0] | reply[1] << 8);
    return r;
}

int32_t XuWrite(ExtUnit& unit, uint8_t selector, const uint8_t* data, uint32_t n) {
    if (UsesKs(unit))
        return KsRequest(unit, selector, kKsPropertyTypeSetTopology, const_cast<uint8_t*>(data), n, nullptr);
    if (!UsesPrivate(unit)) return hr::kFalse;
    if (!unit.custom || (n && !data)) return hr::kPointer;
    if (n > kMaxControlBytes) return hr::kInvalidArg;
    return PrivateSend(unit, kPrivateWrite, selector, data, n);
}

int32_t XuRead(ExtUnit& unit, uint8_t selector, uint8_t* data, uint32_t n) {
    if (UsesKs(unit)) return KsRequest(unit, selector, kKsPropertyTypeGetTopology, data, n, nullptr);
    if (!UsesPrivate(unit)) return hr::kFalse;
    if (!unit.custom || (n && !data)) return hr::kPointer;
    if (n > kMaxControlBytes) return hr::kInvalidArg;
    std::vector<uint8_t> reply;
    int32_t r = PrivateAsk(unit, kPrivateRead, selector, n, reply);
    if (r >= 0 && n) std::memcpy(data, reply.data(), n);
    return r;
}

int32_t WriteReg8(ExtUnit& unit, uint16_t address, uint8_t value) {
    const uint8_t a[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    if (int32_t r = XuWrite(unit, XU_REG_ADDR, a, 2); r != hr::kOk) return r;
    return XuWrite(unit, XU_REG_DATA, &value, 1);
}

int32_t ReadReg8(ExtUnit& unit, uint16_t address, uint8_t* value) {
    const uint8_t a[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    if (int32_t r = XuWrite(unit, XU_REG_ADDR, a, 2); r != hr::kOk) return r;
    return XuRead(unit, XU_REG_DATA, value, 1);
}

int32_t WriteReg16(ExtUnit& unit, uint16_t address, uint16_t value) {
    const uint8_t a[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    if (int32_t r = XuWrite(unit, XU_REG16_ADDR, a, 2); r != hr::kOk) return r;
    const uint8_t v[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return XuWrite(unit, XU_REG16_DATA, v, 2);
}

int32_t ReadReg16(ExtUnit& unit, uint16_t address, uint16_t* value) {
    const uint8_t a[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    if (int32_t r = XuWrite(unit, XU_REG16_ADDR, a, 2); r != hr::kOk) return r;
    uint8_t v[2] = {0, 0};
    int32_t r = XuRead(unit, XU_REG16_DATA, v, 2);
    if (r == hr::kOk) *value = static_cast<uint16_t>(v[1] * 256 + v[0]);
    return r;
}

int32_t SetRegBits(ExtUnit& unit, uint16_t address, uint8_t bits) {
    uint8_t v = 0;
    if (int32_t r = ReadReg8(unit, address, &v); r != hr::kOk) return r;
    return WriteReg8(unit, address, static_cast<uint8_t>(v | bits));
}

int32_t ClearRegBits(ExtUnit& unit, uint16_t address, uint8_t bits) {
    uint8_t v = 0;
    if (int32_t r = ReadReg8(unit, address, &v); r != hr::kOk) return r;
    return WriteReg8(unit, address, static_cast<uint8_t>(v & ~bits));
}

}  // namespace camlib
