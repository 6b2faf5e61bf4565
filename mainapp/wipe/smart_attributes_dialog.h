// The S.M.A.R.T. attribute dialog (dialog 209): a property list of the
// clone's source disk and, on Refresh, every catalogued attribute of every
// listed disk (read by its physical number), critical ones marked "(CR)",
// in ascending order of id. The reader lives as long as the dialog.
#pragma once

#include <cstdint>

#include "disk/smart_reader.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CDiag : public CDialog {
 public:
  static constexpr UINT IDD = 209;
  static constexpr int kAttributes = 1027;
  static constexpr int kProperties = 1006;
  static constexpr int kStatus = 1097;

  explicit CDiag(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override { OnRefresh(); }
  void OnRefresh();
  void FillPropertyList();

 private:
  SmartReader reader_;
  DECLARE_MESSAGE_MAP()
};
