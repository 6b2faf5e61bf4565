#include "pebuilder/kit_page.h"

#include <algorithm>
#include <vector>

#include "pebuilder/fennick_chain.h"
#include "pebuilder/fennick_support.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/net/wininet.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/message_pump.h"
#include "program_support/process_runners.h"

int DownloadState = 0;
// A press's download runs, pumping messages: a further press lands inside it.
static bool DownloadLoopRunning = false;
CString KitDownloadUrl;
CString DownloadFolder;
CString DownloadFilePath;
int64_t DownloadTotal = 0;
int64_t DownloadedBytes = 0;
bool KitInstalledThisRun = false;
bool BackFromBuildPage = false;
CString DefaultKitFolder;
int WinPeBitness = 32;

namespace {

constexpr int kNext = 1640, kBack = 1003, kCancel = 1005, kBrowse = 1638, kDownload = 1009;
constexpr int kFolderEdit = 1013, kProgress = 1018, kStatus = 1642;
constexpr DWORD kChunkBytes = 16384;
// Received chunks are gathered and written in pieces of this size.
constexpr size_t kWriteBytes = 1u << 20;
constexpr const char16_t* kPauseKey = u"Software\\Downloader";
constexpr const char16_t* kEnglishPath = u"/download/8/E/9/8E9BBC64-E6F8-457C-9B8D-F6C9A16E6D6A/KB3AIK_EN.iso";
constexpr const char16_t* kJapanesePath = u"/download/E/C/9/EC98BD8E-A6D3-400A-8B9B-5EFDC32693C0/KB3AIK_JA.iso";
// msiexec's exit codes that mean installed (the second asks for a restart).
constexpr DWORD kInstallDone = 0, kInstallDoneRestart = 3010;

CString PauseUrlCopy;

CString ProgramFilesFolder() {
  WCHAR path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE)) return CString(u"C:\\Program Files");
  return CString(path);
}

void WritePauseRecord(const CString& folder, const CString& length, const CString& url) {
  WriteRegistryString(HKEY_LOCAL_MACHINE, kPauseKey, u"downloadpath", folder);
  WriteRegistryString(HKEY_LOCAL_MACHINE, kPauseKey, u"CurLen", length);
  WriteRegistryString(HKEY_LOCAL_MACHINE, kPauseKey, u"CurUrl", url);
}

// The WinInet handles of one request, closed together.
struct KitRequest {
  HINTERNET internet = nullptr, connection = nullptr, request = nullptr;
  ~KitRequest() {
    for (HINTERNET h : {request, connection, internet})
      if (h) InternetCloseHandle(h);
  }
};

bool OpenKitRequest(KitRequest& r) {
  CString host = UrlHostPart(KitDownloadUrl);
  if (host.IsEmpty()) return false;
  CString object = KitDownloadUrl.Mid(host.GetLength() + 1);
  r.internet = InternetOpenW(u"HTTPDUMP_DEMO", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!r.internet) return false;
  r.connection = InternetConnectW(r.internet, host, INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0);
  if (!r.connection) return false;
  r.request = HttpOpenRequestW(r.connection, u"GET", object, u"HTTP/1.0", nullptr, nullptr, 0, 0);
  if (!r.request) return false;
  return HttpSendRequestW(r.request, nullptr, 0, nullptr, 0) != FALSE;
}

}  // namespace

void SetBuildDefaults() {
  WinPeBitness = IsWow64() ? 64 : 32;
  WinPeLanguage.Empty();
  if (!BrowseResultFolder.IsEmpty()) WinPeLanguage = UiLanguage == u"Japanese" ? u"Japanese" : u"English";
}

BEGIN_MESSAGE_MAP(CSelectIso, CFennickPage)
  ON_BN_CLICKED(1640, &CSelectIso::OnNext)
  ON_BN_CLICKED(1003, &CSelectIso::OnBack)
  ON_BN_CLICKED(1638, &CSelectIso::OnBrowse)
  ON_BN_CLICKED(1009, &CSelectIso::OnDownloadButton)
  ON_BN_CLICKED(1005, &CSelectIso::OnCancelButton)
  ON_CONTROL_RANGE(BN_CLICKED, 1036, 1037, &CSelectIso::OnRadio)
  ON_CONTROL_RANGE(BN_CLICKED, 1643, 1644, &CSelectIso::OnRadio)
