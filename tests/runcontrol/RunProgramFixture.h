#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/LogLines.h"
#include "support/TestDirectory.h"
#include "support/WindowDriver.h"

// The real program in a fresh working directory, with helpers for the run
// control: answering boxes, waiting for log lines, reading the process's memory.
class RunProgram : public ::testing::Test {
protected:
    ~RunProgram() override { SetEnvironmentVariableA("BURNWRIGHT_FAULTS", nullptr); }

    // faults: what the fault-injecting build should break ("" starts the product itself).
    void Start(const std::string& faults = "")
    {
        std::string exe = ProductPath();
        if (!faults.empty()) {
            SetEnvironmentVariableA("BURNWRIGHT_FAULTS", faults.c_str());
            exe = WindowDriver::WindowsPath(BURNWRIGHT_FAULTS_EXE);
        }
        ASSERT_TRUE(program.Start(dir.path(), exe)) << exe;
    }

    // A short log interval and no summary unless a test asks for it.
    void Configure(const char* intervalSeconds, bool showHistory)
    {
        ASSERT_TRUE(program.SetText(1017, intervalSeconds));
        ASSERT_TRUE(program.SetCheckState(1024, showHistory ? 1 : 0));
    }

    MessageBoxInfo Answer(int button)
    {
        const MessageBoxInfo info = program.Answer(button);
        EXPECT_NE(nullptr, info.hwnd) << "no message box to answer, or no answer taken";
        return info;
    }

    std::vector<std::string> Messages() const { return LogMessages(dir.ReadFile()); }

    static size_t Count(const std::vector<std::string>& messages, const std::string& text)
    {
        size_t n = 0;
        for (const std::string& message : messages)
            n += message == text;
        return n;
    }

    static size_t StatusLines(const std::vector<std::string>& messages)
    {
        size_t n = 0;
        for (const std::string& message : messages)
            n += message.compare(0, 5, "Freq ") == 0;
        return n;
    }

    // Waits (bounded) until the log holds at least `count` lines with `prefix`.
    bool WaitForMessages(const std::string& prefix, size_t count, DWORD timeoutMs = 60000) const
    {
        const DWORD start = GetTickCount();
        do {
            size_t n = 0;
            for (const std::string& message : Messages())
                n += message.compare(0, prefix.size(), prefix) == 0;
            if (n >= count)
                return true;
            Sleep(50);
        } while (GetTickCount() - start < timeoutMs);
        return false;
    }

    // Private committed bytes of the program's process.
    size_t CommittedBytes() const
    {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, program.ProcessId());
        size_t total = 0;
        if (!process)
            return 0;
        const char* address = reinterpret_cast<const char*>(0x10000);
        MEMORY_BASIC_INFORMATION region;
        while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
            if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
                total += region.RegionSize;
            const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
            if (next <= address)
                break;
            address = next;
        }
        CloseHandle(process);
        return total;
    }

    DWORD ExitCode()
    {
        DWORD code = 12345;
        EXPECT_TRUE(program.WaitForExit(30000, &code));
        return code;
    }

    TestDirectory dir;
    WindowDriver program;
};
