// The entry point and its selectors, driven through the loaded module: handles, defaults,
// locking, the memory estimate and the refusals of the prepare and start steps.
#include "host_fixture.h"

namespace mendora::testing {
namespace {

using standin::HostCallKind;

class EntryPointTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        offerImage(640, 480);
    }

    static FillParameters block() {
        FillParameters parameters{};
        EXPECT_TRUE(standin::readParameterBlock(parameters));
        return parameters;
    }

    // Every call of the module leaves both handles unlocked.
    void TearDown() override { EXPECT_EQ(standin::lockedHandleCount(), 0); }
};

void expectBlock(const FillParameters& p, int16_t left, int16_t top, int16_t right, int16_t bottom,
                 int16_t radius) {
    EXPECT_EQ(p.sourceLeft, left);
    EXPECT_EQ(p.sourceTop, top);
    EXPECT_EQ(p.sourceRight, right);
    EXPECT_EQ(p.sourceBottom, bottom);
    EXPECT_EQ(p.patchRadius, radius);
}

TEST_F(EntryPointTest, AboutTouchesNoHandleFlagOrResult) {
    EXPECT_EQ(standin::callAbout(), resultSuccess);
    EXPECT_TRUE(standin::hostCalls().empty());
    EXPECT_FALSE(standin::hasParameterHandle());
    EXPECT_FALSE(standin::hasDataHandle());
    EXPECT_EQ(standin::bigCoordinateRecord().uses32BitCoordinates, 0);
}

TEST_F(EntryPointTest, UnknownSelectorsOnlySetTheFlagAndUnlock) {
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    for (int16_t selector : {int16_t{6}, int16_t{-1}, int16_t{0x7FFF}}) {
        standin::beginRun();
        EXPECT_EQ(standin::callSelector(selector), resultSuccess) << selector;
        EXPECT_EQ(standin::bigCoordinateRecord().uses32BitCoordinates, 1);
        const auto& calls = standin::hostCalls();
        ASSERT_EQ(calls.size(), 2u) << selector;
        EXPECT_EQ(calls[0].kind, HostCallKind::unlockHandle);
        EXPECT_EQ(calls[0].first, standin::dataHandleId());
        EXPECT_EQ(calls[1].kind, HostCallKind::unlockHandle);
        EXPECT_EQ(calls[1].first, standin::parameterHandleId());
    }
}

TEST_F(EntryPointTest, ParametersCreatesHandlesAndAlwaysResetsToDefaults) {
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    EXPECT_EQ(standin::countCalls(HostCallKind::newHandle), 2);
    expectBlock(block(), 0, 0, 640, 480, 4);
    const std::vector<uint8_t> data = standin::dataBlockBytes();
    ASSERT_EQ(data.size(), 32u);
    EXPECT_EQ(data[20], 1);

    ASSERT_TRUE(standin::writeParameterBlock(FillParameters{5, 6, 70, 80, 2}));
    standin::beginRun();
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    EXPECT_EQ(standin::countCalls(HostCallKind::newHandle), 0);
    expectBlock(block(), 0, 0, 640, 480, 4);
}

TEST_F(EntryPointTest, PrepareKeepsStoredParametersUnlessItHadToCreateAHandle) {
    // A fresh host: both handles are created with the defaults.
    ASSERT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
    expectBlock(block(), 0, 0, 640, 480, 4);
    EXPECT_EQ(standin::hostRecord().bufferRequest, 0);

    ASSERT_TRUE(standin::writeParameterBlock(FillParameters{5, 6, 70, 80, 2}));
    standin::beginRun();
    ASSERT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
    expectBlock(block(), 5, 6, 70, 80, 2);
    EXPECT_EQ(standin::countCalls(HostCallKind::newHandle), 0);

    // The host lost the data handle: a new one, and the parameters start from the defaults.
    standin::forgetDataHandle();
    standin::beginRun();
    ASSERT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
    ASSERT_EQ(standin::countCalls(HostCallKind::newHandle), 1);
    EXPECT_EQ(standin::hostCalls()[0].first, 32);
    expectBlock(block(), 0, 0, 640, 480, 4);
    EXPECT_EQ(standin::callSelector(selectorFinish), resultSuccess);
}

