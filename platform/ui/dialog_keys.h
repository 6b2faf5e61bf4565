// The dialog manager's keyboard beyond Tab, Enter and Escape: mnemonics.
// A view posts a key pressed with Alt as WM_SYSCHAR (Alt+B); a dialog takes
// that, and a plain letter where no control takes typing, as the mnemonic
// of a control.
#pragma once

#include <string>

#include "platform/ui/winuser.h"

constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;

namespace platform::ui {

// The mnemonic of a control or menu text: the character after its single
// '&' ("&&" stands for '&' itself), or 0.
char16_t MnemonicOf(const std::u16string& text);

}  // namespace platform::ui
