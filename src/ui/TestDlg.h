#pragma once
#include <string>

#include "app/CommandLine.h"
#include "app/ResultRecord.h"
#include "framework/AfxWin.h"
#include "ui/RunConfig.h"
#include "ui/resource.h"

// The main dialog: the test settings, the log view and the run control.
// It owns itself and deletes itself when its window is destroyed.
class CTestDlg : public CDialog {
public:
    explicit CTestDlg(CWnd* pParent = nullptr);
    ~CTestDlg() override;

    enum { IDD = IDD_TEST_DIALOG };

    // Appends a log line, selects it and scrolls it into view.
    void AddLogLine(const char* text);

    // Puts the command line's settings into the fields. A /threads value that
    // the thread list does not offer is refused (false, with the message).
    bool ApplyCommandLine(const CommandLineSettings& settings, std::string* refusal);
    // Starts a run with the fields as they are, for nobody to watch: no summary
    // and no message box of its own; the window closes when the run ends, with
    // the exit code that tells how (a start failure: its message to standard
    // error and kExitNotStarted).
    void RunUnattended();

    // The choices that make up a run, from the members.
    RunSelections Selections() const;

    // Sets the caption and task-switch icons at their sizes for the DPI (0: the system's).
    void SetWindowIcons(UINT dpi);

    int m_bTestCpu;
    int m_bTestMemory;
    int m_bTestVpu;
    int m_bTestVideoMemory;
    int m_nMemorySize;
    int m_nRenderTargetSize;
    int m_nTextureSize;
    int m_nTextureCount;
    int m_nThreadCount;
    int m_bLogCpuLoad;
    int m_bLogCpuTemperature;
    int m_bLogVpuTemperature;
    UINT m_nLogInterval;
    UINT m_nHours;
    UINT m_nMinutes;
    int m_bLogCpuFrequency;
    int m_bShowHistory;
    UINT m_nTimer;
    int m_bRunning;
    int m_bStarting;      // 1 while StartTest fills the memory and this dialog keeps answering
    int m_bCancelStart;   // Cancel or closing during the start: the start is called off
    int m_bStopping;      // 1 while StopTest releases the memory and this dialog keeps answering
    HICON m_hIcon;
    int m_bUnattended;          // started by /run
    int m_bSessionEnding;       // the session ends: no box
    int m_bAsking;              // "Terminate the test?" is open
    UINT m_nAddedMemoryMB;      // the size of the memory item /memory added (0: none)
    UINT m_nTurnTimer;          // an "Each core" run's turn timer (0: none)
    UINT m_nKernelMask;         // the loads /kernel named (KernelLoadBit; 0: all); no control shows it

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;

    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnRunTest();
    afx_msg void OnTimer(UINT nIDEvent);

    DECLARE_MESSAGE_MAP()

private:
    // Configures the engine from the fields and starts the run and its timer.
    void StartRun();
    // Stops the run, its timer, and gives "Run Test" back.
    void StopRun(HRESULT cause);
    // WM_CLOSE, WM_ENDSESSION: an unattended run ends early without a question.
    void OnClose();
    void OnEndSession(BOOL ending);
    // Why the fields' duration is too short for each core in turn ("" when it is not).
    std::string EachCoreRefusal() const;
    // How the result record's own failure is told.
    RecordTelling Telling() const;
};
