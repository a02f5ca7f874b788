// The start and about steps around the dialogs, with the region dialog following a script
// typed into the host's terminal.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "host_fixture.h"

namespace mendora::testing {
namespace {

using standin::HostCallKind;

class DialogStepTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        openTerminal();
    }

    void TearDown() override {
        closeTerminal();
        EXPECT_EQ(standin::lockedHandleCount(), 0);
    }

    // A fresh host: the image, a new terminal for the dialogs, and the stored block.
    void openTerminal() {
        offerImage(64, 48, discMask(64, 48, 30, 24, 4));
        ASSERT_EQ(pipe(keys), 0);
        ASSERT_EQ(pipe(screen), 0);
        // What the dialogs draw is read back without waiting: a missing drawing fails the test.
        ASSERT_EQ(fcntl(screen[0], F_SETFL, O_NONBLOCK), 0);
        standin::hostSettings().parentWindow = VlmrParentWindow{keys[0], screen[1]};
        ASSERT_EQ(standin::callSelector(selectorParameters), resultSuccess);
        ASSERT_TRUE(standin::writeParameterBlock(stored));
    }

    // Closes whatever is left of the terminal; safe to call twice.
    void closeTerminal() {
        for (int* fd : {&keys[0], &keys[1], &screen[0], &screen[1]}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }

    // Types `script` into the terminal and closes it, so the dialog sees its end.
    void type(const std::string& script) {
        ASSERT_EQ(write(keys[1], script.data(), script.size()),
                  static_cast<ssize_t>(script.size()));
        close(keys[1]);
        keys[1] = -1;
    }

    static FillParameters block() {
        FillParameters parameters{};
        EXPECT_TRUE(standin::readParameterBlock(parameters));
        return parameters;
    }

    const FillParameters stored{1, 2, 60, 40, 3};
    int keys[2] = {-1, -1};
    int screen[2] = {-1, -1};
};

bool sameBlock(const FillParameters& a, const FillParameters& b) {
    return a.sourceLeft == b.sourceLeft && a.sourceTop == b.sourceTop &&
           a.sourceRight == b.sourceRight && a.sourceBottom == b.sourceBottom &&
           a.patchRadius == b.patchRadius;
}

TEST_F(DialogStepTest, CancelAfterEditingRestoresTheBlockAndRequestsNothing) {
    for (const char* script : {"3=5 5=-5 7=2 cancel", "4=9"}) {
        SCOPED_TRACE(script);
        closeTerminal();
        standin::resetHost();
        openTerminal();
        type(script);
        standin::beginRun();
        ASSERT_EQ(standin::callSelector(selectorPrepare), resultSuccess);
        EXPECT_EQ(standin::callSelector(selectorStart), errCanceled);
        EXPECT_TRUE(sameBlock(block(), stored));
        EXPECT_EQ(standin::countCalls(HostCallKind::deliverBuffers), 0);
        standin::callSelector(selectorFinish);
        EXPECT_EQ(standin::lockedHandleCount(), 0);
    }
}

TEST_F(DialogStepTest, ConfirmedEditsAreFilledWithAndStoredCorrected) {
    // 70000 keeps its low 16 bits, 4464, which the check then brings back to the right edge.
    type("7=2 5=70000 3=-3 ok");
    const standin::FilterRunResult run = standin::runFilter(false);
    EXPECT_EQ(run.result, resultSuccess);
    EXPECT_TRUE(sameBlock(block(), FillParameters{0, 2, 64, 40, 2}));
    expectSelectionFilled(standin::outputBuffer());
}

TEST_F(DialogStepTest, AboutShowsTheAboutBoxOnly) {
    standin::beginRun();
    EXPECT_EQ(standin::callAbout(), resultSuccess);
    char shown[16] = {};
    ASSERT_EQ(read(screen[0], shown, sizeof shown), 5);
    EXPECT_EQ(std::string(shown), "about");
    EXPECT_TRUE(standin::hostCalls().empty());
}

} // namespace
} // namespace mendora::testing
