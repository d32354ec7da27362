#include "app/TestApp.h"

#include <commctrl.h>

#include <new>
#include <string>

#include "app/CommandLine.h"
#include "app/ExitCodes.h"
#include "app/ResultRecord.h"
#include "app/StandardStreams.h"
#include "engine/MemoryPlan.h"
#include "log/TestLog.h"
#include "ui/TestDlg.h"

CTestApp theApp;

namespace {

// The physical memory available now, in MB: the most /memory may ask for.
unsigned long long AvailableMemoryMB()
{
    unsigned long long availableMB = 0;
    return SUCCEEDED(QueryAvailableMB(&availableMB)) ? availableMB : 0;
}

// A message about the command line: to the redirected stream, else in a
// message box, but never a box for a /run start, which nobody may watch.
void Tell(const std::string& text, DWORD stream, bool unattended, UINT icon)
{
    if (HANDLE output = RedirectedStandardHandle(stream))
        WriteTextLine(output, text.c_str());
    else if (!unattended)
        AfxMessageBox(text.c_str(), MB_OK | icon);
}

} // namespace

CTestApp::CTestApp() : CWinApp(nullptr), m_engine(), m_pMainDlg(nullptr) {}

CTestApp::~CTestApp() {}

BOOL CTestApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    Enable3dControls();

    // A refused option or /? ends the program before its window: the message
    // loop then takes the quit message at once.
    // A /result file that cannot be written is refused first: no record can tell of it.
    const std::string resultRefusal = TakeResultFile(GetCommandLineW());
    CommandLineResult commandLine = ParseCommandLine(m_lpCmdLine, AvailableMemoryMB());
    if (!resultRefusal.empty()) {
        commandLine.accepted = false;
        commandLine.message = resultRefusal;
    }
    const CommandLineSettings& settings = commandLine.settings;
    if (!commandLine.accepted) {
        Tell(commandLine.message, STD_ERROR_HANDLE, settings.run, MB_ICONEXCLAMATION);
        RecordRefusal(commandLine.message, RecordTelling{settings.run, AfxGetAppName()});
        PostQuitMessage(kExitNotStarted);
        return TRUE;
    }
    if (settings.help) {
        Tell(kCommandLineHelp, STD_OUTPUT_HANDLE, settings.run, MB_ICONINFORMATION);
        PostQuitMessage(kExitPassed);
        return TRUE;
    }
    SetLogEcho(RedirectedStandardHandle(STD_OUTPUT_HANDLE));

    m_pMainDlg = new (std::nothrow) CTestDlg(nullptr);
    if (!m_pMainDlg)
        return FALSE;
    m_pMainWnd = m_pMainDlg;
    if (!m_pMainDlg->Create(CTestDlg::IDD, nullptr)) {
        // A window destroyed during creation has deleted its object already
        // (and cleared m_pMainDlg); one never made leaves it to us.
        delete m_pMainDlg;
        m_pMainDlg = nullptr;
        m_pMainWnd = nullptr;
        return FALSE;
    }

    std::string refusal;
    if (!m_pMainDlg->ApplyCommandLine(settings, &refusal)) {
        Tell(refusal, STD_ERROR_HANDLE, settings.run, MB_ICONEXCLAMATION);
        RecordRefusal(refusal, RecordTelling{settings.run, AfxGetAppName()});
        m_nExitCode = kExitNotStarted;
        m_pMainDlg->DestroyWindow();
        return TRUE;
    }
    if (settings.run)
        m_pMainDlg->RunUnattended();
    return TRUE;
}
