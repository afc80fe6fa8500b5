// A message-box seam for GUI tests: records every box and answers from a queue (Ok, or
// Yes for a Yes/No box, when the queue is empty).
#pragma once

#include <deque>
#include <vector>

#include "gui/message_boxes.h"

namespace qv::test {

struct ShownBox {
    QString text;
    QString caption;
    gui::BoxIcon icon;
    gui::BoxButtons buttons;
};

class FakeMessageBoxes final : public gui::MessageBoxes {
  public:
    gui::BoxAnswer Show(QWidget*, const QString& text, const QString& caption, gui::BoxIcon icon,
                        gui::BoxButtons buttons) override {
        shown.push_back({text, caption, icon, buttons});
        if (!answers.empty()) {
            gui::BoxAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == gui::BoxButtons::YesNo ? gui::BoxAnswer::Yes : gui::BoxAnswer::Ok;
    }
    std::vector<ShownBox> shown;
    std::deque<gui::BoxAnswer> answers;
};

}  // namespace qv::test
