#include <gtest/gtest.h>

#include <string>

#include "framework/AfxWin.h"
#include "framework/DlgInit.h"

// --- Unsigned number text -------------------------------------------------

TEST(UnsignedText, AcceptsPlainDecimalDigits)
{
    struct Case {
        const char* text;
        UINT value;
    };
    const Case cases[] = {
        { "0", 0u }, { "7", 7u }, { "24", 24u }, { "007", 7u }, { "0000000000060", 60u },
        { "4294967295", 4294967295u },
    };
    for (const Case& c : cases) {
        UINT value = 12345;
        EXPECT_TRUE(AfxParseUInt(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST(UnsignedText, RefusesAnythingElseAndKeepsTheValue)
{
    const char* refused[] = {
        "", "+5", "-1", "-0", "1 ", " 1", "1 2", "abc", "1a", "0x10", "1.0", "1,000", "\t3",
        "4294967296", "99999999999999999999",
    };
    for (const char* text : refused) {
        UINT value = 12345;
        EXPECT_FALSE(AfxParseUInt(text, &value)) << '"' << text << '"';
        EXPECT_EQ(12345u, value) << '"' << text << '"';
    }
    UINT value = 1;
    EXPECT_FALSE(AfxParseUInt(nullptr, &value));
}

TEST(UnsignedText, RangeMessageNamesTheRange)
{
    EXPECT_EQ("Please enter an integer between 0 and 24.", AfxRangeMessage(0, 24));
    EXPECT_EQ("Please enter an integer between 1 and 59.", AfxRangeMessage(1, 59));
    EXPECT_STREQ("Please enter an unsigned integer.", kAfxParseUIntMessage);
}

// --- Strings and the application title --------------------------------------

TEST(FrameworkString, FormatGrowsBeyondItsFirstBuffer)
{
    const std::string word(300, 'x');
    CString text;
    text.Format("[%s|%d]", word.c_str(), 42);
    EXPECT_EQ("[" + word + "|42]", std::string(text));
    EXPECT_EQ(static_cast<int>(word.size()) + 5, text.GetLength());
}

TEST(FrameworkString, FormatsStatusCodesAsEightUppercaseHexDigits)
{
    CString text;
    text.Format("Error %08X", static_cast<unsigned>(E_OUTOFMEMORY));
    EXPECT_STREQ("Error 8007000E", text);
    text.Format("Error %08X", 0x10u);
    EXPECT_STREQ("Error 00000010", text);
}

TEST(ApplicationTitle, IsTheFileNameWithoutItsExtension)
{
    EXPECT_EQ("Burnwright", AfxTitleFromModulePath("C:\\Program Files\\Burnwright\\Burnwright.exe"));
    EXPECT_EQ("Renamed", AfxTitleFromModulePath("Z:\\tmp\\a.b\\Renamed.exe"));
    EXPECT_EQ("my.tool", AfxTitleFromModulePath("C:\\x\\my.tool.exe"));
    EXPECT_EQ("NoExtension", AfxTitleFromModulePath("C:\\x.y\\NoExtension"));
    EXPECT_EQ("Burnwright", AfxTitleFromModulePath("Burnwright.exe"));
    EXPECT_EQ("Burnwright", AfxTitleFromModulePath("/unix/style/Burnwright.exe"));
}

TEST(ApplicationTitle, DefaultsToThisProgramsName)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_EQ(AfxTitleFromModulePath(path), AfxGetAppName());
    EXPECT_STREQ("ui_tests", AfxGetAppName());
}

// --- Dialog initialisation data ---------------------------------------------

namespace {

std::string Entry(WORD id, WORD message, const std::string& textWithNul)
{
    std::string bytes;
    bytes += static_cast<char>(id & 0xFF);
    bytes += static_cast<char>(id >> 8);
    bytes += static_cast<char>(message & 0xFF);
    bytes += static_cast<char>(message >> 8);
    const DWORD length = static_cast<DWORD>(textWithNul.size());
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes + textWithNul;
}

const std::string kEnd("\0\0", 2);

bool Parse(const std::string& bytes, std::vector<DlgInitItem>* items)
{
    return ParseDlgInit(bytes.data(), bytes.size(), items);
}

} // namespace

TEST(DlgInitData, YieldsItemsInOrderWithTheirMessages)
{
    const std::string data = Entry(1005, 0x0403, std::string("16\0", 3)) +
                             Entry(1005, 0x0403, std::string("1\0", 2)) +
                             Entry(1023, 0x0401, std::string("line\0", 5)) + kEnd;
    std::vector<DlgInitItem> items;
    ASSERT_TRUE(Parse(data, &items));
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(1005, items[0].controlId);
    EXPECT_EQ(static_cast<UINT>(CB_ADDSTRING), items[0].message);
    EXPECT_EQ("16", items[0].text);
    EXPECT_EQ("1", items[1].text);
    EXPECT_EQ(1023, items[2].controlId);
    EXPECT_EQ(static_cast<UINT>(LB_ADDSTRING), items[2].message);
    EXPECT_EQ("line", items[2].text);
}

TEST(DlgInitData, EmptyDataWithItsEndMarkHasNoItems)
{
    std::vector<DlgInitItem> items;
    EXPECT_TRUE(Parse(kEnd, &items));
    EXPECT_TRUE(items.empty());
}

TEST(DlgInitData, RefusesMalformedDataWithoutPartialItems)
{
    const std::string good = Entry(1005, 0x0403, std::string("1\0", 2));
    const std::string cases[] = {
        std::string(),                                               // nothing at all
        good,                                                        // no end mark
        good + std::string("\0", 1),                                 // half an end mark
        good.substr(0, 6),                                           // cut inside a header
        good + Entry(1005, 0x0403, std::string("abc\0", 4)).substr(0, 10),  // cut inside a text
        good + Entry(1005, 0x0403, std::string("ab", 2)) + kEnd,     // text without its NUL
        good + Entry(1005, 0x0403, std::string("a\0b\0", 4)) + kEnd, // NUL inside the text
        good + Entry(1005, 0x0403, std::string()) + kEnd,            // empty entry
        good + Entry(1005, 0x1234, std::string("x\0", 2)) + kEnd,    // unknown message
    };
    for (const std::string& data : cases) {
        std::vector<DlgInitItem> items(1);
        EXPECT_FALSE(Parse(data, &items)) << data.size() << " bytes";
        EXPECT_TRUE(items.empty());
    }
}

TEST(DlgInitData, RefusesALengthBeyondTheData)
{
    std::string data = Entry(1005, 0x0403, std::string("1\0", 2)) + kEnd;
    data[4] = static_cast<char>(0xFF);   // length 0x000000FF
    std::vector<DlgInitItem> items;
    EXPECT_FALSE(Parse(data, &items));
    data[4] = 0;
    data[7] = static_cast<char>(0x80);   // length with the top bit set
    EXPECT_FALSE(Parse(data, &items));
}
