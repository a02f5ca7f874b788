// The start step's exchange with the host and whole runs, through the loaded module: what is
// requested, in which coordinate set, what is filled and what is left as delivered.
#include <algorithm>
#include <utility>

#include "host/host_hooks.h"
#include "host_fixture.h"

namespace mendora::testing {
namespace {

using standin::HostCallKind;

class ImageExchangeTest : public HostTest {
  protected:
    void TearDown() override {
        EXPECT_TRUE(standin::buffersIntact())
            << "write outside the output buffer or into the input";
        EXPECT_EQ(standin::lockedHandleCount(), 0);
    }

    // Prepares and starts a run with stored parameters; answers the start's result.
    int16_t prepareAndStart() {
        standin::beginRun();
        EXPECT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
        return standin::callSelector(selectorStart);
    }
};

bool sameRect(const Rect32& a, const Rect32& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

bool untouched(const Rect16& r) {
    const int16_t u = standin::kUntouchedCoordinate;
    return r.top == u && r.left == u && r.bottom == u && r.right == u;
}

bool untouched(const Rect32& r) {
    const int32_t u = standin::kUntouchedCoordinate;
    return r.top == u && r.left == u && r.bottom == u && r.right == u;
}

bool empty(const Rect32& r) {
    return sameRect(r, Rect32{0, 0, 0, 0});
}

bool empty(const Rect16& r) {
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

TEST_F(ImageExchangeTest, WholeRunFillsEverySelectedPixelAndNothingElse) {
    offerImage(96, 72, discMask(96, 72, 40, 30, 7));
    const standin::FilterRunResult run = standin::runFilter(true);
    EXPECT_EQ(run.result, resultSuccess);
    EXPECT_TRUE(run.exchangeEnded);
    EXPECT_EQ(run.continueCalls, 1);
    expectSelectionFilled(standin::outputBuffer());

    // One exchange: delivery, then one progress report of (1, W x H), then one abort test.
    std::vector<HostCallKind> exchange;
    for (const standin::HostCall& call : standin::hostCalls())
        if (call.kind == HostCallKind::deliverBuffers ||
            call.kind == HostCallKind::reportProgress || call.kind == HostCallKind::queryAbort)
            exchange.push_back(call.kind);
    EXPECT_EQ(exchange,
              (std::vector<HostCallKind>{HostCallKind::deliverBuffers, HostCallKind::reportProgress,
                                         HostCallKind::queryAbort}));
    const auto delivery = standin::lastDelivery();
    ASSERT_TRUE(delivery && delivery->served);
    EXPECT_EQ(delivery->inFirstPlane, 0);
    EXPECT_EQ(delivery->inLastPlane, 2);
    EXPECT_EQ(delivery->outFirstPlane, 0);
    EXPECT_EQ(delivery->outLastPlane, 2);
    EXPECT_EQ(delivery->inSampleRate, 65536);
    EXPECT_EQ(delivery->maskSampleRate, 65536);
}

TEST_F(ImageExchangeTest, RectanglesUseOnlyTheCoordinateSetTheHostOffers) {
    for (bool offer32 : {true, false}) {
        standin::resetHost();
        standin::hostSettings().offerBigCoordinates = offer32;
        offerImage(50, 40, discMask(50, 40, 25, 20, 4));
        ASSERT_EQ(prepareAndStart(), resultSuccess);
        const auto delivery = standin::lastDelivery();
        ASSERT_TRUE(delivery && delivery->served);
        EXPECT_EQ(delivery->used32BitCoordinates, offer32);
        const Rect32 whole{0, 0, 40, 50};
        EXPECT_TRUE(sameRect(delivery->inRect, whole));
        EXPECT_TRUE(sameRect(delivery->outRect, whole));
        EXPECT_TRUE(sameRect(delivery->maskRect, whole));

        ASSERT_EQ(standin::callSelector(selectorContinue), resultSuccess);
        const HostRecord& record = standin::hostRecord();
        const BigCoordinateRecord& big = standin::bigCoordinateRecord();
        if (offer32) {
            EXPECT_TRUE(empty(big.inRect32) && empty(big.outRect32) && empty(big.maskRect32));
            EXPECT_TRUE(untouched(record.inRect) && untouched(record.outRect) &&
                        untouched(record.maskRect));
        } else {
            EXPECT_TRUE(empty(record.inRect) && empty(record.outRect) && empty(record.maskRect));
            EXPECT_TRUE(untouched(big.inRect32) && untouched(big.outRect32) &&
                        untouched(big.maskRect32));
        }
        standin::callSelector(selectorFinish);
    }
}

TEST_F(ImageExchangeTest, WithoutSelectionNothingIsMarkedAndTheMaskIsNotRequested) {
    offerImage(30, 20);
    ASSERT_EQ(prepareAndStart(), resultSuccess);
    EXPECT_TRUE(untouched(standin::bigCoordinateRecord().maskRect32));
    EXPECT_EQ(standin::outputBuffer(), standin::deliveredOutputBuffer());
    EXPECT_EQ(standin::countCalls(HostCallKind::reportProgress), 1);
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, HostsThatCannotServeGetNoFill) {
    offerImage(40, 30, discMask(40, 30, 20, 15, 3));
    // An output tile side of 0, after the dialog was confirmed: nothing is requested.
    for (int side = 0; side < 2; side++) {
        standin::hostSettings().outputTileWidth = side == 0 ? 0 : 64;
        standin::hostSettings().outputTileHeight = side == 0 ? 64 : 0;
        EXPECT_EQ(prepareAndStart(), errBadParameters);
        EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
        standin::callSelector(selectorFinish);
    }
    // A failing delivery: its code, unchanged, and nothing after it.
    standin::hostSettings().outputTileWidth = 64;
    standin::hostSettings().outputTileHeight = 64;
    standin::hostSettings().deliverAnswer = errOutOfMemory;
    EXPECT_EQ(prepareAndStart(), errOutOfMemory);
    EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 1);
    EXPECT_EQ(standin::countCalls(HostCallKind::reportProgress), 0);
    EXPECT_EQ(standin::countCalls(HostCallKind::queryAbort), 0);

    // Continue after the failed start still clears all three rectangles.
    ASSERT_EQ(standin::callSelector(selectorContinue), resultSuccess);
    const BigCoordinateRecord& big = standin::bigCoordinateRecord();
    EXPECT_TRUE(empty(big.inRect32) && empty(big.outRect32) && empty(big.maskRect32));
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, OutOfMemoryInsideTheCallIsReportedAndTheModuleStaysUsable) {
    offerImage(40, 30, discMask(40, 30, 20, 15, 3));
    standin::hostSettings().deliverThrowsOutOfMemory = true;
    EXPECT_EQ(prepareAndStart(), errOutOfMemory);
    EXPECT_EQ(standin::callSelector(selectorFinish), resultSuccess);

    standin::hostSettings().deliverThrowsOutOfMemory = false;
    EXPECT_EQ(standin::runFilter(false).result, resultSuccess);
    expectSelectionFilled(standin::outputBuffer());
}

TEST_F(ImageExchangeTest, AbortIsAskedAfterTheCompleteFill) {
    offerImage(60, 45, discMask(60, 45, 30, 22, 5));
    standin::hostSettings().abortAnswer = true;
    EXPECT_EQ(prepareAndStart(), errCanceled);
    const auto progress = callsOf(HostCallKind::reportProgress);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].first, 1);
    EXPECT_EQ(progress[0].second, 60 * 45);
    expectSelectionFilled(standin::outputBuffer());
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, TwoByTwoImageChangesNoPixelButTheSelectedOne) {
    offerImage(2, 2, std::vector<uint8_t>{0, 0, 0, 1});
    // No 3 x 3 window fits a 2 x 2 image, so the selected pixel has no source.
    EXPECT_EQ(prepareAndStart(), errBadParameters);
    const auto delivery = standin::lastDelivery();
    ASSERT_TRUE(delivery);
    EXPECT_TRUE(sameRect(delivery->outRect, Rect32{0, 0, 2, 2}));
    const std::vector<uint8_t> output = standin::outputBuffer();
    const std::vector<uint8_t> delivered = standin::deliveredOutputBuffer();
    ASSERT_EQ(output.size(), 12u);
    EXPECT_TRUE(std::equal(output.begin(), output.begin() + 9, delivered.begin()));
    const auto progress = callsOf(HostCallKind::reportProgress);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].first, 1);
    EXPECT_EQ(progress[0].second, 4);
    EXPECT_EQ(standin::countCalls(HostCallKind::queryAbort), 0);
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, SelectionWithoutAnySourceWindowIsAnError) {
    offerImage(40, 30, discMask(40, 30, 20, 15, 3));
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    // A source rectangle narrower than one 9 x 9 window.
    ASSERT_TRUE(standin::writeParameterBlock(FillParameters{0, 0, 6, 30, 4}));
    EXPECT_EQ(prepareAndStart(), errBadParameters);
    EXPECT_EQ(standin::outputBuffer(), standin::deliveredOutputBuffer());
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, MaskRowPaddingAndFeatheredBytesDoNotChangeTheFill) {
    std::vector<uint8_t> binary = discMask(64, 48, 30, 24, 6);
    offerImage(64, 48, binary);
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    const std::vector<uint8_t> reference = standin::outputBuffer();
    expectSelectionFilled(reference);

    // Rows 7 bytes wider than the rectangle, the extra bytes non-zero.
    standin::hostSettings().maskRowStride = 64 + 7;
    EXPECT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::outputBuffer(), reference);

    // Feathered: bytes from 1 to 255 over the same pixels select them fully.
    std::vector<uint8_t> feathered = binary;
    for (size_t i = 0; i < feathered.size(); i++)
        if (feathered[i] != 0)
            feathered[i] = static_cast<uint8_t>(1 + (i * 37) % 255);
    standin::setSelection(feathered);
    standin::hostSettings().maskRowStride = 0;
    EXPECT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::outputBuffer(), reference);

    // The image and the selection handed over in place, rows padded or not: the same fill,
    // and the image, now the plug-in's input, unwritten.
    const std::vector<uint8_t> image = standin::hostImage().pixels;
    standin::hostSettings().deliverInPlace = true;
    for (int32_t stride : {0, 64 + 7}) {
        standin::hostSettings().maskRowStride = stride;
        EXPECT_EQ(standin::runFilter(true).result, resultSuccess);
        EXPECT_EQ(standin::outputBuffer(), reference);
        EXPECT_EQ(standin::hostImage().pixels, image);
    }
    // The output in place too: the image becomes the same fill.
    standin::hostSettings().outputInPlace = true;
    EXPECT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::hostImage().pixels, reference);
    EXPECT_EQ(standin::outputBuffer(), reference);
    EXPECT_TRUE(standin::buffersIntact());
}

