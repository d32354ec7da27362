#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Builds JSON text in UTF-8, two blanks of indentation a level. Values follow
// one another; inside an object each is preceded by its Key.
class JsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(const char* name);
    void String(const std::string& utf8);
    void Number(unsigned long long value);
    void Number(double value, int decimals);
    void Bool(bool value);
    void Null();
    // A member of the object being written: its key and value in one.
    void Member(const char* name, const std::string& utf8) { Key(name); String(utf8); }
    void Member(const char* name, unsigned long long value) { Key(name); Number(value); }
    void Member(const char* name, double value, int decimals) { Key(name); Number(value, decimals); }

    // The text so far, with a line end after the outermost value.
    const std::string& Text() const { return text_; }

private:
    void Value(const std::string& json);
    void Open(char bracket);
    void Close(char bracket);
    void NewLine();

    std::string text_;
    std::vector<bool> empty_;   // per open level: nothing in it yet
    bool afterKey_ = false;
};

// A string as a JSON string: quoted, with quotes, backslashes and control
// characters escaped; a byte that is not part of valid UTF-8 becomes U+FFFD.
std::string JsonQuoted(const std::string& utf8);
