// Where a window opens in a monitor's work area, and what it gives up to fit.
#include "ui/WorkAreaFit.h"

#include <gtest/gtest.h>

namespace memoline::ui {
namespace {

TEST(WorkAreaFit, CentredLoweredToFitAndNeverBelowItsMinimum) {
    const SIZE frame{6, 29};
    const SIZE client{1011, 738};
    const struct Case {
        RECT work;
        int minHeight;
        LONG x, y;
        int height;
        const char* what;
    } cases[] = {
        {{0, 0, 1280, 1024}, 528, 131, 128, 738, "roomy: centred, whole"},
        {{0, 0, 1366, 728}, 528, 174, 0, 699, "1366 x 768 less the taskbar: as high as the work area"},
        {{0, 0, 1366, 767}, 528, 174, 0, 738, "exactly high enough"},
        {{1920, 40, 1920 + 1366, 768}, 528, 1920 + 174, 40, 699, "a monitor right of the primary, bar at the top"},
        {{0, 0, 1366, 400}, 528, 174, 0, 528, "too low even for the minimum: the title bar stays inside"},
        {{0, 0, 800, 600}, 738, 0, 0, 738, "a form that may not shrink keeps its height and its corner inside"},
        {{-1280, 0, 0, 1024}, 528, -1280 + 131, 128, 738, "a monitor left of the primary"},
    };
    for (const Case& c : cases) {
        const TWorkAreaFit fit = FitInWorkArea(c.work, frame, client, c.minHeight);
        EXPECT_EQ(fit.Position.x, c.x) << c.what;
        EXPECT_EQ(fit.Position.y, c.y) << c.what;
        EXPECT_EQ(fit.ClientHeight, c.height) << c.what;
    }
}

}  // namespace
}  // namespace memoline::ui
