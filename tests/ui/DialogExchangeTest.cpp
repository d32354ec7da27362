#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/TestDlg.h"

namespace {

// Controls as a table of values; records every access and every report.
class FakeControls : public CExchangeControls {
public:
    int GetCheck(int id) override { return Read(id), checks[id]; }
    void SetCheck(int id, int state) override { Write(id), checks[id] = state; }
    int GetCurSel(int id) override { return Read(id), selections[id]; }
    void SetCurSel(int id, int index) override { Write(id), selections[id] = index; }
    std::string GetText(int id) override { return Read(id), texts[id]; }
    void SetText(int id, const char* text) override { Write(id), texts[id] = text; }
    void ReportError(const char* message) override { errors.push_back(message); }
    void FocusField(int id, bool edit) override
    {
        focusId = id;
        focusEdit = edit;
        ++focusCount;
    }

    std::map<int, int> checks;
    std::map<int, int> selections;
    std::map<int, std::string> texts;
    std::vector<int> reads;
    std::vector<int> writes;
    std::vector<std::string> errors;
    int focusId = 0;
    bool focusEdit = false;
    int focusCount = 0;

private:
    void Read(int id) { reads.push_back(id); }
    void Write(int id) { writes.push_back(id); }
};

// The dialog's exchange, reachable without a window.
class ExchangeDialog : public CTestDlg {
public:
    using CTestDlg::DoDataExchange;
};

// The order in which the seventeen fields are exchanged, in both directions.
const std::vector<int> kExchangeOrder = {
    1000, 1001, 1002, 1003, 1010, 1011, 1013, 1012, 1005, 1019, 1009, 1018, 1017, 1008, 1015, 1021, 1024,
};

// Controls showing the dialog's defaults, as after it opened.
FakeControls DefaultControls()
{
    ExchangeDialog dialog;
    FakeControls controls;
    CDataExchange load(&controls, FALSE);
    dialog.DoDataExchange(&load);
    controls.writes.clear();
    return controls;
}

struct SaveResult {
    bool accepted;
    std::vector<std::string> errors;
    int focusId;
    bool focusEdit;
    std::vector<int> reads;
};

SaveResult Save(ExchangeDialog& dialog, FakeControls& controls)
{
    CDataExchange save(&controls, TRUE);
    dialog.DoDataExchange(&save);
    return { !save.Failed(), controls.errors, controls.focusId, controls.focusEdit, controls.reads };
}

SaveResult SaveTexts(const char* interval, const char* hours, const char* minutes)
{
    FakeControls controls = DefaultControls();
    controls.texts[1017] = interval;
    controls.texts[1008] = hours;
    controls.texts[1015] = minutes;
    ExchangeDialog dialog;
    return Save(dialog, controls);
}

const std::string kNotANumber = "Please enter an unsigned integer.";

} // namespace

TEST(DialogExchange, LoadShowsTheDefaultsInTheControlsInExchangeOrder)
{
    ExchangeDialog dialog;
    FakeControls controls;
    CDataExchange load(&controls, FALSE);
    dialog.DoDataExchange(&load);

    EXPECT_FALSE(load.Failed());
    EXPECT_EQ(kExchangeOrder, controls.writes);
    EXPECT_TRUE(controls.reads.empty());
    const std::map<int, int> checks = {
        { 1000, 1 }, { 1001, 0 }, { 1002, 0 }, { 1003, 0 }, { 1019, 1 },
        { 1009, 0 }, { 1018, 0 }, { 1021, 1 }, { 1024, 1 },
    };
    EXPECT_EQ(checks, controls.checks);
    const std::map<int, int> selections = { { 1010, 8 }, { 1011, -1 }, { 1013, -1 }, { 1012, -1 }, { 1005, 0 } };
    EXPECT_EQ(selections, controls.selections);
    const std::map<int, std::string> texts = { { 1017, "10" }, { 1008, "0" }, { 1015, "10" } };
    EXPECT_EQ(texts, controls.texts);
    EXPECT_TRUE(controls.errors.empty());
}

