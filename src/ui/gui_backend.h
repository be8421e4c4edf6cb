// GuiBackend: what the main window needs from the core, beyond the command
// host: the task rows to show, the queue edits of the task list, and the
// channels by which output lines and worker status texts arrive (from any
// thread; the window re-posts them to its own thread).
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "app/commands.h"
#include "ui/task_list_page.h"

namespace velquin::ui {

class GuiBackend : public CommandHost {
 public:
  using LineSink = std::function<void(int line_class, const QString& line)>;
  using TextSink = std::function<void(const QString& text)>;

  virtual std::vector<TaskGridRow> TaskRows() = 0;
  virtual void DeleteTask(int row) = 0;
  virtual void MoveTask(int row, int delta) = 0;
  virtual void ClearTasks() = 0;
  // Output lines (class as PaneLineClass) and the worker's status texts.
  virtual void SetSinks(LineSink lines, TextSink status) = 0;
  // The source tree's tool tip for a table: its condition, or empty.
  virtual std::string TableCondition(const std::string& database, const std::string& table) = 0;
  // Double click on a database: make it the side's current one and refill.
  virtual void UseDatabase(bool target, const std::string& name) = 0;
};

}  // namespace velquin::ui
