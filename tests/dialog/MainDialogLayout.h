#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

// Dialog template 102 as the program must show it: every control in template
// (tab) order with its id, window class, text, position in dialog units,
// styles and enabled state.
struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, cx, cy;
    DWORD style;
};

namespace layout {

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kGroupBox = kChild | BS_GROUPBOX;
const DWORD kCheck = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
const DWORD kDropList = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DWORD kEdit = kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD kUpDown = kChild | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
const DWORD kListBox = kChild | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD kDefButton = kChild | BS_DEFPUSHBUTTON | WS_TABSTOP;
const DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kOff = WS_DISABLED;

} // namespace layout

const ExpectedControl kExpectedControls[] = {
    { -1, "Button", "Tested Components", 5, 5, 310, 90, layout::kGroupBox },
    { 1000, "Button", "Central Processing Unit(s)", 10, 15, 97, 10, layout::kCheck | layout::kOff },
    { -1, "Static", "Number of Test Threads", 125, 15, 78, 8, layout::kLabel },
    { 1005, "ComboBox", "", 235, 15, 75, 85, layout::kDropList },
    { 1001, "Button", "System Memory", 10, 30, 65, 10, layout::kCheck },
    { -1, "Static", "Allocated RAM Size, MB", 125, 30, 78, 8, layout::kLabel },
    { 1010, "ComboBox", "", 235, 30, 75, 85, layout::kDropList },
    { 1002, "Button", "Video Processing Unit", 10, 45, 85, 10, layout::kCheck | layout::kOff },
    { -1, "Static", "Render Target Size", 125, 45, 62, 8, layout::kLabel | layout::kOff },
    { 1011, "ComboBox", "", 235, 45, 75, 85, layout::kDropList | layout::kOff },
    { 1003, "Button", "Video Memory", 10, 60, 61, 10, layout::kCheck | layout::kOff },
    { -1, "Static", "Number of Textures", 125, 60, 63, 8, layout::kLabel | layout::kOff },
    { 1012, "ComboBox", "", 235, 60, 75, 85, layout::kDropList | layout::kOff },
    { -1, "Static", "Texture Size", 125, 75, 40, 8, layout::kLabel | layout::kOff },
    { 1013, "ComboBox", "", 235, 75, 75, 85, layout::kDropList | layout::kOff },
    { -1, "Button", "Test Options", 5, 95, 310, 70, layout::kGroupBox },
    { -1, "Static", "Test Duration", 10, 105, 44, 8, layout::kLabel },
    { 1008, "Edit", "", 120, 105, 40, 12, layout::kEdit },
    { 1007, "msctls_updown32", "Spin1", 160, 105, 10, 12, layout::kUpDown },
    { -1, "Static", "hours", 180, 105, 18, 8, layout::kLabel },
    { 1015, "Edit", "", 225, 105, 40, 12, layout::kEdit },
    { 1014, "msctls_updown32", "Spin1", 265, 105, 10, 12, layout::kUpDown },
    { -1, "Static", "minutes", 285, 105, 25, 8, layout::kLabel },
    { -1, "Static", "Log Interval", 10, 120, 38, 8, layout::kLabel },
    { 1017, "Edit", "", 120, 120, 40, 12, layout::kEdit },
    { 1016, "msctls_updown32", "Spin1", 160, 120, 10, 12, layout::kUpDown },
    { -1, "Static", "seconds", 180, 120, 28, 8, layout::kLabel },
    { -1, "Static", "Logging Options", 10, 135, 52, 8, layout::kLabel },
    { 1021, "Button", "CPU Frequency", 10, 150, 66, 10, layout::kCheck | layout::kOff },
    { 1019, "Button", "CPU Load", 85, 150, 49, 10, layout::kCheck },
    { 1009, "Button", "CPU Temperature", 160, 150, 70, 10, layout::kCheck | layout::kOff },
    { 1018, "Button", "VPU Temperature", 240, 150, 70, 10, layout::kCheck | layout::kOff },
    { -1, "Button", "Test Log", 5, 165, 310, 115, layout::kGroupBox },
    { 1023, "ListBox", "", 10, 175, 300, 100, layout::kListBox },
    { 1024, "Button", "Show Info on Previous Test Runs", 5, 285, 125, 10, layout::kCheck },
    { 1020, "Button", "Run Test", 210, 285, 50, 15, layout::kDefButton },
    { IDCANCEL, "Button", "Cancel", 265, 285, 50, 15, layout::kButton },
};

const int kExpectedControlCount = sizeof kExpectedControls / sizeof kExpectedControls[0];

// The drop-down lists and their items in order.
struct ExpectedList {
    int id;
    std::vector<std::string> items;
};

const ExpectedList kExpectedLists[] = {
    { 1005, { "1", "2", "4", "8", "16" } },
    { 1010, { "16", "32", "48", "64", "96", "128", "192", "256", "MAX" } },
    { 1011, { "512x384", "640x480", "800x600", "1024x768", "1152x864", "1280x960", "1280x1024", "1600x1200" } },
    { 1012, { "1", "2", "3", "4", "5", "6", "7", "8" } },
    { 1013, { "16x16", "32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024", "2048x2048" } },
};
