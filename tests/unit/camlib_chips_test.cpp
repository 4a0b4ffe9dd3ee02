// The library's family and flash-part rows held against the chip model's own description of the
// same chips: the model stays an oracle, written independently, and a row that drifts from it (a
// wrong nibble, mark, offset, answer or table) shows here before it reaches a camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camlib/chips.h"
#include "emu/bench_devices.h"
#include "emu/quelmar/quelmar_chip.h"
#include "emu/quelmar/spi_flash.h"

namespace {

TEST(ChipRows, FamiliesAsTheChipModelIdentifiesAndBootsThem) {
    for (int id = 0; id < 256; ++id) {
        for (uint8_t sub : {0x00, 0x10, 0x11}) {
            const char model = emu::quelmar::FamilyOf(static_cast<uint8_t>(id), sub);
            EXPECT_EQ(camlib::FamilyOf(static_cast<uint8_t>(id), sub), model) << id << " " << int(sub);
            EXPECT_EQ(camlib::FamilyAccepts(camlib::kAnyFamily, static_cast<uint8_t>(id & 0xF0)), model != 0);
        }
    }
    for (const camlib::ChipFamily& f : camlib::kChipFamilies) {
        SCOPED_TRACE(std::string("family ") + f.letter);
        EXPECT_EQ(f.selectLevel, emu::quelmar::SelectLevelOf(f.letter));
        EXPECT_EQ(f.identityOffset, emu::IdentityOffset(f.letter));
        // A request by letter finds the family by its own nibble.
        if (f.requestable) {
            EXPECT_TRUE(camlib::FamilyAccepts(f.letter, static_cast<uint8_t>(f.nibble << 4)));
            EXPECT_EQ(emu::quelmar::FamilyOf(static_cast<uint8_t>(f.nibble << 4), 0), f.letter);
        }

        // The chip boots what the library marks valid, and never the mark of a download in progress.
        std::vector<uint8_t> flash(65536, 0xFF);
        std::copy_n(f.verified.bytes, f.verified.count, flash.begin());
        if (f.commit == camlib::CommitBy::FlashMark) {
            EXPECT_GT(f.verified.count, 0);
            EXPECT_TRUE(emu::VerifiedMark(f.letter, flash, false));
        } else {
            EXPECT_TRUE(emu::VerifiedMark(f.letter, flash, true));
            EXPECT_FALSE(emu::VerifiedMark(f.letter, flash, false));
        }
        if (f.pendingAt != camlib::PendingAt::None) {
            std::fill(flash.begin(), flash.end(), 0xFF);
            std::copy_n(f.pending.bytes, f.pending.count, flash.begin());
            EXPECT_FALSE(emu::VerifiedMark(f.letter, flash, false));
        }
    }
}

// What the host reads back after an identification command: the part's bytes, repeated, or the
// idle bus when the part does not know the command.
void Answer(const emu::quelmar::IdAnswer& a, uint8_t out[3]) {
    for (int i = 0; i < 3; ++i) out[i] = a.length ? a.bytes[i % a.length] : 0xFF;
}

bool Blank(const uint8_t a[3]) {
    return std::all_of(a, a + 3, [](uint8_t b) { return b == 0xFF; }) ||
           std::all_of(a, a + 3, [](uint8_t b) { return b == 0x00; });
}

TEST(ChipRows, FlashPartsAsTheModelsPartsAnswerAndBehave) {
    // Identification in the probe's order over every part the model has, the unknown one included.
    for (const emu::quelmar::FlashPart& part : emu::quelmar::FlashParts()) {
        SCOPED_TRACE(part.label);
        uint8_t rems[3], res[3], jedec[3];
        Answer(part.rems, rems);
        Answer(part.res, res);
        Answer(part.jedec, jedec);
        const camlib::FlashPart* found = nullptr;
        if (!Blank(rems)) {
            found = camlib::IdentifyFlashPart(camlib::kOpRems, rems);
        } else {
            found = camlib::IdentifyFlashPart(camlib::kOpRes, res);
            if (!found) found = camlib::IdentifyFlashPart(camlib::kOpJedec, jedec);
        }
        EXPECT_EQ(found ? found->code : emu::quelmar::kUnknownPartCode, part.code);
    }
    // Every row drives its part with a table that fits it.
    for (const camlib::FlashPart& row : camlib::kFlashParts) {
        SCOPED_TRACE(int(row.code));
        const emu::quelmar::FlashPart* part = emu::quelmar::FindFlashPart(row.code);
        ASSERT_NE(part, nullptr);
        ASSERT_LT(row.table, camlib::kCommandTableCount);
        EXPECT_EQ(camlib::FlashTableIndex(row.code), row.table);
        const camlib::CommandTable& t = camlib::kCommandTables[row.table];
        auto slot = [&](int n) { return t.slots[n - 1]; };
        EXPECT_EQ(t.pageBytes, part->pageBytes);
        EXPECT_EQ(slot(camlib::kSlotSectorErase), part->sectorEraseOp);
        EXPECT_EQ(slot(camlib::kSlotBlockErase), part->blockEraseOp);
        EXPECT_TRUE(slot(8) == part->chipEraseOps[0] || slot(8) == part->chipEraseOps[1]);
        EXPECT_EQ(slot(2) != camlib::kNoOpcode, part->fastRead);
        EXPECT_EQ(slot(10) != camlib::kNoOpcode, part->byteProgram);
        EXPECT_EQ(slot(camlib::kSlotEnableWriteStatus) != camlib::kNoOpcode, part->needsEwsr);
    }
}

}  // namespace