TEST_F(ImageExchangeTest, MaskRowsNarrowerThanTheRectangleAreRefused) {
    offerImage(40, 30, discMask(40, 30, 20, 15, 3));
    standin::hostSettings().maskRowStride = 39;
    EXPECT_EQ(prepareAndStart(), errBadParameters);
    EXPECT_EQ(standin::outputBuffer(), standin::deliveredOutputBuffer());
    standin::callSelector(selectorFinish);
}

TEST_F(ImageExchangeTest, SourceBoundsAreCorrectedAndStored) {
    offerImage(64, 48, discMask(64, 48, 30, 24, 4));
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    ASSERT_TRUE(standin::writeParameterBlock(FillParameters{-1, 2, -5, 100, 3}));
    EXPECT_EQ(standin::runFilter(false).result, resultSuccess);
    FillParameters stored{};
    ASSERT_TRUE(standin::readParameterBlock(stored));
    EXPECT_EQ(stored.sourceLeft, 0);
    EXPECT_EQ(stored.sourceTop, 2);
    EXPECT_EQ(stored.sourceRight, 64);
    EXPECT_EQ(stored.sourceBottom, 48);
    EXPECT_EQ(stored.patchRadius, 3);
}

// Fills the same image with stored radius `radius` and answers the output.
std::vector<uint8_t> fillWithRadius(int16_t radius) {
    EXPECT_TRUE(standin::writeParameterBlock(FillParameters{0, 0, 64, 48, radius}));
    EXPECT_EQ(standin::runFilter(false).result, resultSuccess);
    FillParameters stored{};
    EXPECT_TRUE(standin::readParameterBlock(stored));
    EXPECT_EQ(stored.patchRadius, radius);
    return standin::outputBuffer();
}

