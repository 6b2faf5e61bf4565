// The families a face name draws with, for the platform's drawing and the
// view's widgets alike.
#pragma once

#include <QStringList>
#include <string>

namespace platform::ui {

// The face's stand-in (FontFamilyFor) for Latin text, then a proportional
// Japanese family for the characters the stand-in lacks.
QStringList QtFamiliesFor(const std::u16string& face);

}  // namespace platform::ui
