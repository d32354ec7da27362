#include <gtest/gtest.h>

#include "app/TestApp.h"
#include "support/TestDirectory.h"

TEST(EngineReal, StartsAndStops)
{
    TestDirectory dir;
    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = 4;
    engine.SetConfig(config);
    ASSERT_EQ(S_OK, engine.StartTest());
    Sleep(50);
    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_NE(std::string::npos, dir.ReadFile().find("Test Started --\r\n"));
}