TEST_F(ImageExchangeTest, RadiusZeroFillsWithTheRadiusOfThePreviousRun) {
    offerImage(64, 48, discMask(64, 48, 30, 24, 6));
    ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
    const std::vector<uint8_t> radius2 = fillWithRadius(2);
    EXPECT_EQ(fillWithRadius(0), radius2);
    const std::vector<uint8_t> radius3 = fillWithRadius(3);
    ASSERT_NE(radius2, radius3) << "the image does not tell the radii apart";
    EXPECT_EQ(fillWithRadius(-2), radius3);

    // A freshly loaded module fills with 4.
    const std::vector<uint8_t> radius4 = fillWithRadius(4);
    fillWithRadius(2);
    loadModule(modulePath(), true);
    EXPECT_EQ(fillWithRadius(0), radius4);
}

// What our own hosts learn through their hooks (host/host_hooks.h), and that the image editor,
// which offers none, sees exactly the same run either way.
struct ProgressReport {
    int32_t stage;
    int64_t done;
    int64_t total;
};

std::vector<std::pair<int32_t, int32_t>> callTrace() {
    std::vector<std::pair<int32_t, int32_t>> trace;
    for (const standin::HostCall& call : standin::hostCalls())
        trace.emplace_back(static_cast<int32_t>(call.kind), call.first * 31 + call.second);
    return trace;
}

