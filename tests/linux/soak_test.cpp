// A day of Auto Update refreshes on the headless backend with a scripted counter source: nothing
// the program holds may grow, whatever failures come and go.
#include <dirent.h>
#include <malloc.h>

#include "framework/data_exchange.h"
#include "perf/pdh_status.h"
#include "tests/fakes/dialog_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocator statistics (sanitizer/allocator_interface.h, which GCC does not
// install).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr int kRefreshesPerDay = 86400;

int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

// The bytes the program has allocated and not freed. Under AddressSanitizer the sanitizer's own
// allocator serves every allocation and glibc's statistics stay at zero, so ask the sanitizer.
size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
#endif
}

class SoakTest : public HeadlessTest {};

} // namespace

TEST_F(SoakTest, ADayOfRefreshesWithFailuresAndRecoveriesGrowsNothing)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    ASSERT_TRUE(TimerRunning());

    auto runHours = [&](int hours, int startTick) {
        for (int i = 0; i < hours * 3600; ++i) {
            const int tick = startTick + i;
            // Every 997th tick the collection fails for three ticks running; values change.
            if (tick % 997 == 0)
                counters.collectResults = { PDH_NO_DATA, PDH_CSTATUS_NO_MACHINE, PDH_INVALID_HANDLE };
            counters.SetValue(u"\\Memory\\% Committed Bytes In Use", tick % 100);
            ASSERT_TRUE(Tick());
        }
    };

    // Warm up for an hour, so that every allocation that lives for the run has been made.
    runHours(1, 0);
    const size_t heapBefore = HeapInUse();
    const int fdsBefore = OpenDescriptors();
    const size_t boxesBefore = ui.messageBoxes.size();
    ui.messageBoxes.clear();
    ui.messageBoxes.shrink_to_fit();

    runHours(23, 3600);
    const size_t boxes = ui.messageBoxes.size();
    ui.messageBoxes.clear();
    ui.messageBoxes.shrink_to_fit();

    EXPECT_EQ(counters.collects, kRefreshesPerDay);
    EXPECT_GT(boxes, boxesBefore); // the failures were really shown
    EXPECT_EQ(dlg->GetQuery().GetCounterCount(), 13);
    EXPECT_EQ(counters.openQueries, 1);
    EXPECT_EQ(OpenDescriptors(), fdsBefore);
    EXPECT_GT(heapBefore, 0u); // a figure that can show growth
    EXPECT_LE(HeapInUse(), heapBefore);
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), AfxFormatInt((kRefreshesPerDay - 1) % 100));
    RecordProperty("heap_before", static_cast<int>(heapBefore));
    RecordProperty("heap_after", static_cast<int>(HeapInUse()));
}