TEST(DialogExchange, LoadDoesNotValidate)
{
    ExchangeDialog dialog;
    dialog.m_nHours = 99;
    dialog.m_nMinutes = 0;
    dialog.m_nLogInterval = 0;
    FakeControls controls;
    CDataExchange load(&controls, FALSE);
    dialog.DoDataExchange(&load);
    EXPECT_FALSE(load.Failed());
    EXPECT_TRUE(controls.errors.empty());
    EXPECT_EQ("99", controls.texts[1008]);
}

TEST(DialogExchange, SaveReadsEveryControlInExchangeOrder)
{
    FakeControls controls = DefaultControls();
    controls.checks[1001] = 1;
    controls.checks[1019] = 0;
    controls.checks[1024] = 0;
    controls.selections[1005] = 4;
    controls.selections[1010] = 2;
    controls.texts[1017] = "60";
    controls.texts[1008] = "24";
    controls.texts[1015] = "59";
    ExchangeDialog dialog;
    const SaveResult result = Save(dialog, controls);

    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(kExchangeOrder, result.reads);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(0, controls.focusCount);
    EXPECT_EQ(1, dialog.m_bTestMemory);
    EXPECT_EQ(0, dialog.m_bLogCpuLoad);
    EXPECT_EQ(0, dialog.m_bShowHistory);
    EXPECT_EQ(4, dialog.m_nThreadCount);
    EXPECT_EQ(2, dialog.m_nMemorySize);
    EXPECT_EQ(-1, dialog.m_nRenderTargetSize);
    EXPECT_EQ(60u, dialog.m_nLogInterval);
    EXPECT_EQ(24u, dialog.m_nHours);
    EXPECT_EQ(59u, dialog.m_nMinutes);
}

TEST(DialogExchange, RangeRulesAcceptTheirLimitsAndRefuseValuesOutsideThemPointingToTheField)
{
    struct Case {
        const char* interval;
        const char* hours;
        const char* minutes;
        const char* message;   // nullptr: accepted
        int field;
    };
    const Case cases[] = {
        { "10", "0", "10", nullptr, 0 },    // the defaults
        { "1", "0", "1", nullptr, 0 },      // shortest duration, shortest interval
        { "60", "24", "59", nullptr, 0 },   // longest duration, longest interval
        { "10", "1", "0", nullptr, 0 },     // whole hours
        { "10", "24", "0", nullptr, 0 },
        { "010", "00", "007", nullptr, 0 },
        { "10", "25", "0", "Please enter an integer between 0 and 24.", 1008 },
        { "10", "4294967295", "0", "Please enter an integer between 0 and 24.", 1008 },
        { "10", "0", "0", "Please enter an integer between 1 and 59.", 1015 },
        { "10", "0", "60", "Please enter an integer between 1 and 59.", 1015 },
        { "10", "1", "60", "Please enter an integer between 0 and 59.", 1015 },
        { "0", "0", "10", "Please enter an integer between 1 and 60.", 1017 },
        { "61", "0", "10", "Please enter an integer between 1 and 60.", 1017 },
    };
    for (const Case& c : cases) {
        const SaveResult result = SaveTexts(c.interval, c.hours, c.minutes);
        SCOPED_TRACE(std::string(c.interval) + " " + c.hours + " " + c.minutes);
        EXPECT_EQ(c.message == nullptr, result.accepted);
        // Range checks come after every field has been read.
        EXPECT_EQ(kExchangeOrder, result.reads);
        if (!c.message) {
            EXPECT_TRUE(result.errors.empty());
            continue;
        }
        ASSERT_EQ(1u, result.errors.size());
        EXPECT_EQ(c.message, result.errors[0]);
        EXPECT_EQ(c.field, result.focusId);
        EXPECT_TRUE(result.focusEdit);
    }
}

