// The extension-unit transport: the bytes each carrier puts on the wire, which carrier a unit uses,
// how length answers are read, and register access on top.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "camlib/transport.h"

namespace {

using namespace camlib;
using Bytes = std::vector<uint8_t>;

// Records every KsProperty call and answers as scripted.
struct FakeKs final : KsControl {
    struct Call {
        Bytes property;
        bool withData;
        uint32_t length;
        Bytes data;
    };
    std::vector<Call> calls;
    std::vector<int32_t> results;  // one per call, 0 after the list
    uint32_t returned = 0;
    Bytes answer;

    int32_t KsProperty(const uint8_t* p, uint32_t pl, void* d, uint32_t dl, uint32_t* r) override {
        const auto* bytes = static_cast<const uint8_t*>(d);
        calls.push_back({Bytes(p, p + pl), d != nullptr, dl, d ? Bytes(bytes, bytes + dl) : Bytes{}});
        if (d && !answer.empty()) std::memcpy(d, answer.data(), std::min<size_t>(dl, answer.size()));
        if (r) *r = returned;
        const size_t i = calls.size() - 1;
        return i < results.size() ? results[i] : hr::kOk;
    }
};

// Records the request records (as long as their head says) and hands out one scripted reply.
struct FakeCustom final : CustomProp {
    std::vector<Bytes> requests;
    Bytes reply;
    int32_t setResult = hr::kOk;
    int32_t getResult = hr::kOk;
    int gets = 0;
    uint32_t lastBufferZeroTail = 0;

    int32_t SetProperty(uint32_t id, uint8_t* buffer) override {
        EXPECT_EQ(id, 35u);
        const uint32_t length = buffer[0] | buffer[1] << 8;
        const uint32_t size = buffer[2] == kPrivateWrite ? 4 + length : 8;
        requests.emplace_back(buffer, buffer + size);
        // The driver may read the whole buffer: it must be there, zeroed past the record.
        uint32_t zeros = 0;
        for (uint32_t i = size; i < kPrivateRequestBytes; ++i) zeros += buffer[i] == 0;
        lastBufferZeroTail = zeros + size;
        return setResult;
    }
    int32_t GetProperty(uint32_t id, uint8_t* buffer) override {
        EXPECT_EQ(id, 35u);
        ++gets;
        std::memset(buffer, 0xEE, kPrivateReplyBytes);
        if (!reply.empty()) std::memcpy(buffer, reply.data(), reply.size());
        return getResult;
    }
};

struct KsUnit {
    ExtUnit unit;
    FakeKs* ks;
    explicit KsUnit(int32_t dt = kDtUvc, uint32_t node = 2) {
        auto fake = std::make_unique<FakeKs>();
        ks = fake.get();
        unit.control = std::move(fake);
        unit.dt = dt;
        unit.node = node;
    }
};

struct PrivateUnit {
    ExtUnit unit;
    FakeCustom custom;
    PrivateUnit() {
        unit.dt = kDtQuelmar;
        unit.custom = &custom;
    }
};

TEST(KsNodeRequest, IsThirtyTwoLittleEndianBytes) {
    std::array<uint8_t, kKsNodeBytes> out{};
    EncodeKsNode(out, kFirstPropertySet, XU_DFU_CHECKSUM, kKsPropertyTypeGetTopology, 2);
    const Bytes first = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49, 0xB8, 0xCC, 0xB3,
                         0x85, 0x5E, 0x8D, 0x22, 0x1D, 0x0B, 0x00, 0x00, 0x00, 0x01, 0x00,
                         0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(out.begin(), out.end()), first);
    EncodeKsNode(out, kSecondPropertySet, XU_REG_ADDR, kKsPropertyTypeSetTopology, 0x01020304);
    const Bytes second = {0x99, 0x1D, 0x5A, 0x7D, 0x32, 0x5B, 0x8B, 0x42, 0x8C, 0xAD, 0x67,
                          0x1B, 0x8A, 0x65, 0xF3, 0x7A, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,
                          0x00, 0x10, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(out.begin(), out.end()), second);
}