TEST_F(ImageExchangeTest, HooksSeeEveryStageRiseToTheEndAndChangeNothingTheEditorSees) {
    const std::vector<uint8_t> mask = discMask(120, 90, 60, 45, 9);
    const int64_t selected = mask.size() - std::count(mask.begin(), mask.end(), 0);
    offerImage(120, 90, mask);
    // The second run, whose handles exist already, as the observed one will find them.
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    const std::vector<uint8_t> unobserved = standin::outputBuffer();
    const auto unobservedCalls = callTrace();

    std::vector<ProgressReport> reports;
    int32_t stopQuestions = 0;
    standin::hostSettings().fillHooks.progress = [&](int32_t stage, int64_t done, int64_t total) {
        reports.push_back(ProgressReport{stage, done, total});
    };
    standin::hostSettings().fillHooks.stopRequested = [&] {
        stopQuestions++;
        return false;
    };
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::outputBuffer(), unobserved);
    EXPECT_EQ(callTrace(), unobservedCalls) << "the hooks changed the host calls";

    // Every stage in order, each from 0 to its total, done never falling within a stage.
    ASSERT_FALSE(reports.empty());
    std::vector<int32_t> stages;
    for (size_t i = 0; i < reports.size(); i++) {
        const ProgressReport& r = reports[i];
        ASSERT_GE(r.total, 1);
        ASSERT_LE(r.done, r.total);
        if (stages.empty() || stages.back() != r.stage) {
            EXPECT_EQ(r.done, 0) << "stage " << r.stage << " starts part way";
            if (!stages.empty()) {
                EXPECT_EQ(reports[i - 1].done, reports[i - 1].total) << "a stage ends early";
            }
            stages.push_back(r.stage);
            continue;
        }
        EXPECT_GE(r.done, reports[i - 1].done) << "done fell in stage " << r.stage;
        EXPECT_EQ(r.total, reports[i - 1].total);
    }
    EXPECT_EQ(stages, (std::vector<int32_t>{MENDORA_STAGE_PREPARING, MENDORA_STAGE_DESCRIBING,
                                            MENDORA_STAGE_INDEXING, MENDORA_STAGE_FILLING}));
    EXPECT_EQ(reports.back().stage, MENDORA_STAGE_FILLING);
    EXPECT_EQ(reports.back().done, selected);
    EXPECT_EQ(reports.back().total, selected);
    // Asked after each set-up stage, once a fill step (each reports once), and after the
    // describing chunk when this thread took it (the image has fewer candidates than a chunk).
    const auto steps = std::count_if(reports.begin(), reports.end(), [](const ProgressReport& r) {
        return r.stage == MENDORA_STAGE_FILLING && r.done > 0;
    });
    EXPECT_GE(stopQuestions, 3 + steps);
    EXPECT_LE(stopQuestions, 3 + steps + 1);
}

