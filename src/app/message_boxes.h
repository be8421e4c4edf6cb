// MessageBoxes and CommandUi: how commands talk to the user.
//
// Commands decide; the user interface only asks and shows. The GUI implements
// these with QMessageBox, the tips pane and QFileDialog; tests implement them
// with scripted answers, so every question can be answered and checked.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/task_plan.h"

namespace velquin {

// kReplaceAppendCancel: the question about objects a target holds already.
enum class BoxButtons { kOk, kOkCancel, kYesNo, kReplaceAppendCancel };
enum class BoxIcon { kNone, kInformation, kQuestion, kWarning };
enum class BoxAnswer { kOk, kCancel, kYes, kNo, kReplace, kAppend };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows `text` (title may be empty: the program's caption) and returns the
  // button pressed. A box with only OK returns kOk.
  virtual BoxAnswer Show(const std::string& text, BoxButtons buttons, BoxIcon icon,
                         const std::string& title) = 0;

  void Inform(const std::string& text, const std::string& title = "") {
    Show(text, BoxButtons::kOk, BoxIcon::kInformation, title);
  }
  bool AskOkCancel(const std::string& text, BoxIcon icon = BoxIcon::kQuestion) {
    return Show(text, BoxButtons::kOkCancel, icon, "") == BoxAnswer::kOk;
  }
  bool AskYesNo(const std::string& text, BoxIcon icon = BoxIcon::kQuestion) {
    return Show(text, BoxButtons::kYesNo, icon, "") == BoxAnswer::kYes;
  }
};

// The lower tab window's pages, by index.
inline constexpr int kLogPage = 0;
inline constexpr int kTaskListPage = 1;
inline constexpr int kTipsPage = 2;

class CommandUi : public MessageBoxes {
 public:
  // Writes `text` into the tips pane after its "F1 to Help:" line.
  virtual void Hint(const std::string& text) = 0;
  // Shows page `index` of the lower tab window.
  virtual void ShowPage(int index) = 0;
  // A folder chooser titled `title`; nothing when the user cancels.
  virtual std::optional<std::string> ChooseFolder(const std::string& title) = 0;
  // Rebuilds the task list at once.
  virtual void RefreshTaskList() = 0;
  // Titles the folder of a side's tree ("MySQL", "Access", then DBMS names).
  virtual void SetTreeTitle(bool target, const std::string& title) = 0;
  // Clears the drop highlight left by a drag onto the target tree.
  virtual void ClearDropHighlight() {}
  // The start/stop button's look: running, stopping or idle.
  virtual void ShowWorkerButton(int /*run_state*/) {}
  // The path of a new database file, chosen starting in `folder`; nothing
  // when the user cancels.
  virtual std::optional<std::string> ChooseNewDatabaseFile(const std::string& /*folder*/) {
    return std::nullopt;
  }
  // The character-set dialog, opened on `*name`; true (and the choice in
  // `*name`) when closed with Select.
  virtual bool ChooseCharset(std::string* /*name*/) { return false; }

  // Runs `work` while the user waits; a window shows a busy box saying
  // `text` when it takes more than a moment, and stays responsive.
  virtual void RunBusy(const std::string& /*text*/, const std::function<void()>& work) { work(); }
  // Shows a database task's plan with Start and Cancel (a plan that cannot
  // start offers no Start and says why); true when the user chose Start.
  virtual bool ConfirmPlan(const TaskPlanPreview& plan) {
    if (plan.over_limit) {
      Show(plan.text + "\n" + plan.refusal, BoxButtons::kOk, BoxIcon::kWarning, "");
      return false;
    }
    return Show(plan.text, BoxButtons::kOkCancel, BoxIcon::kQuestion, "") == BoxAnswer::kOk;
  }

  // A precondition the user violated: hint, tips page and box at once.
  void Refuse(const std::string& hint, const std::string& box, const std::string& title = "") {
    Hint(hint);
    ShowPage(kTipsPage);
    Show(box, BoxButtons::kOk, BoxIcon::kWarning, title);
  }
};

}  // namespace velquin