TEST_F(EntryPointTest, HandleProcedureFailures) {
    // Neither handle can be created: both are attempted, nothing is locked.
    standin::hostSettings().newHandleFails = true;
    EXPECT_EQ(standin::callSelector(selectorParameters), errOutOfMemory);
    EXPECT_EQ(standin::countCalls(HostCallKind::newHandle), 2);
    EXPECT_EQ(standin::countCalls(HostCallKind::lockHandle), 0);

    // A start without handles is refused before anything is locked or requested.
    standin::beginRun();
    EXPECT_EQ(standin::callSelector(selectorStart), errBadParameters);
    EXPECT_EQ(standin::countCalls(HostCallKind::lockHandle), 0);
    EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);

    // Handles that exist but cannot be locked: both locks tried, the step reports -108.
    standin::hostSettings().newHandleFails = false;
    standin::beginRun();
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    standin::hostSettings().lockHandleFails = true;
    standin::beginRun();
    EXPECT_EQ(standin::callSelector(selectorPrepare), errOutOfMemory);
    EXPECT_EQ(standin::countCalls(HostCallKind::lockHandle), 2);
    standin::beginRun();
    EXPECT_EQ(standin::callSelector(selectorStart), errOutOfMemory);
    EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
    standin::callSelector(selectorFinish);

    // Only the data block fails to lock: the parameter block is not touched either.
    standin::hostSettings().lockHandleFails = false;
    standin::hostSettings().lockFailsForHandleId = standin::dataHandleId();
    ASSERT_TRUE(standin::writeParameterBlock(FillParameters{5, 6, 70, 80, 2}));
    standin::beginRun();
    EXPECT_EQ(standin::callSelector(selectorParameters), errOutOfMemory);
    expectBlock(block(), 5, 6, 70, 80, 2);
}

TEST_F(EntryPointTest, PrepareLowersTheMemoryLimitToTheEstimateOnly) {
    struct Case {
        int32_t side;
        int16_t planes;
        bool mask;
        int32_t limit;
        int32_t expected;
    };
    const Case cases[] = {
        {100, 3, false, 1000000, 60000}, // 100 x 100 x (3 x 2)
        {100, 3, true, 1000000, 80000},  // a mask buffer counts as a fourth plane
        {100, 3, false, 50000, 50000},   // a limit below the estimate stays
        {100, 3, false, 60000, 60000},   // and so does one equal to it
        // 300 x 300 x 32767 x 2 is about 5.9e9: in 32-bit arithmetic it would wrap to about
        // 1.6e9 and wrongly lower this limit.
        {300, 32767, false, 2000000000, 2000000000},
    };
    for (const Case& c : cases) {
        standin::resetHost();
        offerImage(c.side, c.side,
                   c.mask ? discMask(c.side, c.side, 50, 50, 5) : std::vector<uint8_t>{});
        standin::hostSettings().planeCount = c.planes;
        standin::hostSettings().memoryLimit = c.limit;
        standin::beginRun();
        EXPECT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
        EXPECT_EQ(standin::hostRecord().memoryLimit, c.expected) << c.side << " " << c.planes;
        standin::callSelector(selectorFinish);
    }
}

TEST_F(EntryPointTest, UnusableGeometryIsRefusedAndNoStartFollows) {
    // The last two are one pixel beyond the 16-bit bounds of the stored parameter block, which
    // only the 32-bit rectangle can name.
    const Rect32 rectangles[] = {{1, 0, 480, 640}, {0, 2, 480, 640}, {0, 0, 0, 640},
                                 {0, 0, 480, -3},  {0, 0, -1, 640},  {0, 0, 1, 32768},
                                 {0, 0, 32768, 1}};
    for (const Rect32& rect : rectangles) {
        standin::hostSettings().filterRect = rect;
        standin::beginRun();
        EXPECT_EQ(standin::callSelector(selectorPrepare), errBadParameters);
        EXPECT_EQ(standin::callSelector(selectorStart), errBadParameters);
        EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
        EXPECT_EQ(standin::callSelector(selectorFinish), resultSuccess);
    }
    for (const Rect32& edge : {Rect32{0, 0, 1, 32767}, Rect32{0, 0, 32767, 1}}) {
        standin::hostSettings().filterRect = edge;
        standin::beginRun();
        EXPECT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
        EXPECT_EQ(standin::callSelector(selectorFinish), resultSuccess);
    }
    standin::hostSettings().filterRect.reset();
    standin::hostSettings().planeCount = 2;
    const standin::FilterRunResult run = standin::runFilter(false);
    EXPECT_EQ(run.prepareResult, errBadParameters);
    EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
}

TEST_F(EntryPointTest, ARefusedImageLeavesTheModuleUsable) {
    standin::hostSettings().filterRect = Rect32{0, 0, 70000, 70000};
    standin::beginRun();
    EXPECT_EQ(standin::callSelector(selectorPrepare), errBadParameters);
    EXPECT_EQ(standin::callSelector(selectorStart), errBadParameters);
    EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
    EXPECT_EQ(standin::callSelector(selectorFinish), resultSuccess);

    // A start after the finish step has no grids to fill either.
    EXPECT_EQ(standin::callSelector(selectorStart), errBadParameters);

    standin::hostSettings().filterRect.reset();
    offerImage(40, 30, discMask(40, 30, 20, 15, 3));
    standin::beginRun();
    // The hosts' hook after the start step: called once, when the fill has been delivered
    // and before any continue call.
    int32_t hookCalls = 0;
    const standin::FilterRunResult run = standin::runSteps(false, [&hookCalls] {
        hookCalls++;
        EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 1);
    });
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(run.result, resultSuccess);
    EXPECT_TRUE(run.exchangeEnded);
    expectSelectionFilled(standin::outputBuffer());
}

} // namespace
} // namespace mendora::testing
