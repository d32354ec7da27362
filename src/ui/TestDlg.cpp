#include "ui/TestDlg.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "app/ExitCodes.h"
#include "app/ResultRecord.h"
#include "app/StandardStreams.h"
#include "app/TestApp.h"
#include "kernel/KernelServices.h"
#include "engine/ProcessorTopology.h"
#include "engine/Status.h"
#include "log/TestLog.h"
#include "ui/FieldRules.h"

namespace {

const UINT_PTR kSampleTimerId = 1;
const UINT_PTR kTurnTimerId = 2;   // an "Each core" run's turns

const char kWrongResultsText[] =
    "This machine produced wrong results: a value it computed or kept in memory was wrong, "
    "so the test was stopped.\n\nThe last line of the test log says where.";
const char kCoresFailedText[] =
    "This machine produced wrong results: on one or more of its cores a value computed or kept "
    "in memory was wrong.\n\nThe last line of the test log names the cores that failed; the "
    "lines before it say how each failed.";
const char kNotAllTestedText[] =
    "Not every core could be tested, so this run does not show that the machine is stable.\n\n"
    "The last line of the test log names the cores that were not tested; the lines before it "
    "say why.";

struct SpinSetting {
    int spinId;
    int editId;
    short lower;
    short upper;
};

const SpinSetting kSpins[] = {
    { IDC_HOURS_SPIN, IDC_HOURS, 0, 24 },
    { IDC_MINUTES_SPIN, IDC_MINUTES, 0, 59 },
    { IDC_LOG_INTERVAL_SPIN, IDC_LOG_INTERVAL, 1, 60 },
};

// A user32 function that older Windows lack, looked up at run time (null there).
template <class Fn>
Fn User32Function(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(g_kernel.GetProcAddress(g_kernel.GetModuleHandleA("user32"), name)));
}

// A system metric at a DPI. Windows 10 1607 and later give it for any DPI, so a
// window on a monitor of its own scale gets its own; older systems give it at the
// system's DPI, the one every window is drawn at there.
int MetricForDpi(int index, UINT dpi)
{
    const auto metricsForDpi = User32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return metricsForDpi && dpi ? metricsForDpi(index, dpi) : GetSystemMetrics(index);
}

// The window's DPI, or 0 where the system does not tell it per window.
UINT DpiForWindow(HWND window)
{
    const auto dpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    return dpiForWindow ? dpiForWindow(window) : 0;
}

// Called by the engine while it fills or releases the memory: handles what is
// waiting for this thread, so that the window answers; FALSE calls a start off.
BOOL AnswerWhileWaiting(void* context)
{
    CTestDlg* dialog = static_cast<CTestDlg*>(context);
    MSG msg;
    while (!dialog->m_bCancelStart && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            dialog->m_bCancelStart = 1;
            break;
        }
        if (!IsDialogMessageA(dialog->m_hWnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return !dialog->m_bCancelStart;
}

// The log view: every line that reached the file.
void ShowLogLine(void* context, const char* line)
{
    static_cast<CTestDlg*>(context)->AddLogLine(line);
}

// The outcome of a run that did not begin.
RunOutcome Unbegun(RunVerdict verdict, const std::string& message)
{
    RunOutcome outcome;
    outcome.verdict = verdict;
    outcome.message = message;
    return outcome;
}

} // namespace

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_RUN_TEST, OnRunTest)
    ON_WM_TIMER()
    // Moved to a monitor of another scale: the dialog manager scales the dialog and
    // its font; the caption icons are loaded again at the new size.
    { WM_DPICHANGED, 0, 0, [](CWnd* pWnd, WPARAM wParam, LPARAM) -> LRESULT {
        ThisClass* dialog = static_cast<ThisClass*>(pWnd);
        const LRESULT result = dialog->Default();
        dialog->SetWindowIcons(LOWORD(wParam));
        return result; } },
    { WM_CLOSE, 0, 0, [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT {
        static_cast<ThisClass*>(pWnd)->OnClose();
        return 0; } },
    // A shutdown or log-off may go ahead; when it does, an unattended run ends.
    { WM_QUERYENDSESSION, 0, 0, [](CWnd*, WPARAM, LPARAM) -> LRESULT { return TRUE; } },
    { WM_ENDSESSION, 0, 0, [](CWnd* pWnd, WPARAM wParam, LPARAM) -> LRESULT {
        static_cast<ThisClass*>(pWnd)->OnEndSession(static_cast<BOOL>(wParam));
        return 0; } },
END_MESSAGE_MAP()

CTestDlg::CTestDlg(CWnd* pParent)
    : CDialog(CTestDlg::IDD, pParent),
      m_bTestCpu(1),
      m_bTestMemory(0),
      m_bTestVpu(0),
      m_bTestVideoMemory(0),
      m_nMemorySize(8),
      m_nRenderTargetSize(-1),
      m_nTextureSize(-1),
      m_nTextureCount(-1),
      m_nThreadCount(0),
      m_bLogCpuLoad(1),
      m_bLogCpuTemperature(0),
      m_bLogVpuTemperature(0),
      m_nLogInterval(kDefaultLogInterval),
      m_nHours(kDefaultHours),
      m_nMinutes(kDefaultMinutes),
      m_bLogCpuFrequency(1),
      m_bShowHistory(1),
      m_nTimer(0),
      m_bRunning(0),
      m_bStarting(0),
      m_bCancelStart(0),
      m_bStopping(0),
      m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)),
      m_bUnattended(0),
      m_bSessionEnding(0),
      m_bAsking(0),
      m_nAddedMemoryMB(0),
      m_nTurnTimer(0),
      m_nKernelMask(0)
{
}