TEST(KsCarrier, EachPrimitiveSendsTheTemplateWithItsFlagsAndData) {
    KsUnit u(kDtQuelmarAV, 7);
    u.unit.set = kSecondPropertySet;
    u.ks->results = {hr::kMoreData};
    u.ks->returned = 64;
    uint32_t length = 0;
    const uint8_t data[3] = {1, 2, 3};
    uint8_t in[3] = {};
    ASSERT_EQ(XuLength(u.unit, XU_SF_WINDOW, &length), hr::kOk);
    ASSERT_EQ(XuWrite(u.unit, XU_SF_ID, data, 3), hr::kOk);
    ASSERT_EQ(XuRead(u.unit, XU_SF_ID, in, 3), hr::kOk);
    ASSERT_EQ(u.ks->calls.size(), 3u);
    struct Expect {
        uint8_t selector;
        uint32_t flags;
        bool withData;
        uint32_t length;
    } expect[] = {{XU_SF_WINDOW, kKsPropertyTypeGetTopology, false, 0},
                  {XU_SF_ID, kKsPropertyTypeSetTopology, true, 3},
                  {XU_SF_ID, kKsPropertyTypeGetTopology, true, 3}};
    for (size_t i = 0; i < 3; ++i) {
        std::array<uint8_t, kKsNodeBytes> tmpl{};
        EncodeKsNode(tmpl, kSecondPropertySet, expect[i].selector, expect[i].flags, 7);
        EXPECT_EQ(u.ks->calls[i].property, Bytes(tmpl.begin(), tmpl.end())) << "call " << i;
        EXPECT_EQ(u.ks->calls[i].withData, expect[i].withData) << "call " << i;
        EXPECT_EQ(u.ks->calls[i].length, expect[i].length) << "call " << i;
    }
    EXPECT_EQ(u.ks->calls[1].data, Bytes(data, data + 3));
}

TEST(KsCarrier, LengthComesOnlyWithMoreData) {
    struct Case {
        int32_t answer;
        uint32_t returned;
        int32_t result;
        uint32_t length;  // 77: untouched
    } cases[] = {
        {hr::kMoreData, 4096, hr::kOk, 4096},
        {hr::kMoreData, 64, hr::kOk, 64},
        {hr::kOk, 4096, hr::kOk, 77},
        {hr::kGenFailure, 4096, hr::kGenFailure, 77},
        {hr::kSetNotFound, 0, hr::kSetNotFound, 77},
    };
    for (const Case& c : cases) {
        KsUnit u;
        u.ks->results = {c.answer};
        u.ks->returned = c.returned;
        uint32_t length = 77;
        EXPECT_EQ(XuLength(u.unit, XU_DFU_ACCESS_CONTROL, &length), c.result) << std::hex << c.answer;
        EXPECT_EQ(length, c.length) << std::hex << c.answer;
    }
}

