// The deployment-kit page CSelectIso (dialog 964): finds the installed kit,
// or downloads its disc image with pause and resume, extracts it and runs
// its installer package through msiexec; Browse points the page at a kit
// folder instead.
#pragma once

#include <cstdint>

#include "pebuilder/fennick_frame.h"
#include "pebuilder/udf_image.h"

// The host of the kit vendor's download server (the simulated PC's
// machine.ini [network] section says where it goes).
inline constexpr const char16_t* kKitHost = u"download.kit-vendor.example";

// 0 idle, 1 downloading, 2 paused, -1 kit present.
extern int DownloadState;
extern CString KitDownloadUrl;
extern CString DownloadFolder;
extern CString DownloadFilePath;
extern int64_t DownloadTotal;
extern int64_t DownloadedBytes;
extern bool KitInstalledThisRun;
extern bool BackFromBuildPage;
extern CString DefaultKitFolder;
extern int WinPeBitness;

// How a download press ended.
enum class DownloadResult {
  kComplete,
  kPaused,
  kFileFailed,   // the image file under DownloadFolder could not be made or written
  kOffline,      // no connection, or the request failed
  kBadAnswer,    // a status other than 200/206, or no or a zero length
  kTruncated,    // the connection ended before the announced length
};

class CSelectIso : public CFennickPage, public UdfExtractPage {
 public:
  static constexpr UINT IDD = 964;
  explicit CSelectIso(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void OnNext();
  void OnBack();
  void OnBrowse();
  void OnDownloadButton();
  void OnCancelButton();
  void OnCancel() override;
  void OnRadio(UINT id);

  // UdfExtractPage
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void ShowStatus(LPCWSTR key, const CString& path) override;

 private:
  void DetectInstalledKit();
  void UpdateDownloadButton();
  void SetStatus(const CString& text);
  DownloadResult DownloadKitImage(bool fresh);
  bool ExtractKitImage();
  bool InstallKit();
  CString ProgressText() const;

  CEdit folder_;
  CProgressCtrl progress_;
  DECLARE_MESSAGE_MAP()
};

void SetBuildDefaults();
