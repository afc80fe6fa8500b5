// Every message box of the desktop program goes through this seam, so tests can read
// what would have been shown and answer it.
#pragma once

#include <QString>

class QWidget;

namespace qv::gui {

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box owned by `parent` (may be null) and returns the button pressed.
    // Closing a Yes/No box by other means answers No.
    virtual BoxAnswer Show(QWidget* parent, const QString& text, const QString& caption,
                           BoxIcon icon, BoxButtons buttons = BoxButtons::Ok) = 0;
};

// Real modal QMessageBoxes.
class QtMessageBoxes final : public MessageBoxes {
  public:
    BoxAnswer Show(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon,
                   BoxButtons buttons = BoxButtons::Ok) override;
};

// The program's name, the caption of its notices.
inline const QString kProgramCaption = QStringLiteral("Tarnwick Server Monitor");

}  // namespace qv::gui
