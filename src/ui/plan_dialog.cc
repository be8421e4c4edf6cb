#include "ui/plan_dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QProgressDialog>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "tasks/task_eta.h"

namespace velquin::ui {

PlanDialog::PlanDialog(const TaskPlanPreview& plan, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Migration Plan");
  setObjectName("PlanDialog");
  summary_ = new QLabel(QString::fromStdString(
      "Source database [" + plan.database + "]: about " + std::to_string(plan.rows) +
      " rows, estimated time " + DurationText(plan.seconds) +
      ". Nothing has been written yet; Start queues the task."));
  summary_->setWordWrap(true);
  problem_ = new QLabel;
  problem_->setObjectName("PlanProblem");
  problem_->setWordWrap(true);
  problem_->setStyleSheet("color: rgb(176, 0, 0);");
  const std::string& problem = plan.over_limit ? plan.refusal : plan.warning;
  problem_->setText(QString::fromStdString(problem));
  problem_->setVisible(!problem.empty());
  text_ = new QPlainTextEdit(QString::fromStdString(plan.text));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setMinimumSize(760, 360);
  start_ = new QPushButton("Start");
  cancel_ = new QPushButton("Cancel");
  start_->setEnabled(!plan.over_limit);
  (plan.over_limit ? cancel_ : start_)->setDefault(true);
  connect(start_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(start_);
  row->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(problem_);
  layout->addWidget(text_, 1);
  layout->addLayout(row);
}

void RunWithBusyBox(QWidget* parent, const std::string& text, const std::function<void()>& work,
                    int delay_ms) {
  QEventLoop loop;
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::exception_ptr failure;
  std::thread worker([&work, done, &loop, &failure] {
    // An exception ends the work; it is thrown again on the window's thread.
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done->store(true);
    // Wakes the loop on its own thread.
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  QProgressDialog busy(QString::fromStdString(text), QString(), 0, 0, parent);
  busy.setWindowTitle("Please wait");
  busy.setObjectName("BusyBox");
  busy.setWindowModality(Qt::WindowModal);
  busy.setMinimumDuration(0);
  busy.setCancelButton(nullptr);
  busy.reset();  // hidden until the delay has passed
  QTimer show_later;
  show_later.setSingleShot(true);
  QObject::connect(&show_later, &QTimer::timeout, &busy, [&busy, done] {
    if (!done->load()) busy.show();
  });
  show_later.start(delay_ms);
  // The window stays drawn and its timer ticks, but takes no input: the
  // user cannot start a second command on the same session meanwhile.
  if (!done->load()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  busy.hide();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace velquin::ui