TEST_F(ImageExchangeTest, StopRequestEndsTheFillAtItsStageOrStepAsCanceled) {
    const std::vector<uint8_t> mask = discMask(120, 90, 60, 45, 9);
    offerImage(120, 90, mask);
    // A stop asked at the end of each set-up stage, during the describing, and at fill steps 1
    // and 10 (of 15): no later stage or step is reported.
    struct Case {
        int32_t stage;
        int32_t step; // the fill step, for the filling stage
    };
    for (const Case c : {Case{MENDORA_STAGE_PREPARING, 0}, Case{MENDORA_STAGE_DESCRIBING, 0},
                         Case{MENDORA_STAGE_INDEXING, 0}, Case{MENDORA_STAGE_FILLING, 1},
                         Case{MENDORA_STAGE_FILLING, 10}}) {
        SCOPED_TRACE(::testing::Message() << "stage " << c.stage << " step " << c.step);
        int32_t lastStage = 0;
        int32_t fillSteps = 0;
        int32_t questionsAfterStop = -1;
        standin::hostSettings().fillHooks.progress = [&](int32_t stage, int64_t done, int64_t) {
            EXPECT_EQ(questionsAfterStop, -1) << "progress reported after the stop";
            lastStage = stage;
            fillSteps += stage == MENDORA_STAGE_FILLING && done > 0 ? 1 : 0;
        };
        standin::hostSettings().fillHooks.stopRequested = [&] {
            if (questionsAfterStop >= 0) {
                questionsAfterStop++;
                return true;
            }
            if (lastStage != c.stage || fillSteps != c.step)
                return false;
            questionsAfterStop = 0;
            return true;
        };
        const standin::FilterRunResult run = standin::runFilter(true);
        EXPECT_EQ(run.startResult, errCanceled);
        EXPECT_EQ(questionsAfterStop, 0) << "asked again after the stop";
        EXPECT_EQ(lastStage, c.stage);
        EXPECT_EQ(fillSteps, c.step);
        // The editor's calls of a canceled start: the delivery, then neither progress nor
        // abort; the run still ends with finish.
        EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 1);
        EXPECT_EQ(standin::countCalls(HostCallKind::reportProgress), 0);
        EXPECT_EQ(standin::countCalls(HostCallKind::queryAbort), 0);
        EXPECT_EQ(run.finishResult, resultSuccess);
        // Nothing outside the selection is written, even part way.
        const std::vector<uint8_t> output = standin::outputBuffer();
        size_t changedOutside = 0;
        for (size_t i = 0; i < mask.size(); i++)
            changedOutside += mask[i] == 0 && colourAt(output, i) != colourAt(image.pixels, i);
        EXPECT_EQ(changedOutside, 0u);
    }
    // The module fills whole again once no stop is asked.
    standin::hostSettings().fillHooks = standin::FillHooks{};
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    expectSelectionFilled(standin::outputBuffer());
}

// The sampling area our hosts hand over with their hooks: one allowing every pixel fills as
// without it; one leaving out the right part fills otherwise; a row stride below the width is
// refused as bad parameters before anything is filled; the next run without it fills as
// before (the module keeps no area across runs).
TEST_F(ImageExchangeTest, SamplingAreaOfOurHostsLimitsTheSourceAndIsNotKept) {
    const std::vector<uint8_t> mask = discMask(120, 90, 60, 45, 9);
    offerImage(120, 90, mask);
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    const std::vector<uint8_t> plain = standin::outputBuffer();

    const int32_t stride = 128;
    std::vector<uint8_t> area(static_cast<size_t>(stride) * 90, 1);
    standin::FillHooks& hooks = standin::hostSettings().fillHooks;
    hooks.samplingArea = area.data();
    hooks.samplingAreaRowStride = stride;
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::outputBuffer(), plain);

    for (int32_t y = 0; y < 90; y++)
        std::fill_n(area.begin() + y * stride + 50, stride - 50, uint8_t{0});
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    expectSelectionFilled(standin::outputBuffer());
    EXPECT_NE(standin::outputBuffer(), plain);

    hooks.samplingAreaRowStride = 119;
    const standin::FilterRunResult refused = standin::runFilter(true);
    EXPECT_EQ(refused.startResult, errBadParameters);
    EXPECT_EQ(standin::countCalls(HostCallKind::reportProgress), 0);

    hooks = standin::FillHooks{};
    ASSERT_EQ(standin::runFilter(true).result, resultSuccess);
    EXPECT_EQ(standin::outputBuffer(), plain);
}

} // namespace
} // namespace mendora::testing
