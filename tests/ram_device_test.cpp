// The RAM flash device the other tests rely on to catch a write into flash that is not erased:
// programming clears bits and never sets one, wherever in the block it lies.
#include "helpers.h"

TEST(RamFlash, ProgrammingThatWouldSetAClearedBitIsRefused) {
    Dev f = own(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));
    DeviceDescriptor *d = f->dev();
    Bytes programmed(512, 0xFF);
    for (size_t at : {0, 7, 8, 300, 511}) programmed[at] = 0xF0;
    ASSERT_EQ(d->WriteBlock(d, 20, programmed.data()), -1);
    for (size_t at : {0, 7, 8, 300, 511}) {
        Bytes again = programmed;
        again[at] = 0xF8;
        EXPECT_EQ(d->WriteBlock(d, 20, again.data()), ramdev::kFlashSetBit) << at;
        EXPECT_EQ(Bytes(f->block(20), f->block(21)), programmed) << at;
    }
    programmed[9] = 0x0F, programmed[511] = 0x00;  // clears more bits only
    EXPECT_EQ(d->WriteBlock(d, 20, programmed.data()), -1);
    EXPECT_EQ(Bytes(f->block(20), f->block(21)), programmed);
}
