// The plan of a database task, shown before it is queued: a summary line
// (rows and time estimate), the plan's text as the command line prints it,
// and Start / Cancel. A plan over Access's size limit disables Start and
// says why. Also the busy box shown while something slow runs off the
// window's thread.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "app/task_plan.h"

namespace velquin::ui {

class PlanDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PlanDialog(const TaskPlanPreview& plan, QWidget* parent = nullptr);
  QLabel* summary_label() const { return summary_; }
  // Why the task cannot start (hidden when it can), or the near-limit warning.
  QLabel* problem_label() const { return problem_; }
  QPlainTextEdit* plan_box() const { return text_; }
  QPushButton* start_button() const { return start_; }
  QPushButton* cancel_button() const { return cancel_; }

 private:
  QLabel* summary_ = nullptr;
  QLabel* problem_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Runs `work` on a thread of its own while the window's events go on; after
// `delay_ms` without an end a modal busy box saying `text` shows (so a quick
// catalogue read does not flash one). Returns when `work` has ended; an
// exception `work` threw is thrown again here.
void RunWithBusyBox(QWidget* parent, const std::string& text, const std::function<void()>& work,
                    int delay_ms = 300);

}  // namespace velquin::ui
