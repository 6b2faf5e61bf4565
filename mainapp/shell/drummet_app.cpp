#include "mainapp/shell/drummet_app.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "mainapp/shell/instance_mutex.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/main_dialog.h"
#include "mainapp/shell/splash_dialog.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/process/process.h"
#include "program_support/language_table.h"
#include "program_support/path_helpers.h"
#include "program_support/process_runners.h"
#include "program_support/record_file.h"
#include "program_support/registry_readers.h"
#include "program_support/settings_record.h"
#include "program_support/shell_state.h"

namespace {

// Created on first use, which is the start of InitInstance: the platform's
// machine is open by then, and the mutex lives until the process ends.
InstanceMutex& TheInstanceMutex() {
  static InstanceMutex instance(InstanceMutex::kName);
  return instance;
}

}  // namespace

CDrummetApp::CDrummetApp() : CWinApp(u"Drummetworks") {}

BEGIN_MESSAGE_MAP(CDrummetApp, CWinApp)
  ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

void CDrummetApp::WinHelp(DWORD_PTR, UINT) { shell::OpenHelpPages(); }

int LoadSettingsRecord(CString* language) {
  CString path = ShellState.programFolder;
  path += u"\\Resources\\inf.dll";
  // Only the record's own 530 bytes are read; a short file leaves zeros.
  const std::optional<std::vector<uint8_t>> bytes = ReadRecordFile(path, shell::kSettingsRecordSize);
  if (!bytes) {
    ShowDebugMessage(1, CString(u"INF.Dll File not found. Aborting..."));
    ExitProcess(0);
  }
  shell::SettingsFields fields = shell::DecodeSettingsRecord(*bytes);
  ShellState.settingsText1 = fields.text1.c_str();
  ShellState.settingsText2 = fields.text2.c_str();
  ShellState.settingsText3 = fields.text3.c_str();
  if (language) *language = fields.language.c_str();
  return std::atoi(platform::to_utf8(fields.number).c_str());
}

BOOL CDrummetApp::InitInstance() {
  InstanceMutex& guard = TheInstanceMutex();
  ShellState.commandLine = m_lpCmdLine;
  ShellState.programFolder = GetParentPath(CString(m_pszHelpFilePath ? m_pszHelpFilePath : u""));
  CString language;
  LoadSettingsRecord(&language);
  ShellState.languageName = language;
  LoadLanguageStrings();

  if (guard.AlreadyExists()) {
    ShellState.commandLine.MakeUpper();
    if (ShellState.commandLine == u"/B ONECLICK") ShowDebugMessage(1, LookupString(u"IDS_OTB_RUNNING"));
    return FALSE;
  }

  InitCommonControls();
  CWinApp::InitInstance();
  AfxEnableControlContainer();
  AfxInitRichEdit();
  // Nothing reads or writes this key; the framework only keeps its name.
  SetRegistryKey(u"Local AppWizard-Generated Applications");

  ShellState.winPEMode = !ShellState.programFolder.IsEmpty() && ShellState.programFolder[0] == u'X';
  if (ShellState.winPEMode) {
    CString setres = ShellState.programFolder;
    setres += u"\\setres.exe";
    RunProcessAndWait(setres, CString(u" h1024 v768 b32"));
  } else {
    CString companion = ShellState.programFolder;
    companion += u"\\ZvqThunk.exe";
    ShellExecuteW(nullptr, u"open", companion, nullptr, nullptr, SW_SHOW);
    Sleep(1000);
  }

  // Shown for a while and destroyed; the object goes with it.
  auto splash = std::make_unique<CSplashDlg>(nullptr);
  if (splash->Create(CSplashDlg::kTemplateId, nullptr)) {
    splash->CenterWindow();
    splash->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW);
    Sleep(4000);
    splash->DestroyWindow();
  }

  CDrummetDlg dialog(nullptr);
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
