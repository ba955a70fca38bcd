// The free space of the local disks together, with a meter that stands for statvfs.
#include <gtest/gtest.h>

#include <map>

#include "platform/linux/counters/kernel_figures.h"

TEST(FreeSpace, APoolCountsItsFreeSpaceOnceAndTheSpaceEachDatasetUses)
{
    constexpr std::uint64_t GB = 1'000'000'000;
    // statvfs of a ZFS dataset: f_bfree the pool's free space (less under a quota), f_blocks
    // that plus what the dataset itself refers to.
    const std::map<std::string, SpaceTotals> measured = {
        { "/", { 190 * GB, 200 * GB } },     // rpool/ROOT/debian uses 10 GB
        { "/home", { 190 * GB, 990 * GB } }, // rpool/home uses 800 GB
        { "/srv/q", { 5 * GB, 20 * GB } },   // rpool/q: a quota of 20 GB, 15 used
        { "/boot/efi", { 400'000'000, 500'000'000 } },
    };
    const SpaceMeter meter = [&](const std::string& mountPoint) -> std::optional<SpaceTotals> {
        const auto found = measured.find(mountPoint);
        return found != measured.end() ? std::optional(found->second) : std::nullopt;
    };

    const std::vector<LocalDisk> disks = {
        { "rpool", true, { "/", "/home", "/srv/q", "/gone" } },
        { "/dev/nvme0n1p1", false, { "/boot/efi" } },
        { "bpool", true, { "/unmeasurable" } },
    };
    const std::optional<SpaceTotals> space = MeasureSpace(disks, meter);
    ASSERT_TRUE(space);
    EXPECT_EQ(space->freeBytes, 190 * GB + 400'000'000);
    EXPECT_EQ(space->sizeBytes, (190 + 10 + 800 + 15) * GB + 500'000'000);

    // A device is measured at its mount point alone; nothing measurable is no figure.
    EXPECT_EQ(MeasureSpace({ { "/dev/sda1", false, { "/boot/efi" } } }, meter)->sizeBytes, 500'000'000u);
    EXPECT_FALSE(MeasureSpace({ { "bpool", true, { "/unmeasurable" } } }, meter));
    EXPECT_FALSE(MeasureSpace({}, meter));
}