END_MESSAGE_MAP()

CSelectIso::CSelectIso(CWnd* parent) : CFennickPage(IDD, parent) {
  SetOwnerDrawn({kBack, kNext, kCancel, kBrowse, kDownload});
  SetTransparent({226, 1025, 1642, 1645, 1646, 1647, 1036, 1037, 1643, 1644, 1649});
}

void CSelectIso::DoDataExchange(CDataExchange* dx) {
  CFennickPage::DoDataExchange(dx);
  if (!folder_.GetSafeHwnd()) DDX_Control(dx, kFolderEdit, folder_);
  if (!progress_.GetSafeHwnd()) DDX_Control(dx, kProgress, progress_);
  BindHoverButtons(dx, {kBack, kNext, kCancel});
}

BOOL CSelectIso::OnInitDialog() {
  CFennickPage::OnInitDialog();
  SetBuildDefaults();
  KitInstalledThisRun = false;
  PauseUrlCopy.Empty();
  DownloadFolder = u"c:\\temp";
  CreateDirectoryW(DownloadFolder, nullptr);
  DownloadState = 0;
  UpdateDownloadButton();
  SetUpFrame(LookupText(u"IDS_AIK"));
  textFont_.CreateFont(PageTextHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* text = GetDlgItem(1649)) text->SetFont(&textFont_);
  const std::pair<int, const char16_t*> texts[] = {
      {226, u"IDS_LICPLZ"},  {kBrowse, u"IDS_BROWSE"}, {kDownload, u"IDS_DOWNLOADAIK"},
      {1647, u"IDS_STATIC_INSTALLPATH"}, {1649, u"IDS_AIKDOWNLOADTEXT"}, {kBack, u"IDS_Back"},
      {kNext, u"IDS_Next"}, {kCancel, u"IDS_Cancel"}, {1025, u"IDS_AIKDESC"}};
  for (const auto& [id, key] : texts) SetDlgItemText(id, LookupText(key));
  if (CWnd* back = GetDlgItem(kBack)) back->SetFocus();
  CenterWindow();
  DetectInstalledKit();
  return FALSE;
}

void CSelectIso::DetectInstalledKit() {
  DefaultKitFolder = ProgramFilesFolder() + u"\\Windows AIK";
  DefaultKitFolder.Replace(u" (x86)", u"");
  if (FindFileOrFolder(DefaultKitFolder).IsEmpty()) {
    EnableControl(kDownload, TRUE);
    return;
  }
  BrowseResultFolder = DefaultKitFolder;
  SetBuildDefaults();
  if (!BackFromBuildPage && !KitInstalledThisRun)
    MessageBoxW(nullptr, LookupText(u"IDS_WAIKINSTALLED"), ProductCaption, MB_OK);
  SetDlgItemText(kFolderEdit, BrowseResultFolder);
  EnableControl(kDownload, FALSE);
  EnableControl(kNext, TRUE);
  DownloadState = -1;
}

void CSelectIso::UpdateDownloadButton() {
  if (progress_.GetSafeHwnd()) {
    progress_.SetRange32(0, static_cast<int>(DownloadTotal & 0xFFFFFFFF));
    progress_.SetPos(static_cast<int>(DownloadedBytes & 0xFFFFFFFF));
  }
  const char16_t* key = DownloadState == 1 ? u"IDS_PAUSE" : DownloadState == 2 ? u"IDS_RESUME" : u"IDS_DOWNLOADAIK";
  SetDlgItemText(kDownload, LookupText(key));
  if (DownloadState >= 0 && DownloadState <= 2)
    EnableControl(kDownload, TRUE);
}

void CSelectIso::SetStatus(const CString& text) {
  SetDlgItemText(kStatus, text);
  // Hidden and shown again so that it repaints over the background.
  if (CWnd* status = GetDlgItem(kStatus)) {
    status->ShowWindow(SW_HIDE);
    status->ShowWindow(SW_SHOW);
  }
}

CString CSelectIso::ProgressText() const {
  return LookupText(u"IDS_DOWNLOADING") + u" " + Int64ToText(DownloadedBytes / 1024) + u" KB /" +
         Int64ToText(DownloadTotal / 1024) + u" KB ";
}