CTestDlg::~CTestDlg() {}

void CTestDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_TEST_CPU, m_bTestCpu);
    DDX_Check(pDX, IDC_TEST_MEMORY, m_bTestMemory);
    DDX_Check(pDX, IDC_TEST_VPU, m_bTestVpu);
    DDX_Check(pDX, IDC_TEST_VIDEO_MEMORY, m_bTestVideoMemory);
    DDX_CBIndex(pDX, IDC_MEMORY_SIZE, m_nMemorySize);
    DDX_CBIndex(pDX, IDC_RENDER_TARGET_SIZE, m_nRenderTargetSize);
    DDX_CBIndex(pDX, IDC_TEXTURE_SIZE, m_nTextureSize);
    DDX_CBIndex(pDX, IDC_TEXTURE_COUNT, m_nTextureCount);
    DDX_CBIndex(pDX, IDC_THREAD_COUNT, m_nThreadCount);
    DDX_Check(pDX, IDC_LOG_CPU_LOAD, m_bLogCpuLoad);
    DDX_Check(pDX, IDC_LOG_CPU_TEMPERATURE, m_bLogCpuTemperature);
    DDX_Check(pDX, IDC_LOG_VPU_TEMPERATURE, m_bLogVpuTemperature);
    DDX_Text(pDX, IDC_LOG_INTERVAL, m_nLogInterval);
    DDX_Text(pDX, IDC_HOURS, m_nHours);
    DDX_Text(pDX, IDC_MINUTES, m_nMinutes);
    DDX_Check(pDX, IDC_LOG_CPU_FREQUENCY, m_bLogCpuFrequency);
    DDX_Check(pDX, IDC_SHOW_HISTORY, m_bShowHistory);

    // Range checks, after every field has been read.
    pDX->PrepareEditCtrl(IDC_HOURS);
    DDV_MinMaxUInt(pDX, m_nHours, kHoursRange.min, kHoursRange.max);
    pDX->PrepareEditCtrl(IDC_MINUTES);
    DDV_MinMaxUInt(pDX, m_nMinutes, MinutesRange(m_nHours).min, MinutesRange(m_nHours).max);
    pDX->PrepareEditCtrl(IDC_LOG_INTERVAL);
    DDV_MinMaxUInt(pDX, m_nLogInterval, kLogIntervalRange.min, kLogIntervalRange.max);
    // Each core needs a minute at least: the duration is refused like a field.
    if (pDX->m_bSaveAndValidate && !pDX->Failed()) {
        const std::string refusal = EachCoreRefusal();
        pDX->PrepareEditCtrl(m_nHours ? IDC_HOURS : IDC_MINUTES);
        if (!refusal.empty())
            pDX->Fail(refusal.c_str());
    }
}

std::string CTestDlg::EachCoreRefusal() const
{
    return m_nThreadCount == kEachCoreItem ? EachCoreDurationRefusal(UsableCoreCount(), m_nHours, m_nMinutes) : "";
}

