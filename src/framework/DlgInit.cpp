#include "framework/DlgInit.h"

#include <cstring>

namespace {

const WORD kWin16ListAddString = 0x0401;
const WORD kWin16ComboAddString = 0x0403;

WORD ReadWord(const unsigned char* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

DWORD ReadDword(const unsigned char* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

} // namespace

bool ParseDlgInit(const void* data, size_t size, std::vector<DlgInitItem>* items)
{
    items->clear();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    std::vector<DlgInitItem> parsed;
    for (;;) {
        if (end - p < 2)
            return false;
        const WORD id = ReadWord(p);
        if (id == 0)
            break;
        if (end - p < 8)
            return false;
        const WORD message = ReadWord(p + 2);
        const DWORD length = ReadDword(p + 4);
        p += 8;
        if (length == 0 || length > static_cast<size_t>(end - p))
            return false;
        const unsigned char* text = p;
        if (text[length - 1] != '\0' || std::memchr(text, '\0', length) != text + length - 1)
            return false;
        DlgInitItem item;
        item.controlId = id;
        if (message == kWin16ListAddString)
            item.message = LB_ADDSTRING;
        else if (message == kWin16ComboAddString)
            item.message = CB_ADDSTRING;
        else
            return false;
        item.text.assign(reinterpret_cast<const char*>(text), length - 1);
        parsed.push_back(item);
        p += length;
    }
    items->swap(parsed);
    return true;
}
