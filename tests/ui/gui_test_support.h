// Helpers for the GUI tests: one offscreen QApplication for the process and
// message boxes answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <deque>
#include <string>
#include <vector>

#include "app/message_boxes.h"

namespace velquin::ui::testing_support {

inline QApplication* App() {
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

class ScriptedBoxes : public MessageBoxes {
 public:
  BoxAnswer Show(const std::string& text, BoxButtons buttons, BoxIcon,
                 const std::string& title) override {
    shown.push_back(text);
    titles.push_back(title);
    if (buttons == BoxButtons::kOk) return BoxAnswer::kOk;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return BoxAnswer::kCancel;
    }
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<BoxAnswer> answers;
  std::vector<std::string> shown;
  std::vector<std::string> titles;
};

}  // namespace velquin::ui::testing_support
