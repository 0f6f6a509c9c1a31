#pragma once
// Small icons of the editors, drawn in code: the padlock of the lock buttons and the eyedropper of
// the sampling buttons. Main thread only.

#include <QColor>
#include <QIcon>

namespace halvora::toolIcons {

/// A padlock whose shackle is shut for the button's checked state and open otherwise.
QIcon padlock();
/// An eyedropper whose tip has `tip` colour (black point, white point, neutral grey).
QIcon eyedropper(const QColor& tip);

} // namespace halvora::toolIcons
