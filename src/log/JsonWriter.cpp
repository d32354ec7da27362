#include "log/JsonWriter.h"

#include <cstdio>

void JsonWriter::NewLine()
{
    text_ += '\n';
    text_.append(2 * empty_.size(), ' ');
}

void JsonWriter::Value(const std::string& json)
{
    if (!afterKey_ && !empty_.empty()) {
        if (!empty_.back())
            text_ += ',';
        NewLine();
    }
    if (!empty_.empty())
        empty_.back() = false;
    afterKey_ = false;
    text_ += json;
    if (empty_.empty())
        text_ += '\n';
}

void JsonWriter::Open(char bracket)
{
    Value(std::string(1, bracket));
    if (empty_.empty() && !text_.empty())
        text_.pop_back();   // the value is still open
    empty_.push_back(true);
}

void JsonWriter::Close(char bracket)
{
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty)
        NewLine();
    text_ += bracket;
    if (empty_.empty())
        text_ += '\n';
}

void JsonWriter::Key(const char* name)
{
    Value(JsonQuoted(name) + ": ");
    afterKey_ = true;
}

void JsonWriter::String(const std::string& utf8)
{
    Value(JsonQuoted(utf8));
}

void JsonWriter::Number(unsigned long long value)
{
    Value(std::to_string(value));
}

void JsonWriter::Number(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Value(text);
}

void JsonWriter::Bool(bool value)
{
    Value(value ? "true" : "false");
}

void JsonWriter::Null()
{
    Value("null");
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8SequenceLength(const std::string& text, size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned int code = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07, least = 0x10000;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= least && code <= 0x10FFFF && !surrogate ? length : 0;
}

} // namespace

std::string JsonQuoted(const std::string& utf8)
{
    std::string quoted = "\"";
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(utf8, i);
            quoted += length ? utf8.substr(i, length) : "\xEF\xBF\xBD";
            i += length ? length : 1;
            continue;
        }
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
        ++i;
    }
    return quoted + "\"";
}
