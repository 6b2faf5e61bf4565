// The model and the framework wrapper for each built-in window kind.
#include "platform/ui/controls.h"

namespace platform::ui {

std::unique_ptr<ControlModel> MakeControlModel(WindowKind kind, Window&) {
  switch (kind) {
    case WindowKind::Static: return std::make_unique<StaticModel>();
    case WindowKind::Button: return std::make_unique<ButtonModel>();
    case WindowKind::Edit: return std::make_unique<EditModel>();
    case WindowKind::RichEdit: return std::make_unique<RichEditModel>();
    case WindowKind::ListBox: return std::make_unique<ListBoxModel>();
    case WindowKind::ComboBox: return std::make_unique<ComboBoxModel>();
    case WindowKind::ListView: return std::make_unique<ListViewModel>();
    case WindowKind::TreeView: return std::make_unique<TreeViewModel>();
    case WindowKind::Progress: return std::make_unique<ProgressModel>();
    case WindowKind::Slider: return std::make_unique<SliderModel>();
    default: return nullptr;
  }
}

std::unique_ptr<::CWnd> MakeWrapperFor(WindowKind kind) {
  switch (kind) {
    case WindowKind::Static: return std::make_unique<CStatic>();
    case WindowKind::Button: return std::make_unique<CButton>();
    case WindowKind::Edit: return std::make_unique<CEdit>();
    case WindowKind::RichEdit: return std::make_unique<CRichEditCtrl>();
    case WindowKind::ListBox: return std::make_unique<CListBox>();
    case WindowKind::ComboBox: return std::make_unique<CComboBox>();
    case WindowKind::ListView: return std::make_unique<CListCtrl>();
    case WindowKind::TreeView: return std::make_unique<CTreeCtrl>();
    case WindowKind::Progress: return std::make_unique<CProgressCtrl>();
    case WindowKind::Slider: return std::make_unique<CSliderCtrl>();
    default: return std::make_unique<::CWnd>();
  }
}

}  // namespace platform::ui
