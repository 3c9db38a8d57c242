#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "input/configuremanager.h"
#include "input/operationtable.h"
#include "tests/support/testsystem.h"
#include "tests/unit/input/tempfile.h"

namespace {

struct Record {
    uint32_t id;
    std::vector<uint32_t> keys;
    int32_t phoneX, phoneY, endX, endY, operationId;

    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
    out << "{id " << r.id << " keys";
    for (uint32_t k : r.keys)
        out << ' ' << k;
    return out << " at " << r.phoneX << ',' << r.phoneY << " end " << r.endX << ',' << r.endY << " op "
               << r.operationId << '}';
}

std::vector<Record> records(const OperationTable& table) {
    std::vector<Record> out;
    for (const auto& [keys, phone] : table.operations()) {
        out.push_back({keys.id, std::vector<uint32_t>(keys.keys, keys.keys + keys.keyCount), phone.phoneX,
                       phone.phoneY, phone.endX, phone.endY, phone.operationId});
    }
    return out;
}

std::vector<Record> parse(const std::string& text) {
    OperationTable table;
    ConfigureManager::readConfigText(text, table);
    return records(table);
}

// Points the process log at a temporary file for one test.
class LogCapture {
public:
    LogCapture() : file_("") { testsystem::setEnv("QX_LOG_FILE", file_.path().c_str()); }
    ~LogCapture() { testsystem::unsetEnv("QX_LOG_FILE"); }
    std::string text() const { return file_.read(); }

private:
    TempFile file_;
};

TEST(PcOperation, KeepsTwoKeysAscendingAndRefusesAThird) {
    PcOperation keys(0);
    EXPECT_TRUE(keys.AddOneKey(87));
    EXPECT_TRUE(keys.AddOneKey(68));
    EXPECT_FALSE(keys.AddOneKey(65));
    EXPECT_EQ(keys.keyCount, 2u);
    EXPECT_EQ(keys.keys[0], 68u);
    EXPECT_EQ(keys.keys[1], 87u);

    const uint32_t held[] = {68, 87};
    const uint32_t reversed[] = {87, 68};
    EXPECT_TRUE(keys.matches(held, 2));
    EXPECT_FALSE(keys.matches(reversed, 2));
    EXPECT_FALSE(keys.matches(held, 1));
    EXPECT_TRUE(PcOperation(1).matches(nullptr, 0));
}

struct FormatCase {
    const char* name;
    std::string text;
    std::vector<Record> expected;
};

std::string longLine(size_t length, const std::string& start) {
    return start + std::string(length - start.size(), ' ');
}

class KeymapFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(KeymapFormat, ReadsRecords) {
    EXPECT_EQ(parse(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeymapFormat,
    testing::Values(
        FormatCase{"TapRecord",
                   "GAMENAME: demo\n{\nAlias: fire\nKeycode: 87\nPhonex: 32768\nPhoney: 16384\n"
                   "Detal: 5\nDetat: 6\nDetar: 7\nDetab: 8\nOperationid: 100\n}\n",
                   {{0, {87}, 32768, 16384, 0, 0, 100}}},
        FormatCase{"SlideRecordWithCrLfAndNoFinalLineEnd",
                   "{\r\nKeycode: 68\r\nKeycode: 65\r\nPhonex: 1\r\nPhoney: 2\r\nEndx: 3\r\nEndy: -4\r\n"
                   "Operationid: 102\r\n}",
                   {{0, {65, 68}, 1, 2, 3, -4, 102}}},
        FormatCase{"OmittedFieldsAreZero", "{\n}\n", {{0, {}, 0, 0, 0, 0, 0}}},
        FormatCase{"EmptyFile", "", {}}, FormatCase{"OnlyAGameName", "GAMENAME: demo\n", {}},
        FormatCase{"UnclosedRecordIsDropped", "{\nPhonex: 1\n}\n{\nPhonex: 2\n", {{0, {}, 1, 0, 0, 0, 0}}},
        FormatCase{"SecondCloseAddsNothingButCounts",
                   "{\nPhonex: 1\n}\n}\n{\nPhonex: 2\n}\n",
                   {{0, {}, 1, 0, 0, 0, 0}, {2, {}, 2, 0, 0, 0, 0}}},
        FormatCase{"LinesBeforeTheFirstRecordAreIgnored",
                   "Keycode: 87\nPhonex: 9\n}\n{\nPhoney: 1\n}\n",
                   {{0, {}, 0, 1, 0, 0, 0}}},
        FormatCase{"FieldLinesAfterCloseChangeTheClosedRecord",
                   "{\nKeycode: 87\n}\nPhonex: 5\nKeycode: 68\n}\n",
                   {{0, {87}, 5, 0, 0, 0, 0}}},
        FormatCase{"SameCodeTwice", "{\nKeycode: 87\nKeycode: 87\n}\n", {{0, {87, 87}, 0, 0, 0, 0, 0}}},
        FormatCase{"KeysMustStandAlone",
                   "{\n Phonex:\t7 trailing words\nPhoney:8\nphonex: 9\n}\n",
                   {{0, {}, 7, 0, 0, 0, 0}}},
        FormatCase{"OpenMustStandAlone", "{\nPhonex: 1\n}\n{ \nPhonex: 2\n}\n", {{0, {}, 2, 0, 0, 0, 0}}},
        FormatCase{"CloseMustStandAlone", "{\nPhonex: 1\n }\n", {}},
        FormatCase{"BadValuesLeaveNoStaleNumber",
                   "{\nPhonex: 5\nPhoney: abc\nEndx:\nEndy: -\nOperationid: 2147483648\nKeycode: x\n}\n",
                   {{0, {}, 5, 0, 0, 0, 0}}},
        FormatCase{"SignsAndNumberPrefixes",
                   "{\nPhonex: +12\nPhoney: -7\nEndx: 40abc\nEndy: +-3\nOperationid: -2147483648\n}\n",
                   {{0, {}, 12, -7, 40, 0, INT32_MIN}}},
        FormatCase{"OverlongTokenIsIgnored",
                   "{\nPhonex: " + std::string(98, '0') + "7\nPhoney: " + std::string(99, '0') + "5\n}\n",
                   {{0, {}, 7, 0, 0, 0, 0}}},
        FormatCase{"LongestLineIsRead",
                   "{\n" + longLine(999, "Phonex: 3") + "\n" + longLine(999, "Phoney: 4") + "\r\n}\n",
                   {{0, {}, 3, 4, 0, 0, 0}}},
        FormatCase{"OverlongLineEndsTheFile",
                   "{\nPhonex: 1\n}\n{\n" + longLine(1000, "Phonex: 2") + "\n}\n",
                   {{0, {}, 1, 0, 0, 0, 0}}}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(ConfigureManager, RefusesAThirdKeyAndLogsIt) {
    LogCapture log;
    OperationTable table;
    ConfigureManager::readConfigText("{\nKeycode: 87\nKeycode: 68\nKeycode: 65\n}\n", table);
    EXPECT_EQ(records(table), (std::vector<Record>{{0, {68, 87}, 0, 0, 0, 0, 0}}));
    EXPECT_FALSE(table.setKeyState(65, false)) << "the refused code is not registered";
    EXPECT_NE(log.text().find("USER AddOneKey 65 failed\n"), std::string::npos) << log.text();
}

TEST(ConfigureManager, RegistersNamedKeysOnly) {
    OperationTable table;
    // A key on a field line after "}" is registered though the closed record keeps its keys.
    ConfigureManager::readConfigText("{\nKeycode: 87\n}\nKeycode: 68\nKeycode: 300\n", table);
    EXPECT_TRUE(table.setKeyState(87, false));
    EXPECT_TRUE(table.setKeyState(68, false));
    EXPECT_FALSE(table.setKeyState(65, false));
    EXPECT_FALSE(table.setKeyState(300, true)) << "codes above 256 are never held";
}

TEST(ConfigureManager, ReadsTheFileNamedByTheEnvironment) {
    TempFile file("{\nKeycode: 87\nPhonex: 1\nOperationid: 100\n}\n");
    testsystem::setEnv("QX_KEYMAP_FILE", file.path().c_str());
    OperationTable table;
    ConfigureManager::readConfigTwo(table);
    testsystem::unsetEnv("QX_KEYMAP_FILE");
    EXPECT_EQ(records(table), (std::vector<Record>{{0, {87}, 1, 0, 0, 0, 100}}));
}

TEST(ConfigureManager, MissingFileLeavesTheTableAndLogs) {
    LogCapture log;
    testsystem::setEnv("QX_KEYMAP_FILE", "/nonexistent/keymap.txt");
    OperationTable table;
    ConfigureManager::readConfigText("{\n}\n", table);
    ConfigureManager::readConfigTwo(table);
    testsystem::unsetEnv("QX_KEYMAP_FILE");
    EXPECT_EQ(records(table).size(), 1u);
    EXPECT_NE(log.text().find("USER ConfigureManager::readConfigTwo open config file failed line "),
              std::string::npos)
        << log.text();
}

// The lookup, on the worked file of two records that share the W key.
class KeyLookup : public testing::Test {
protected:
    void SetUp() override {
        ConfigureManager::readConfigText(
            "{\nKeycode: 87\nPhonex: 1\n}\n{\nKeycode: 68\nKeycode: 87\nPhonex: 2\n}\n"
            "{\nKeycode: 87\nPhonex: 3\n}\n{\nKeycode: 65\nKeycode: 300\nPhonex: 4\n}\n",
            table_);
    }
    int32_t found() {
        const PhoneOperation* op = table_.findOperation();
        return op ? op->phoneX : -1;
    }
    OperationTable table_;
};

TEST_F(KeyLookup, FindsTheFirstRecordWithExactlyTheHeldKeys) {
    EXPECT_EQ(found(), -1) << "no record has an empty key set";
    table_.setKeyState(87, true);
    EXPECT_EQ(found(), 1) << "the earlier of two records with the same keys";
    table_.setKeyState(68, true);
    EXPECT_EQ(found(), 2);
    table_.setKeyState(87, false);
    EXPECT_EQ(found(), -1);
    table_.setKeyState(65, true);
    EXPECT_EQ(found(), -1) << "a record naming a code above 256 never matches";
}

TEST_F(KeyLookup, ThreeHeldKeysMatchNothing) {
    for (uint32_t code : {65u, 68u, 87u})
        EXPECT_TRUE(table_.setKeyState(code, true));
    EXPECT_EQ(found(), -1);
    table_.setKeyState(65, false);
    EXPECT_EQ(found(), 2);
}

TEST_F(KeyLookup, RepeatedKeyDownKeepsTheKeyHeld) {
    EXPECT_TRUE(table_.setKeyState(87, true));
    EXPECT_TRUE(table_.setKeyState(87, true));
    EXPECT_TRUE(table_.setKeyState(87, false));
    EXPECT_EQ(found(), -1);
}

}  // namespace
