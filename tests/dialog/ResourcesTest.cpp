#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DialogTemplate.h"
#include "MainDialogLayout.h"
#include "framework/DlgInit.h"

namespace {

std::string ResourceBytes(LPCSTR name, LPCSTR type)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, name, type);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(module, resource)) : std::string();
}

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int CountResources(LPCSTR type)
{
    int count = 0;
    EnumResourceNamesA(GetModuleHandleA(nullptr), type, &CountName, reinterpret_cast<LONG_PTR>(&count));
    return count;
}

} // namespace

TEST(DialogTemplate, HasTheCaptionSizeFontAndStyles)
{
    const DialogTemplate t = LoadDialogTemplate(102);
    ASSERT_TRUE(t.valid);
    EXPECT_EQ("Burnwright", t.caption);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(320, t.cx);
    EXPECT_EQ(305, t.cy);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                 DS_MODALFRAME | DS_SETFONT),
              t.style);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), t.exStyle);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_EQ("MS Sans Serif", t.typeface);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ(0, t.weight);
    EXPECT_EQ(0, t.italic);
    EXPECT_EQ(DEFAULT_CHARSET, t.charset);
}

TEST(DialogTemplate, HasEveryControlInTabOrderWithItsStyles)
{
    const DialogTemplate t = LoadDialogTemplate(102);
    ASSERT_TRUE(t.valid);
    ASSERT_EQ(static_cast<size_t>(kExpectedControlCount), t.items.size());
    for (int i = 0; i < kExpectedControlCount; ++i) {
        const ExpectedControl& want = kExpectedControls[i];
        const TemplateItem& got = t.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " \"" + want.text + "\"");
        EXPECT_EQ(want.id, got.id);
        EXPECT_STRCASEEQ(want.className, got.className.c_str());
        EXPECT_EQ(want.text, got.text);
        EXPECT_EQ(want.x, got.x);
        EXPECT_EQ(want.y, got.y);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
        EXPECT_EQ(want.style, got.style) << std::hex << (want.style ^ got.style);
        EXPECT_EQ(0u, got.exStyle);
    }
}

TEST(DialogResources, InitialisationDataFillsTheFiveListsInOrder)
{
    const std::string data = ResourceBytes(MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(kDlgInitResourceType));
    ASSERT_FALSE(data.empty());
    std::vector<DlgInitItem> items;
    ASSERT_TRUE(ParseDlgInit(data.data(), data.size(), &items));

    std::vector<std::pair<int, std::string>> got;
    for (const DlgInitItem& item : items) {
        EXPECT_EQ(static_cast<UINT>(CB_ADDSTRING), item.message) << item.text;
        got.emplace_back(item.controlId, item.text);
    }
    std::vector<std::pair<int, std::string>> want;
    for (const ExpectedList& list : kExpectedLists) {
        for (const std::string& text : list.items)
            want.emplace_back(list.id, text);
    }
    EXPECT_EQ(want, got);
}

TEST(DialogResources, IconGroupHasNineImages)
{
    const std::string group = ResourceBytes(MAKEINTRESOURCEA(128), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    const BYTE* p = reinterpret_cast<const BYTE*>(group.data());
    const int count = p[4] | (p[5] << 8);
    ASSERT_EQ(9, count);
    ASSERT_EQ(6u + 14u * count, group.size());

    std::set<std::pair<int, int>> images;
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = p + 6 + 14 * i;
        const int size = entry[0];
        const int bits = entry[6] | (entry[7] << 8);
        const int id = entry[12] | (entry[13] << 8);
        EXPECT_EQ(size, entry[1]);
        images.emplace(size, bits);

        // Every image loads as an icon of its size.
        std::string bytes = ResourceBytes(MAKEINTRESOURCEA(id), RT_ICON);
        ASSERT_FALSE(bytes.empty());
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&bytes[0]),
                                              static_cast<DWORD>(bytes.size()), TRUE, 0x00030000,
                                              size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(nullptr, icon) << size << "x" << size << " " << bits << " bits";
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP mask;
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(size, mask.bmWidth);
        DeleteObject(info.hbmMask);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DestroyIcon(icon);
    }
    const std::set<std::pair<int, int>> want = {
        { 48, 4 }, { 48, 8 }, { 48, 24 }, { 32, 4 }, { 32, 8 }, { 32, 24 }, { 16, 4 }, { 16, 8 }, { 16, 24 },
    };
    EXPECT_EQ(want, images);
}

TEST(DialogResources, ManifestAsksForCommonControlsSix)
{
    const std::string manifest = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));   // RT_MANIFEST
    ASSERT_FALSE(manifest.empty());
    const size_t dependency = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(std::string::npos, dependency);
    const std::string identity = manifest.substr(manifest.rfind('<', dependency),
                                                 manifest.find("/>", dependency) - manifest.rfind('<', dependency));
    EXPECT_NE(std::string::npos, identity.find("version=\"6.0.0.0\""));
#ifdef _WIN64
    EXPECT_NE(std::string::npos, identity.find("processorArchitecture=\"amd64\""));
#else
    EXPECT_NE(std::string::npos, identity.find("processorArchitecture=\"X86\""));
#endif
    EXPECT_NE(std::string::npos, identity.find("publicKeyToken=\"6595b64144ccf1df\""));
}

TEST(DialogResources, VersionRecordAndNoStringTable)
{
    const std::string version = ResourceBytes(MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_GT(version.size(), 40u);
    const DWORD signature = 0xFEEF04BD;
    EXPECT_NE(std::string::npos, version.find(std::string(reinterpret_cast<const char*>(&signature), 4)));
    EXPECT_EQ(0, CountResources(RT_STRING));
    EXPECT_EQ(1, CountResources(RT_DIALOG));
}
