// The S.M.A.R.T. attribute dialogs. CDiag (dialog 209): a property list of
// the clone's source disk and, on Refresh, every catalogued attribute of every
// listed disk (read by its physical number), critical ones marked "(CR)", in
// ascending order of id. diag1 (dialog 210): the attribute table alone. Each
// dialog's reader lives as long as the dialog.
#pragma once

#include <cstdint>

#include "disk/smart_reader.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

// The six columns of an attribute table, sized from the list's client width.
void InsertAttributeColumns(CListCtrl& list);
// Replaces the table's rows: per listed disk a heading, its model, serial and
// cache rows, its catalogued attributes and an empty row.
void FillAttributeTable(CListCtrl& list, SmartReader& reader);

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

class diag1 : public CDialog {
 public:
  static constexpr UINT IDD = 210;
  static constexpr int kAttributes = 1027;
  static constexpr int kRefresh = 3;
  static constexpr int kExit = 4;

  explicit diag1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnRefresh();
  void OnExit() { EndDialog(IDCANCEL); }

 private:
  SmartReader reader_;
  DECLARE_MESSAGE_MAP()
};
