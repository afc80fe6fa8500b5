// Saves a widget's picture as <name>.png in $QV_SCREENSHOT_DIR when that is set, so a
// screenshot run is the GUI tests run with it.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace qv::test {

inline void SaveShot(QWidget& widget, const char* name) {
    const QString dir = qEnvironmentVariable("QV_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        widget.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
    }
}

}  // namespace qv::test