BOOL CTestDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetLogSink(ShowLogLine, this);

    SetWindowIcons(DpiForWindow(m_hWnd));

    // The thread list's last items show how many workers "All" runs and how many
    // cores "Each core" tests in turn.
    char all[32], each[32];
    wsprintfA(all, "All (%u)", UsableProcessorCount());
    wsprintfA(each, "Each core (%u)", UsableCoreCount());
    HWND threads = GetDlgItem(IDC_THREAD_COUNT);
    const struct { int item; const char* text; } counted[] = {{kAllThreadsItem, all}, {kEachCoreItem, each}};
    for (const auto& c : counted) {
        ::SendMessageA(threads, CB_DELETESTRING, c.item, 0);
        ::SendMessageA(threads, CB_INSERTSTRING, c.item, reinterpret_cast<LPARAM>(c.text));
    }

    for (const SpinSetting& spin : kSpins)
        ::SendMessageA(GetDlgItem(spin.spinId), UDM_SETRANGE, 0, MAKELPARAM(spin.upper, spin.lower));
    for (const SpinSetting& spin : kSpins)
        ::SendMessageA(GetDlgItem(spin.spinId), UDM_SETBUDDY,
                       reinterpret_cast<WPARAM>(GetDlgItem(spin.editId)), 0);
    return TRUE;
}

void CTestDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

void CTestDlg::SetWindowIcons(UINT dpi)
{
    const struct { WPARAM kind; int width, height; } icons[] = {
        { ICON_BIG, SM_CXICON, SM_CYICON }, { ICON_SMALL, SM_CXSMICON, SM_CYSMICON } };
    for (const auto& icon : icons) {
        HICON image = static_cast<HICON>(::LoadImageA(
            AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON), MAKEINTRESOURCEA(IDR_MAINFRAME),
            IMAGE_ICON, MetricForDpi(icon.width, dpi), MetricForDpi(icon.height, dpi), LR_DEFAULTCOLOR));
        HICON previous = reinterpret_cast<HICON>(SendMessage(WM_SETICON, icon.kind, reinterpret_cast<LPARAM>(image)));
        if (previous)
            ::DestroyIcon(previous);
    }
}

HCURSOR CTestDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CTestDlg::AddLogLine(const char* text)
{
    HWND list = GetDlgItem(IDC_LOG_LIST);
    ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    const LRESULT count = ::SendMessageA(list, LB_GETCOUNT, 0, 0);
    ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
}

RunSelections CTestDlg::Selections() const
{
    RunSelections s;
    s.testMemory = m_bTestMemory;
    s.testVpu = m_bTestVpu;
    s.testVideoMemory = m_bTestVideoMemory;
    s.threadIndex = m_nThreadCount;
    s.memoryIndex = m_nMemorySize;
    s.addedMemoryMB = m_nAddedMemoryMB;
    s.renderTargetIndex = m_nRenderTargetSize;
    s.textureSizeIndex = m_nTextureSize;
    s.textureCountIndex = m_nTextureCount;
    s.hours = m_nHours;
    s.minutes = m_nMinutes;
    s.logIntervalSeconds = m_nLogInterval;
    s.logCpuLoad = m_bLogCpuLoad;
    s.logCpuTemperature = m_bLogCpuTemperature;
    s.logVpuTemperature = m_bLogVpuTemperature;
    s.kernelMask = m_nKernelMask;
    return s;
}

void CTestDlg::OnRunTest()
{
    // "Run Test" is disabled during a run; a stray command must not start a second one.
    if (m_bRunning || m_bStarting || m_bStopping)
        return;
    if (!UpdateData(TRUE))
        return;

    if (m_bShowHistory) {
        unsigned int runCount = 0;
        unsigned int completedCount = 0;
        int lastRunSucceeded = 0;
        char lastLine[256] = "";
        ReadLogHistory(&runCount, &completedCount, &lastRunSucceeded, lastLine);
        const HistorySummary summary =
            FormatHistorySummary(runCount, completedCount, lastRunSucceeded, lastLine);
        AfxMessageBox(summary.text.c_str(), MB_OK | summary.icon);
    }
    StartRun();
}