TEST(DialogExchange, TextThatIsNotANumberIsRefusedAtItsOwnStep)
{
    const char* badTexts[] = { "", "abc", "-1", "+5", " 1", "1 ", "4294967296" };
    const int fields[] = { 1017, 1008, 1015 };
    for (int field : fields) {
        for (const char* bad : badTexts) {
            FakeControls controls = DefaultControls();
            controls.texts[field] = bad;
            ExchangeDialog dialog;
            const SaveResult result = Save(dialog, controls);
            SCOPED_TRACE(std::to_string(field) + " \"" + bad + "\"");
            EXPECT_FALSE(result.accepted);
            ASSERT_EQ(1u, result.errors.size());
            EXPECT_EQ(kNotANumber, result.errors[0]);
            EXPECT_EQ(field, result.focusId);
            EXPECT_TRUE(result.focusEdit);
            // The exchange stopped at that field: nothing after it was read.
            ASSERT_FALSE(result.reads.empty());
            EXPECT_EQ(field, result.reads.back());
        }
    }
}

TEST(DialogExchange, OnlyTheFirstOfSeveralBadFieldsIsReported)
{
    struct Case {
        const char* interval;
        const char* hours;
        const char* minutes;
        const char* message;
        int field;
    };
    const Case cases[] = {
        // A text check comes before every range check.
        { "abc", "30", "10", "Please enter an unsigned integer.", 1017 },
        { "0", "30", "abc", "Please enter an unsigned integer.", 1015 },
        // The hours range check comes first, then minutes, then the interval.
        { "0", "30", "10", "Please enter an integer between 0 and 24.", 1008 },
        { "0", "0", "0", "Please enter an integer between 1 and 59.", 1015 },
        { "61", "1", "60", "Please enter an integer between 0 and 59.", 1015 },
        // Within the text checks: interval, hours, minutes.
        { "x", "y", "z", "Please enter an unsigned integer.", 1017 },
        { "10", "y", "z", "Please enter an unsigned integer.", 1008 },
    };
    for (const Case& c : cases) {
        const SaveResult result = SaveTexts(c.interval, c.hours, c.minutes);
        SCOPED_TRACE(std::string(c.interval) + " " + c.hours + " " + c.minutes);
        EXPECT_FALSE(result.accepted);
        ASSERT_EQ(1u, result.errors.size());
        EXPECT_EQ(c.message, result.errors[0]);
        EXPECT_EQ(c.field, result.focusId);
    }
}

TEST(DialogExchange, FieldsReadBeforeARefusalKeepTheirNewValues)
{
    FakeControls controls = DefaultControls();
    controls.checks[1001] = 1;
    controls.selections[1005] = 3;
    controls.checks[1019] = 0;
    controls.texts[1017] = "20";
    controls.texts[1008] = "soon";
    controls.texts[1015] = "30";
    controls.checks[1024] = 0;
    ExchangeDialog dialog;
    EXPECT_FALSE(Save(dialog, controls).accepted);
    EXPECT_EQ(1, dialog.m_bTestMemory);
    EXPECT_EQ(3, dialog.m_nThreadCount);
    EXPECT_EQ(0, dialog.m_bLogCpuLoad);
    EXPECT_EQ(20u, dialog.m_nLogInterval);
    // The refused field and everything after it keep their earlier values.
    EXPECT_EQ(0u, dialog.m_nHours);
    EXPECT_EQ(10u, dialog.m_nMinutes);
    EXPECT_EQ(1, dialog.m_bShowHistory);

    // A range refusal comes after every field was read: all keep the values just read.
    controls = DefaultControls();
    controls.texts[1008] = "30";
    controls.texts[1015] = "45";
    controls.texts[1017] = "99";
    ExchangeDialog ranged;
    EXPECT_FALSE(Save(ranged, controls).accepted);
    EXPECT_EQ(30u, ranged.m_nHours);
    EXPECT_EQ(45u, ranged.m_nMinutes);
    EXPECT_EQ(99u, ranged.m_nLogInterval);
}