void CSelectIso::OnDownloadButton() {
  if (DownloadState == 1) {
    // The loop of the earlier press sees this at its next pass and pauses.
    DownloadState = 2;
    UpdateDownloadButton();
    return;
  }
  if (DownloadLoopRunning) {
    // Resume pressed before the running loop took the pause: it goes on.
    DownloadState = 1;
    UpdateDownloadButton();
    return;
  }
  if (DownloadState != 0 && DownloadState != 2) return;
  const bool fresh = DownloadState == 0;
  DownloadState = 1;
  UpdateDownloadButton();
  for (int id : {kBrowse, kBack})
    EnableControl(id, FALSE);
  auto enable_browse = [this] { EnableControl(kBrowse, true); };
  DownloadLoopRunning = true;
  DownloadResult result = DownloadKitImage(fresh);
  DownloadLoopRunning = false;
  if (result == DownloadResult::kPaused) {
    SetStatus(CString());
    enable_browse();
    return;
  }
  if (result != DownloadResult::kComplete) {
    // A failed press installs nothing; a cut-off download can be resumed.
    const char16_t* key = result == DownloadResult::kFileFailed ? u"IDS_TEMPFOLDERFAIL" : u"IDS_DOWNLOADFAIL";
    DownloadState = result == DownloadResult::kTruncated && DownloadedBytes > 0 ? 2 : 0;
    if (DownloadState == 0) DownloadedBytes = 0;
    UpdateDownloadButton();
    SetStatus(CString());
    enable_browse();
    MessageBoxW(GetSafeHwnd(), LookupText(key), ProductCaption, MB_OK);
    return;
  }
  SetStatus(LookupText(u"IDS_DOWNCOMPLETE"));
  // Whatever follows, a later press downloads the image anew.
  DownloadState = 0;
  if (!ExtractKitImage()) {
    DownloadedBytes = 0;
    UpdateDownloadButton();
    SetStatus(CString());
    enable_browse();
    return;
  }
  KitInstalledThisRun = InstallKit();
  if (!KitInstalledThisRun) {
    DownloadedBytes = 0;
    UpdateDownloadButton();
    SetStatus(CString());
    enable_browse();
    MessageBoxW(GetSafeHwnd(), LookupText(u"IDS_INSTALLFAIL"), ProductCaption, MB_OK);
    return;
  }
  WritePauseRecord(CString(), CString(), CString());
  DetectInstalledKit();
  UpdateDownloadButton();
  SetDlgItemText(kNext, LookupText(u"IDS_Next"));
  enable_browse();
  if (DownloadState != -1) {
    // Installed, but not where the page looks: the user browses to it.
    DownloadedBytes = 0;
    UpdateDownloadButton();
  }
  SetStatus(CString());
}

