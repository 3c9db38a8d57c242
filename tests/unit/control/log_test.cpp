#include "control/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/testsystem.h"
#include "tests/unit/control/testlog.h"

TEST(LogWrite, LabelsEachLevelBySeverityAndFacility) {
    struct Case {
        int level;
        const char* labels;
    } cases[] = {
        {LOG_USER_INFO, " INFO USER msg"},
        {LOG_USER_ERROR, " ERROR USER msg"},
        {LOG_SYSTEM_ERROR, " ERROR SYSTEM msg"},
        {LOG_SYSTEM_INFO, " INFO SYSTEM msg"},
        {LOG_USER_WARNING, " WARNING USER msg"},
        {LOG_USER_DEBUG, " DEBUG USER msg"},
        {6, " INFO UNKNOWN msg"},
        {0, " EMERG UNKNOWN msg"},
        {int{FAC_USER} | SEV_ALERT, " ALERT USER msg"},
        {int{FAC_USER} + SEV_CRIT, " CRIT USER msg"},
        {int{FAC_SYSTEM} + SEV_NOTICE, " NOTICE SYSTEM msg"},
        {64 + SEV_ERROR, " ERROR UNKNOWN msg"},
    };
    for (const Case& c : cases) {
        TestLog log;
        EXPECT_EQ(0, log_write(c.level, "%s", "msg"));
        EXPECT_NE(std::string::npos, log.text().find(std::string(c.labels) + "\n"))
            << c.level << ": " << log.text();
    }
}

TEST(LogWrite, LineIsTimestampLabelsAndMessage) {
    TestLog log;
    log_write(LOG_USER_INFO, "%s Listen on %s:%d success", "qx_main", "127.0.0.1", 30003);
    std::regex line(
        R"(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{3} INFO USER qx_main Listen on 127\.0\.0\.1:30003 success\n)");
    EXPECT_TRUE(std::regex_match(log.text(), line)) << log.text();
}

TEST(LogWrite, AppendsToEarlierContent) {
    TestLog log;
    {
        std::ofstream earlier(log.path());
        earlier << "from an earlier run\n";
    }
    log_write(LOG_USER_INFO, "first");
    log_write(LOG_USER_INFO, "second");
    const std::string text = log.text();
    EXPECT_EQ(0u, text.find("from an earlier run\n"));
    EXPECT_LT(text.find("first\n"), text.find("second\n"));
    EXPECT_EQ(3, std::count(text.begin(), text.end(), '\n'));
}

TEST(LogWrite, UnopenableFileReturnsMinusTwo) {
    testsystem::setEnv("QX_LOG_FILE", "/nonexistent-dir/qx.log");
    EXPECT_EQ(-2, log_write(LOG_USER_ERROR, "%s lost", "Test"));
}

TEST(LogWrite, OverlongMessageIsCutToOneLine) {
    TestLog log;
    const std::string huge(5000, 'x');
    EXPECT_EQ(0, log_write(LOG_USER_INFO, "%s", huge.c_str()));
    const std::string text = log.text();
    ASSERT_EQ(2048u, text.size());  // 2047 characters and the newline
    EXPECT_EQ('\n', text.back());
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));
}