bool CTestDlg::ApplyCommandLine(const CommandLineSettings& settings, std::string* refusal)
{
    if (settings.hasThreads) {
        HWND list = GetDlgItem(IDC_THREAD_COUNT);
        std::vector<std::string> items;
        int index = -1;
        const LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; ++i) {
            char text[64] = "";
            if (::SendMessageA(list, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text))
                ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
            if (index < 0 && ThreadOptionValue(text) == settings.threads)
                index = i;
        }
        if (index < 0) {
            *refusal = ThreadValueMessage(settings.threads, items);
            return false;
        }
        m_nThreadCount = index;
    }
    if (settings.hasMemory) {
        // A size the list does not offer becomes an item of its own.
        HWND list = GetDlgItem(IDC_MEMORY_SIZE);
        char text[16] = "MAX";
        if (settings.memoryMB)
            std::snprintf(text, sizeof text, "%u", settings.memoryMB);
        int index = static_cast<int>(::SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                    reinterpret_cast<LPARAM>(text)));
        if (index < 0) {
            index = static_cast<int>(::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
            m_nAddedMemoryMB = settings.memoryMB;
        }
        m_nMemorySize = index;
        m_bTestMemory = 1;
    }
    if (settings.hasHours)
        m_nHours = settings.hours;
    if (settings.hasMinutes)
        m_nMinutes = settings.minutes;
    if (settings.hasInterval)
        m_nLogInterval = settings.interval;
    if (settings.hasLoad)
        m_bLogCpuLoad = settings.load ? 1 : 0;
    if (settings.hasKernel)
        m_nKernelMask = settings.kernelMask;
    UpdateData(FALSE);
    return true;
}

void CTestDlg::RunUnattended()
{
    m_bUnattended = 1;
    NoteRunStarting();   // a refused run's record tells the memory available too
    // The command line's values passed the fields' rules already; the duration
    // for each core in turn is refused here, without a message box.
    const std::string refusal = EachCoreRefusal();
    if (!refusal.empty()) {
        if (HANDLE errors = RedirectedStandardHandle(STD_ERROR_HANDLE))
            WriteTextLine(errors, refusal.c_str());
        RecordRun(Selections(), Unbegun(kVerdictNotStarted, refusal), Telling());
        theApp.m_nExitCode = kExitNotStarted;
        DestroyWindow();
        return;
    }
    if (!UpdateData(TRUE)) {
        RecordRun(Selections(), Unbegun(kVerdictNotStarted, "A setting was refused."), Telling());
        theApp.m_nExitCode = kExitNotStarted;
        DestroyWindow();
        return;
    }
    StartRun();
}

RecordTelling CTestDlg::Telling() const
{
    return RecordTelling{m_bUnattended != 0, AfxGetAppName()};
}

void CTestDlg::StartRun()
{
    const TestConfig config = BuildTestConfig(Selections());
    theApp.m_engine.SetConfig(config);
    // The start fills the memory on other threads while this one keeps answering.
    ::EnableWindow(GetDlgItem(IDC_RUN_TEST), FALSE);
    m_bStarting = 1;
    m_bCancelStart = 0;
    theApp.m_engine.idle = AnswerWhileWaiting;
    theApp.m_engine.idleContext = this;
    NoteRunStarting();
    // Under way from here: the fill may take minutes, and a machine that stops
    // meanwhile must not leave an earlier run's record standing for this one.
    RecordRun(Selections(), Unbegun(kVerdictRunning, ""), Telling());
    const HRESULT status = theApp.m_engine.StartTest();
    theApp.m_engine.idle = nullptr;
    m_bStarting = 0;
    if (status < 0) {
        theApp.m_engine.StopTest();
        ::EnableWindow(GetDlgItem(IDC_RUN_TEST), TRUE);
        if (status == kStartCancelled) {
            RecordRun(Selections(), Unbegun(kVerdictEndedEarly, "The start was called off."), Telling());
            if (m_bUnattended) {   // called off before it started: ended early
                theApp.m_nExitCode = kExitEndedEarly;
                DestroyWindow();
            }
            return;
        }
        CString message;
        message.Format("Test Initialization Failed. Error %08X", static_cast<unsigned int>(status));
        RecordRun(Selections(), Unbegun(kVerdictNotStarted, static_cast<const char*>(message)), Telling());
        if (m_bUnattended) {
            if (HANDLE errors = RedirectedStandardHandle(STD_ERROR_HANDLE))
                WriteTextLine(errors, message);
            theApp.m_nExitCode = kExitNotStarted;
            DestroyWindow();
            return;
        }
        AfxMessageBox(message, MB_OK | MB_ICONSTOP);
        return;
    }

    m_bRunning = 1;
    m_nTimer = static_cast<UINT>(SetTimer(kSampleTimerId, config.logIntervalMs, nullptr));
    if (config.eachCore)
        m_nTurnTimer = static_cast<UINT>(SetTimer(kTurnTimerId, kTurnTickMs, nullptr));
    // Under way: a record that still says so after the machine stopped tells of it.
    RecordRun(Selections(), theApp.m_engine.outcome, Telling());
}