TEST(PrivateCarrier, RecordsAreByteExact) {
    const uint8_t address[2] = {0xFF, 0x20};
    EXPECT_EQ(EncodePrivateRequest(kPrivateRead, XU_DFU_CHECKSUM, nullptr, 1),
              (Bytes{0x01, 0x00, 0x81, 0x0B, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(EncodePrivateRequest(kPrivateWrite, XU_REG_ADDR, address, 2),
              (Bytes{0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}));
    EXPECT_EQ(EncodePrivateRequest(kPrivateLength, XU_DFU_ACCESS_CONTROL, nullptr, 0),
              (Bytes{0x02, 0x00, 0x85, 0x0A, 0x00, 0x00, 0x00, 0x00}));
    Bytes big(4096, 0x5A);
    Bytes record = EncodePrivateRequest(kPrivateWrite, XU_DFU_ACCESS_CONTROL, big.data(), 4096);
    EXPECT_EQ(record.size(), 4100u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0x00, 0x10, 0x01, 0x0A}));
}

TEST(PrivateCarrier, PrimitivesSendTheRecordsAndReadTheReply) {
    PrivateUnit u;
    u.custom.reply = {0x37, 0x10, 0x99};
    uint8_t byte = 0;
    ASSERT_EQ(XuRead(u.unit, XU_DFU_CHECKSUM, &byte, 1), hr::kOk);
    EXPECT_EQ(byte, 0x37);
    const uint8_t address[2] = {0xFF, 0x20};
    ASSERT_EQ(XuWrite(u.unit, XU_REG_ADDR, address, 2), hr::kOk);
    uint32_t length = 0;
    ASSERT_EQ(XuLength(u.unit, XU_SF_DATA, &length), hr::kOk);
    EXPECT_EQ(length, 0x1037u);
    ASSERT_EQ(u.custom.requests.size(), 3u);
    EXPECT_EQ(u.custom.requests[0], (Bytes{0x01, 0x00, 0x81, 0x0B, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(u.custom.requests[1], (Bytes{0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}));
    EXPECT_EQ(u.custom.requests[2], (Bytes{0x02, 0x00, 0x85, 0x0F, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(u.custom.lastBufferZeroTail, kPrivateRequestBytes);
    EXPECT_EQ(u.custom.gets, 2) << "a write fetches no reply";
}

TEST(PrivateCarrier, AFailedRequestIsNotHiddenByTheReply) {
    PrivateUnit u;
    u.custom.setResult = hr::kGenFailure;
    u.custom.reply = {0x42};
    uint8_t byte = 0x11;
    EXPECT_EQ(XuRead(u.unit, XU_REG_DATA, &byte, 1), hr::kGenFailure);
    EXPECT_EQ(byte, 0x11) << "no stale reply is copied out";
    EXPECT_EQ(u.custom.gets, 0);
    u.custom.setResult = hr::kOk;
    u.custom.getResult = hr::kNotReady;
    EXPECT_EQ(XuRead(u.unit, XU_REG_DATA, &byte, 1), hr::kNotReady) << "the reply call's result counts";
}

TEST(PrivateCarrier, RefusesMoreThanItsBufferHolds) {
    PrivateUnit u;
    Bytes big(4097, 1);
    EXPECT_EQ(XuWrite(u.unit, XU_DFU_ACCESS_CONTROL, big.data(), 4097), hr::kInvalidArg);
    EXPECT_EQ(XuRead(u.unit, XU_DFU_ACCESS_CONTROL, big.data(), 4097), hr::kInvalidArg);
    EXPECT_TRUE(u.custom.requests.empty());
    EXPECT_EQ(XuWrite(u.unit, XU_DFU_ACCESS_CONTROL, big.data(), 4096), hr::kOk);
}

TEST(Carrier, FollowsTheDeviceTypeAlone) {
    // dt 0 uses the private interface even when a control is present; 1 and 2 use kernel streaming
    // even when the private interface is there; anything else refuses with 1 and reaches nothing.
    struct Case {
        int32_t dt;
        size_t ksCalls;
        size_t privateCalls;
        int32_t result;
    } cases[] = {{kDtQuelmar, 0, 3, hr::kOk},         {kDtQuelmarAV, 3, 0, hr::kOk}, {kDtUvc, 3, 0, hr::kOk},
                 {kDtUndetermined, 0, 0, hr::kFalse}, {-1, 0, 0, hr::kFalse},        {4, 0, 0, hr::kFalse}};
    for (const Case& c : cases) {
        KsUnit u(c.dt);
        FakeCustom custom;
        u.unit.custom = &custom;
        u.ks->results = {hr::kMoreData};
        uint8_t b = 0;
        uint32_t length = 0;
        EXPECT_EQ(XuLength(u.unit, XU_SF_DATA, &length), c.result) << "dt " << c.dt;
        EXPECT_EQ(XuWrite(u.unit, XU_REG_DATA, &b, 1), c.result) << "dt " << c.dt;
        EXPECT_EQ(XuRead(u.unit, XU_REG_DATA, &b, 1), c.result) << "dt " << c.dt;
        EXPECT_EQ(u.ks->calls.size(), c.ksCalls) << "dt " << c.dt;
        EXPECT_EQ(custom.requests.size(), c.privateCalls) << "dt " << c.dt;
    }
}

TEST(Carrier, MissingInterfacesAndPointersAreEPointer) {
    ExtUnit ks;
    ks.dt = kDtUvc;
    ExtUnit priv;
    priv.dt = kDtQuelmar;
    uint8_t b = 0;
    uint32_t length = 0;
    for (ExtUnit* u : {&ks, &priv}) {
        EXPECT_EQ(XuLength(*u, XU_SF_DATA, &length), hr::kPointer);
        EXPECT_EQ(XuWrite(*u, XU_REG_DATA, &b, 1), hr::kPointer);
        EXPECT_EQ(XuRead(*u, XU_REG_DATA, &b, 1), hr::kPointer);
    }
    KsUnit u;
    EXPECT_EQ(XuLength(u.unit, XU_SF_DATA, nullptr), hr::kPointer);
    EXPECT_TRUE(u.ks->calls.empty());
}

TEST(Registers, AddressThenDataLittleEndian) {
    KsUnit u;
    u.ks->answer = {0x34, 0x12};
    ASSERT_EQ(WriteReg8(u.unit, 0x20FF, 0xA5), hr::kOk);
    ASSERT_EQ(WriteReg16(u.unit, 0x2501, 0xBEEF), hr::kOk);
    uint16_t v16 = 0;
    ASSERT_EQ(ReadReg16(u.unit, 0x2C00, &v16), hr::kOk);
    EXPECT_EQ(v16, 0x1234);
    uint8_t v8 = 0;
    ASSERT_EQ(ReadReg8(u.unit, 0x2021, &v8), hr::kOk);
    EXPECT_EQ(v8, 0x34);
    struct Expect {
        uint8_t selector;
        Bytes data;  // written bytes; empty for a read
        uint32_t length;
    } expect[] = {{XU_REG_ADDR, {0xFF, 0x20}, 2},   {XU_REG_DATA, {0xA5}, 1},
                  {XU_REG16_ADDR, {0x01, 0x25}, 2}, {XU_REG16_DATA, {0xEF, 0xBE}, 2},
                  {XU_REG16_ADDR, {0x00, 0x2C}, 2}, {XU_REG16_DATA, {}, 2},
                  {XU_REG_ADDR, {0x21, 0x20}, 2},   {XU_REG_DATA, {}, 1}};
    ASSERT_EQ(u.ks->calls.size(), std::size(expect));
    for (size_t i = 0; i < std::size(expect); ++i) {
        const auto& call = u.ks->calls[i];
        EXPECT_EQ(call.property[16], expect[i].selector) << "call " << i;
        EXPECT_EQ(call.length, expect[i].length) << "call " << i;
        const bool write = call.property[20] == 0x02;
        EXPECT_EQ(write, !expect[i].data.empty()) << "call " << i;
        if (write) {
            EXPECT_EQ(call.data, expect[i].data) << "call " << i;
        }
    }
}

TEST(Registers, AFailedAddressWriteStopsBeforeTheDataAccess) {
    // Otherwise the data access would reach whatever register was addressed before.
    KsUnit u;
    u.ks->results = {hr::kGenFailure};
    EXPECT_EQ(WriteReg8(u.unit, 0x2034, 1), hr::kGenFailure);
    EXPECT_EQ(u.ks->calls.size(), 1u);
    u.ks->results = {hr::kOk, hr::kGenFailure};
    u.ks->calls.clear();
    EXPECT_EQ(SetRegBits(u.unit, 0x2041, 0x02), hr::kGenFailure);
    EXPECT_EQ(u.ks->calls.size(), 2u) << "no write after a failed read";
}

}  // namespace
