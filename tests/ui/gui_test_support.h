// Helpers for the GUI tests: one offscreen QApplication for the process and
// message boxes answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
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

// Runs `act` on the modal dialog of type D as soon as it is open (polled
// every 10 ms for up to 5 s); a dialog that never opens fails the test.
template <typename D>
void WhenOpen(std::function<void(D*)> act) {
  auto* poll = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, act, tries] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    if (dialog == nullptr && ++*tries < 500) return;
    poll->stop();
    poll->deleteLater();
    if (dialog == nullptr) {
      ADD_FAILURE() << "the dialog did not open";
      return;
    }
    act(dialog);
  });
  poll->start(10);
}

}  // namespace velquin::ui::testing_support
