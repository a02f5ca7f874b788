// The product module's dialogs as a host sees them: the region dialog and the about box run
// on the host's terminal (a pipe of typed keys, drawing to /dev/null) inside the start and
// about steps of the real Zendrel module.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/standin_host/standin_host.h"

namespace mendora::standin {
namespace {

class ZendrelDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(loadPlugin(ZENDREL_MODULE_PATH, error)) << error;
        resetHost();
        const int32_t w = 40;
        const int32_t h = 30;
        HostImage image{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
        for (size_t i = 0; i < image.pixels.size(); i++)
            image.pixels[i] = static_cast<uint8_t>((i * 37) % 251);
        setImage(image);
        std::vector<uint8_t> mask(static_cast<size_t>(w) * h, 0);
        for (int32_t y = 12; y < 16; y++)
            for (int32_t x = 18; x < 22; x++)
                mask[static_cast<size_t>(y) * w + x] = 1;
        setSelection(mask);
    }

    void TearDown() override {
        for (int fd : {keys[0], keys[1], screen})
            if (fd >= 0)
                close(fd);
        unloadPlugin();
    }

    // The host's terminal: `typed` and then the end of the input.
    void typeIntoTerminal(const std::string& typed) {
        ASSERT_EQ(pipe(keys), 0);
        ASSERT_EQ(write(keys[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        close(keys[1]);
        keys[1] = -1;
        screen = open("/dev/null", O_WRONLY);
        hostSettings().parentWindow = VlmrParentWindow{keys[0], screen};
    }

    static FillParameters block() {
        FillParameters parameters{};
        EXPECT_TRUE(readParameterBlock(parameters));
        return parameters;
    }

    int keys[2] = {-1, -1};
    int screen = -1;
};

bool sameBlock(const FillParameters& a, const FillParameters& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(ZendrelDialogs, EscapeAfterEditingRestoresTheBlockAndCancels) {
    typeIntoTerminal("7\t8\t-5\x1b");
    beginRun();
    ASSERT_EQ(callSelector(selectorParameters), resultSuccess);
    const FillParameters defaults = block();
    EXPECT_TRUE(sameBlock(defaults, FillParameters{0, 0, 40, 30, 4}));
    ASSERT_EQ(callSelector(selectorPrepare), resultSuccess);
    EXPECT_EQ(callSelector(selectorStart), errCanceled);
    EXPECT_TRUE(sameBlock(block(), defaults));
    EXPECT_EQ(countCalls(HostCallKind::deliverBuffers), 0);
    callSelector(selectorFinish);
}

TEST_F(ZendrelDialogs, WithoutATerminalTheRunIsCanceled) {
    const FilterRunResult run = runFilter(true);
    EXPECT_EQ(run.startResult, errCanceled);
    EXPECT_EQ(countCalls(HostCallKind::deliverBuffers), 0);
}

TEST_F(ZendrelDialogs, ConfirmedValuesAreFilledWithAndStoredCorrected) {
    // Box 5 (sourceRight) gets -5, box 7 (patchRadius) 2; Enter confirms.
    typeIntoTerminal("\t\t-5\t\t2\r");
    const FilterRunResult run = runFilter(true);
    EXPECT_EQ(run.result, resultSuccess);
    EXPECT_EQ(countCalls(HostCallKind::deliverBuffers), 1);
    // The parameter check brought -5 back to the right edge; the radius stays.
    EXPECT_TRUE(sameBlock(block(), FillParameters{0, 0, 40, 30, 2}));
    EXPECT_NE(outputBuffer(), deliveredOutputBuffer());
}

TEST_F(ZendrelDialogs, AboutBoxHandsAddressesToTheHostAndReleasesTheSuiteAtUnload) {
    typeIntoTerminal(" \t \x1b");
    EXPECT_EQ(callAbout(), resultSuccess);
    std::vector<std::string> addresses;
    for (const HostCall& call : hostCalls())
        if (call.kind == HostCallKind::browseUrl)
            addresses.push_back(call.text);
    EXPECT_EQ(addresses, (std::vector<std::string>{"http://www.mendora.example",
                                                   "http://www.aldermoor.example"}));
    EXPECT_EQ(countCalls(HostCallKind::acquireSuite), 1);
    EXPECT_EQ(countCalls(HostCallKind::releaseSuite), 0);
    unloadPlugin();
    EXPECT_EQ(countCalls(HostCallKind::releaseSuite), 1);
}

} // namespace
} // namespace mendora::standin
