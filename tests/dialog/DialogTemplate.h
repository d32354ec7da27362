#pragma once
#include <windows.h>

#include <string>
#include <vector>

// An extended dialog template (DLGTEMPLATEEX) read back from the resources.
struct TemplateItem {
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
    int id;
    std::string className;   // predefined classes by name ("Button", ...)
    std::string text;
};

struct DialogTemplate {
    bool valid = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::string caption;
    int pointSize = 0;
    int weight = 0;
    int italic = 0;
    int charset = 0;
    std::string typeface;
    std::vector<TemplateItem> items;
};

// Reads the template resource with this id from this program; valid is false
// when it is missing or not an extended template.
DialogTemplate LoadDialogTemplate(int id);
