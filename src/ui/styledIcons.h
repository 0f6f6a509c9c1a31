#pragma once
// The program's icons, drawn in code so they follow the style's colours and scale without picture
// files: the application mark, the four message-box kinds and the title-bar glyphs. Main thread.

#include <QIcon>
#include <QPixmap>

namespace halvora::styledIcons {

enum glyph { minimiseGlyph, resizeGlyph, closeGlyph };
enum messageKind { informationIcon, warningIcon, errorIcon, confirmationIcon };

/// The application mark (an aperture of six blades in the colours of a bracket) at size × size.
QPixmap application(int size);
/// The icon of a message-box kind at size × size.
QPixmap message(messageKind kind, int size);
/// A title-bar button glyph in light grey (and white when active).
QIcon titleButton(glyph g);

} // namespace halvora::styledIcons
