// Fennick's application and its agreement (741), build (965) and final (1322)
// pages; the deployment-kit page (964) is in kit_page.h. Each page ends its
// own modal loop and runs its neighbour through RunFennickPage.
#pragma once

#include "pebuilder/fennick_frame.h"

class CFennickApp : public CWinApp {
 public:
  CFennickApp();
  BOOL InitInstance() override;
};

// Loads the face bitmaps and font heights and runs the agreement page; true.
bool RunAgreementPage();

// The agreement page's choice; it outlives the page.
extern bool AgreementAccepted;
// Flags of the build page.
extern bool BuildStarted;
extern bool IsoReady;

class CLicense : public CFennickPage {
 public:
  static constexpr UINT IDD = 741;
  explicit CLicense(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void OnAccept();
  void OnDecline();
  void OnNext();
  void OnBack();
  void OnCancelButton();

 private:
  DECLARE_MESSAGE_MAP()
};

class CCreateIso : public CFennickPage {
 public:
  static constexpr UINT IDD = 965;
  explicit CCreateIso(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void OnStart();
  void OnNextAction();
  void OnBack();
  void OnSkip();
  void OnCancelButton();
  void ElapsedTimeRefresh();

 private:
  void ProgressStep(int percent);
  CProgressCtrl progress_;
  DWORD startTick_ = 0;
  DECLARE_MESSAGE_MAP()
};

class CMsgBox1 : public CFennickPage {
 public:
  static constexpr UINT IDD = 1322;
  explicit CMsgBox1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void OnYes();
  void OnNo();
  void OnCancel() override {}  // Escape does nothing here

 private:
  CFont messageFont_;
  DECLARE_MESSAGE_MAP()
};