DownloadResult CSelectIso::DownloadKitImage(bool fresh) {
  KitDownloadUrl = CString(kKitHost) + (UiLanguage == u"English" ? kEnglishPath : kJapanesePath);
  PauseUrlCopy = KitDownloadUrl;
  SetDlgItemText(kFolderEdit, DownloadFolder);
  DownloadFilePath = DownloadFolder + u"\\" + UrlLastPart(KitDownloadUrl);
  KitExtractFolder = DownloadFolder + u"\\Fennick";
  if (fresh) DownloadedBytes = 0;
  CreateDirectoryW(DownloadFolder, nullptr);
  HANDLE file = CreateFileW(DownloadFilePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            fresh ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return DownloadResult::kFileFailed;
  struct FileCloser {
    HANDLE h;
    ~FileCloser() { CloseHandle(h); }
  } closer{file};
  // A resume continues after the bytes that are really in the file.
  LARGE_INTEGER have{};
  if (!GetFileSizeEx(file, &have) || have.QuadPart < DownloadedBytes) DownloadedBytes = have.QuadPart > 0 ? have.QuadPart : 0;

  KitRequest r;
  if (!OpenKitRequest(r)) return DownloadResult::kOffline;
  DWORD status = 0, length = sizeof(status);
  if (!HttpQueryInfoW(r.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr) ||
      (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT))
    return DownloadResult::kBadAnswer;
  LONG high = 0;
  DWORD low = InternetSetFilePointer(r.request, 0, &high, FILE_END, 0);
  if (low == INVALID_SET_FILE_POINTER) return DownloadResult::kBadAnswer;
  int64_t total = (static_cast<int64_t>(high) << 32) | low;
  if (total <= 0) return DownloadResult::kBadAnswer;
  // Another image than the one paused: start it from its first byte.
  if (total != DownloadTotal || DownloadedBytes > total) DownloadedBytes = 0;
  DownloadTotal = total;
  if (progress_.GetSafeHwnd()) progress_.SetRange32(0, static_cast<int>(DownloadTotal & 0xFFFFFFFF));
  SetStatus(ProgressText());
  LONG resume_high = static_cast<LONG>(DownloadedBytes >> 32);
  InternetSetFilePointer(r.request, static_cast<LONG>(DownloadedBytes & 0xFFFFFFFF), &resume_high, FILE_BEGIN, 0);
  LARGE_INTEGER at{};
  at.QuadPart = DownloadedBytes;
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return DownloadResult::kFileFailed;

  std::vector<uint8_t> pending;
  pending.reserve(kWriteBytes + kChunkBytes);
  auto flush = [&] {
    DWORD done = 0;
    bool ok = pending.empty() ||
              (WriteFile(file, pending.data(), static_cast<DWORD>(pending.size()), &done, nullptr) &&
               done == pending.size());
    if (ok) DownloadedBytes += static_cast<int64_t>(pending.size());
    pending.clear();
    return ok;
  };
  std::vector<uint8_t> buffer(kChunkBytes, 0);
  int chunks = 0;
  while (DownloadedBytes + static_cast<int64_t>(pending.size()) < DownloadTotal) {
    PumpMessages(GetSafeHwnd());
    if (DownloadState == 2) {
      if (!flush()) return DownloadResult::kFileFailed;
      WritePauseRecord(DownloadFolder, Int64ToText(DownloadedBytes), PauseUrlCopy);
      UpdateDownloadButton();
      return DownloadResult::kPaused;
    }
    DWORD n = 0;
    if (!InternetReadFile(r.request, buffer.data(), kChunkBytes, &n) || n == 0) break;
    n = static_cast<DWORD>(std::min<int64_t>(n, DownloadTotal - DownloadedBytes - static_cast<int64_t>(pending.size())));
    pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
    if (pending.size() >= kWriteBytes && !flush()) return DownloadResult::kFileFailed;
    const int64_t seen = DownloadedBytes + static_cast<int64_t>(pending.size());
    if (progress_.GetSafeHwnd()) progress_.SetPos(static_cast<int>(seen & 0xFFFFFFFF));
    if (++chunks == 64) {
      SetStatus(LookupText(u"IDS_DOWNLOADING") + u" " + Int64ToText(seen / 1024) + u" KB /" +
                Int64ToText(DownloadTotal / 1024) + u" KB ");
      chunks = 0;
    }
  }
  if (!flush()) return DownloadResult::kFileFailed;
  UpdateDownloadButton();
  return DownloadedBytes < DownloadTotal ? DownloadResult::kTruncated : DownloadResult::kComplete;
}

bool CSelectIso::ExtractKitImage() {
  SetStatus(LookupText(u"IDS_EXTRACTISO"));
  HANDLE image = CreateFileW(DownloadFilePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (image == INVALID_HANDLE_VALUE || !IsUdfImage(image)) {
    if (image != INVALID_HANDLE_VALUE) CloseHandle(image);
    MessageBoxW(GetSafeHwnd(), LookupText(u"IDS_UDFNTFOUND"), ProductCaption, MB_OK);
    return false;
  }
  const UdfExtraction extraction = TryExtractUdfImage(this, image, KitExtractFolder);
  CloseHandle(image);
  if (extraction.result != UdfResult::kOk) {
    // A damaged image is said to be one (download it again); other failures
    // keep the program's own words.
    MessageBoxW(GetSafeHwnd(),
                IsDamagedImageResult(extraction.result) ? LookupText(u"IDS_UDFDAMAGED") : CString(u"extraction failed"),
                ProductCaption, MB_OK);
    return false;
  }
  SetDlgItemText(kNext, u"Next");
  return true;
}

bool CSelectIso::InstallKit() {
  SetStatus(LookupText(u"IDS_INSTALLISO"));
  WinPeBitness = IsWow64() ? 64 : 32;
  CString parameters = u" /I " + KitExtractFolder + u"\\" + (WinPeBitness == 32 ? u"wAIKX86.msi" : u"wAIKAMD64.msi") +
                       u" /qf ";
  ShowWindow(SW_HIDE);
  DWORD result = RunAndWait(u"msiexec.exe", parameters, SW_SHOWNORMAL);
  // The page comes back whatever happened; only an installer that ran and
  // reported success counts.
  ShowWindow(SW_SHOW);
  UpdateWindow();
  if ((result & 0xF000) != kRunResultBase) return false;
  DWORD exit_code = result - kRunResultBase;
  return exit_code == kInstallDone || exit_code == kInstallDoneRestart;
}

void CSelectIso::SetProgressRange(uint32_t upper) {
  if (progress_.GetSafeHwnd()) progress_.SetRange32(0, static_cast<int>(upper));
}

void CSelectIso::SetProgressPosition(uint32_t position) {
  if (progress_.GetSafeHwnd()) progress_.SetPos(static_cast<int>(position));
  PumpMessages(GetSafeHwnd());
}

void CSelectIso::ShowStatus(LPCWSTR key, const CString& path) { SetDlgItemText(kStatus, LookupText(key) + path); }

void CSelectIso::OnBrowse() {
  DefaultKitFolder = ProgramFilesFolder() + u"\\Windows AIK";
  if (FindFileOrFolder(DefaultKitFolder).IsEmpty()) {
    DefaultKitFolder.Replace(u" (x86)", u"");
    if (FindFileOrFolder(DefaultKitFolder).IsEmpty()) DefaultKitFolder.Empty();
  }
  BrowseStartFolder = DefaultKitFolder;
  BrowseResultFolder.Empty();
  BrowseForFolder(GetSafeHwnd());
  if (BrowseResultFolder.Find(u"\\Windows AIK") < 0) {
    EnableControl(kNext, false);
    return;
  }
  SetDlgItemText(kFolderEdit, BrowseResultFolder);
  CString shown;
  GetDlgItemText(kFolderEdit, shown);
  if (shown.IsEmpty()) {
    EnableControl(kNext, false);
  } else {
    DownloadState = -1;
    EnableControl(kNext, true);
  }
  SetBuildDefaults();
  CheckDlgButton(WinPeLanguage == u"Japanese" ? 1644 : 1643, BST_CHECKED);
}

void CSelectIso::OnRadio(UINT id) {
  switch (id) {
    case 1036: WinPeBitness = 32; break;
    case 1037: WinPeBitness = 64; break;
    case 1643: WinPeLanguage = u"English"; break;
    case 1644: WinPeLanguage = u"Japanese"; break;
    default: break;
  }
}

void CSelectIso::OnNext() {
  // Enter reaches here too: without a kit folder there is nothing to build.
  CWnd* next = GetDlgItem(kNext);
  if (!next || !next->IsWindowEnabled() || DownloadState == 1) return;
  EndDialog(IDOK);
  RunFennickPage(FennickPage::kBuild);
  EndDialog(IDCANCEL);
}

void CSelectIso::OnBack() {
  EndDialog(IDCANCEL);
  RunFennickPage(FennickPage::kAgreement);
  EndDialog(IDCANCEL);
}

void CSelectIso::OnCancelButton() {
  if (MessageBoxW(GetSafeHwnd(), LookupText(u"IDS_PROGEXIT"), ProductCaption, MB_YESNO | MB_ICONQUESTION) == IDNO)
    return;
  EndFennick();
}

void CSelectIso::OnCancel() {
  // Escape while a download runs would leave its loop on a closed page.
  if (DownloadState == 1) return;
  CFennickPage::OnCancel();
}

BOOL CSelectIso::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
    // Taken here: the dialog's own Enter would end the page and unwind the wizard.
    OnNext();
    return TRUE;
  }
  return CFennickPage::PreTranslateMessage(msg);
}
