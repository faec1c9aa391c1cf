// The one way the core talks to the user. The desktop program implements it with Qt
// windows, the command-line program with lines on the terminal, the tests with a
// scripted fake that records every title and text.
//
// Every text is CP874 bytes. Titles are fixed per kind: message kind 1 "Information",
// 2 "Error", 3 "Warning"; the yes/no question "Confirm"; the technical-support
// question "Caution!"; the temporary-file recovery question "Attention!".
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace kv::ui {

enum MessageKind : int { kInformation = 1, kError = 2, kWarning = 3 };
enum QuestionKind : int { kQuestionYesDefault = 1, kQuestionNoDefault = 2 };

// Which question is asked. A front end that answers for the user (the command line from
// its options) goes by this, never by the text, which carries numbers and names. The
// technical-support question is the one shown with the technical-support warning.
enum class Question {
  kTechnicalSupport,  // at start-up: repair error 207 at all?
  kFix,               // before the repair run
  kUndo,              // before an undo puts the reported amounts back
  kLockConflict,      // a lock conflict outlasted the silent retries: try again?
  kCreateDirectory,   // a company's directory is missing: create it?
  kDefineCompany,     // a row without a company: define one?
  kDeleteCompany,     // remove a company from the list?
};

// What the temporary-file recovery question shows.
struct RecoveryQuestion {
  std::string fileName;   // e.g. "GLFILE01.SAV" (CP874)
  std::string tempSize;   // e.g. "100,000 byte(s)"
  std::string normalSize; // e.g. "50,000 byte(s)"
};

// Appends "?" unless the text already ends in "?" or ".". Applied by the core before
// a question reaches the implementation, so every front end shows the same text.
std::string ApplyQuestionRule(std::string_view text);

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal message with an OK button.
  virtual void DisplayMessage(int kind, const std::string& text) = 0;
  // A yes/no question; `text` already has the "?" rule applied. True only for Yes.
  // Question::kTechnicalSupport is shown as the technical-support question.
  virtual bool AskQuestion(Question question, int questionKind, const std::string& text) = 0;
  // The temporary-file recovery question. True only for Yes.
  virtual bool AskRecovery(const RecoveryQuestion& question) = 0;
  // Let the window system handle what is waiting (once).
  virtual void ProcessPendingMessages() = 0;
  // Ask the main window to close (the program ends when control returns to the
  // window system). The core goes on until then; see EndRun.
  virtual void RequestClose() = 0;
  // The error catalogue's explanation (CP874 lines) of a fatal error whose message
  // comes next: a front end that shows it with that error message (a details area, the
  // lines after it) returns true; false leaves it to the caller's help stream.
  virtual bool TakeErrorHelp(const std::string& /*help*/) { return false; }

  void ShowInformation(const std::string& text) { DisplayMessage(kInformation, text); }
  void ShowError(const std::string& text) { DisplayMessage(kError, text); }
  void ShowWarning(const std::string& text) { DisplayMessage(kWarning, text); }
  bool AskForYesNo(Question question, std::string_view text) {
    return AskQuestion(question, kQuestionYesDefault, ApplyQuestionRule(text));
  }
  bool AskForYesNoTechnicalSupport(int kind, std::string_view text) {
    return AskQuestion(Question::kTechnicalSupport, kind, ApplyQuestionRule(text));
  }
};

// Why a run, an undo or their start-up ended before their end. The core says why; only
// the front ends turn a reason into an exit status.
enum class EndReason : uint8_t {
  kNone,          // not ended early: it ran its course
  kDeclined,      // a question before anything changed was answered No
  kNoModuleData,  // the company directory holds no module information file
  kStopped,       // the user asked for a stop (a button, a key, Ctrl+C, a signal)
  kAnsweredNo,    // a question during the run was answered No (a lock conflict that outlasts the retries)
  kOpenFailed,    // a module data file could not be opened or made (reported), or its recovery was refused
  kReportFailed,  // the repair report could not be made, or not written ahead of a record
  kIoError,       // a side, information or settings file or a directory failed (the standard message)
  kEngineFailed,  // the engine did not start
  kNotReady,      // the run or undo was asked for without a start-up that got it ready
};

// "End the process" inside the run, and why. Thrown by the core, caught by the front
// end, which stops the engine (closing every file block, releasing every lock) before
// it exits. The core never calls exit().
class EndRun : public std::exception {
 public:
  explicit EndRun(EndReason reason) : reason_(reason) {}
  EndReason reason() const { return reason_; }
  const char* what() const noexcept override { return "run ended"; }

 private:
  EndReason reason_;
};

}  // namespace kv::ui