void CTestDlg::OnTimer(UINT nIDEvent)
{
    if (m_bRunning && !m_bStopping) {
        const HRESULT status =
            nIDEvent == kTurnTimerId ? theApp.m_engine.TurnTick() : theApp.m_engine.SampleTick();
        if (status != S_OK)
            StopRun(status);
    }
    Default();
}

void CTestDlg::OnCancel()
{
    // During the start, Cancel (or closing) calls the start off; no question.
    // During the stop it waits for the stop.
    if (m_bStarting || m_bStopping) {
        m_bCancelStart = m_bStarting;
        return;
    }
    if (m_bAsking)   // a close while the question is open: the answer decides
        return;
    if (!m_bRunning) {
        DestroyWindow();
        return;
    }
    m_bAsking = 1;
    const int answer = AfxMessageBox("Terminate the test?", MB_OKCANCEL | MB_ICONEXCLAMATION);
    m_bAsking = 0;
    // An unattended run that ended while asked closes with its own exit code.
    if (m_bUnattended && !m_bRunning) {
        DestroyWindow();
        return;
    }
    if (answer != IDOK)
        return;
    // Also when a tick ended the run while the question was open.
    StopRun(S_OK);
}

void CTestDlg::OnClose()
{
    if (m_bUnattended && m_bRunning && !m_bAsking) {
        StopRun(S_OK);
        return;
    }
    Default();   // the cancel command
}

// The session ends: a run stops with its stop line and its record (the process
// is ended once this returns), with no box.
void CTestDlg::OnEndSession(BOOL ending)
{
    if (!ending)
        return;
    m_bSessionEnding = 1;
    if (m_bStarting)
        m_bCancelStart = 1;
    else if (m_bRunning)
        StopRun(S_OK);
}

// The stop sequence. `cause` is the sample's status that ended the run (S_OK
// for a termination, S_FALSE at the end of its time). The engine decides the
// run's outcome; the record, the exit code and the box are told from it once
// the dialog is idle. An unattended run closes the window instead of a box.
void CTestDlg::StopRun(HRESULT cause)
{
    const bool wasRunning = m_bRunning != 0;   // not a late answer's second stop
    m_bStopping = 1;
    theApp.m_engine.idle = AnswerWhileWaiting;
    theApp.m_engine.idleContext = this;
    theApp.m_engine.StopTest(cause == S_FALSE ? CTestEngine::kStopTimeUp : CTestEngine::kStopTerminated);
    theApp.m_engine.idle = nullptr;
    m_bStopping = 0;
    m_bRunning = 0;
    if (m_nTimer != 0) {
        KillTimer(m_nTimer);
        m_nTimer = 0;
    }
    if (m_nTurnTimer != 0) {
        KillTimer(m_nTurnTimer);
        m_nTurnTimer = 0;
    }
    ::EnableWindow(GetDlgItem(IDC_RUN_TEST), TRUE);
    if (!wasRunning)
        return;
    const RunOutcome& outcome = theApp.m_engine.outcome;
    RecordRun(Selections(), outcome, Telling());
    if (m_bUnattended) {
        theApp.m_nExitCode = ExitCodeOf(outcome.verdict);
        PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return;
    }
    if (m_bSessionEnding)
        return;
    if (outcome.verdict == kVerdictFailed)
        AfxMessageBox(outcome.turns.empty() ? kWrongResultsText : kCoresFailedText, MB_OK | MB_ICONSTOP);
    else if (outcome.verdict == kVerdictIncomplete)
        AfxMessageBox(kNotAllTestedText, MB_OK | MB_ICONEXCLAMATION);
}

void CTestDlg::PostNcDestroy()
{
    // Nothing may reach the dialog once it is gone.
    SetLogSink(nullptr, nullptr);
    if (theApp.m_pMainDlg == this)
        theApp.m_pMainDlg = nullptr;
    CDialog::PostNcDestroy();
    delete this;
}
