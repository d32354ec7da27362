#pragma once
#include <string>

// A fresh, empty working directory for the lifetime of the object: the log file
// is resolved against the current directory, so each test gets its own.
class TestDirectory {
public:
    TestDirectory();
    ~TestDirectory();
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    const std::string& path() const { return path_; }
    // Whole contents of a file in this directory, bytes as on disk ("" if absent).
    std::string ReadFile(const char* name = "Burnwright.log") const;
    void WriteFile(const std::string& bytes, const char* name = "Burnwright.log") const;
    bool Exists(const char* name = "Burnwright.log") const;

private:
    std::string previous_;
    std::string path_;
};
