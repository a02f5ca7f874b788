// The stand-in host itself: loading, and the persistent handles it keeps for the plug-in
// across runs and reloads.
#include <gtest/gtest.h>

#include <string>

#include "tools/standin_host/standin_host.h"

namespace mendora::standin {
namespace {

TEST(StandinHostTest, ModulesThatCannotServeAreNotLoaded) {
    std::string error;
    EXPECT_FALSE(loadPlugin("no/such/Module.so", error));
    EXPECT_NE(error.find("no/such/Module.so"), std::string::npos) << error;
    EXPECT_FALSE(pluginLoaded());

    error.clear();
    EXPECT_FALSE(loadPlugin(NO_ENTRY_MODULE_PATH, error));
    EXPECT_NE(error.find("PluginMain"), std::string::npos) << error;
    EXPECT_FALSE(pluginLoaded());
    EXPECT_THROW(callSelector(selectorParameters), std::logic_error);
}

TEST(StandinHostTest, HandlesOutliveRunsAndReloads) {
    std::string error;
    ASSERT_TRUE(loadPlugin(ZENDREL_MODULE_PATH, error)) << error;
    resetHost();
    setImage(HostImage{20, 10, std::vector<uint8_t>(600, 128)});
    ASSERT_EQ(callSelector(selectorParameters), resultSuccess);
    const int32_t parameterId = parameterHandleId();
    const int32_t dataId = dataHandleId();
    ASSERT_NE(parameterId, 0);
    ASSERT_NE(dataId, 0);
    ASSERT_TRUE(writeParameterBlock(FillParameters{1, 2, 15, 8, 3}));

    // A later run in a reloaded module finds both handles and the stored values.
    unloadPlugin();
    ASSERT_TRUE(loadPlugin(ZENDREL_MODULE_PATH, error)) << error;
    beginRun();
    EXPECT_EQ(callSelector(selectorPrepare), resultSuccess);
    EXPECT_EQ(callSelector(selectorFinish), resultSuccess);
    EXPECT_EQ(countCalls(HostCallKind::newHandle), 0);
    EXPECT_EQ(parameterHandleId(), parameterId);
    EXPECT_EQ(dataHandleId(), dataId);
    EXPECT_EQ(lockedHandleCount(), 0);
    FillParameters block{};
    ASSERT_TRUE(readParameterBlock(block));
    EXPECT_EQ(block.sourceRight, 15);
    EXPECT_EQ(block.patchRadius, 3);
    unloadPlugin();
}

} // namespace
} // namespace mendora::standin
