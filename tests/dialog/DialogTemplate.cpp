#include "DialogTemplate.h"

namespace {

class Reader {
public:
    Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    WORD Word()
    {
        if (!Need(2))
            return 0;
        const WORD value = static_cast<WORD>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }
    DWORD Dword()
    {
        const DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte()
    {
        if (!Need(1))
            return 0;
        return data_[pos_++];
    }
    std::string WideString()
    {
        std::string text;
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }
    // A string or an ordinal; ordinals come back as "#n".
    std::string NameOrOrdinal()
    {
        if (!Need(2))
            return std::string();
        const WORD first = static_cast<WORD>(data_[pos_] | (data_[pos_ + 1] << 8));
        if (first == 0xFFFF) {
            pos_ += 2;
            return "#" + std::to_string(Word());
        }
        return WideString();
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t bytes)
    {
        if (Need(bytes))
            pos_ += bytes;
    }

private:
    bool Need(size_t bytes)
    {
        if (pos_ + bytes > size_)
            ok_ = false;
        return ok_;
    }
    const BYTE* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::string PredefinedClass(const std::string& name)
{
    if (name == "#128") return "Button";
    if (name == "#129") return "Edit";
    if (name == "#130") return "Static";
    if (name == "#131") return "ListBox";
    if (name == "#132") return "ScrollBar";
    if (name == "#133") return "ComboBox";
    return name;
}

} // namespace

DialogTemplate LoadDialogTemplate(int id)
{
    DialogTemplate result;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));   // RT_DIALOG
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data)
        return result;
    Reader r(data, SizeofResource(module, resource));

    if (r.Word() != 1 || r.Word() != 0xFFFF)
        return result;
    r.Dword();   // help id
    result.exStyle = r.Dword();
    result.style = r.Dword();
    const WORD count = r.Word();
    result.x = r.Short();
    result.y = r.Short();
    result.cx = r.Short();
    result.cy = r.Short();
    result.hasMenu = !r.NameOrOrdinal().empty();
    result.hasClass = !r.NameOrOrdinal().empty();
    result.caption = r.WideString();
    if (result.style & (DS_SETFONT | DS_SHELLFONT)) {
        result.pointSize = r.Word();
        result.weight = r.Word();
        result.italic = r.Byte();
        result.charset = r.Byte();
        result.typeface = r.WideString();
    }
    for (WORD i = 0; i < count && r.ok(); ++i) {
        r.AlignDword();
        TemplateItem item;
        r.Dword();   // help id
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = static_cast<int>(r.Dword());
        item.className = PredefinedClass(r.NameOrOrdinal());
        item.text = r.NameOrOrdinal();
        r.Skip(r.Word());   // creation data
        result.items.push_back(item);
    }
    result.valid = r.ok() && result.items.size() == count;
    return result;
}
