#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A dialog's initialisation data (resource type 240, same id as the template):
// strings to add to its lists when the dialog opens. Each entry is a WORD
// control id, a WORD message in 16-bit numbering (0x0401 list box add-string,
// 0x0403 combo box add-string), a DWORD byte length and that many bytes of
// NUL-terminated text; a WORD 0 ends the data.
const WORD kDlgInitResourceType = 240;

struct DlgInitItem {
    int controlId;
    UINT message;   // the 32-bit message to send: LB_ADDSTRING or CB_ADDSTRING
    std::string text;
};

// Parses the data into items. Returns false, with no items, for data that is
// cut short, lacks its end mark, has an unknown message or an unterminated text.
bool ParseDlgInit(const void* data, size_t size, std::vector<DlgInitItem>* items);
