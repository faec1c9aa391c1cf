// Dialogs on the terminal: every message and question is one line on standard output,
// "Title: text" in UTF-8. Answers come from the command line's options, or from the
// person at the terminal for the two start-up questions.
#pragma once

#include <functional>
#include <iostream>
#include <streambuf>
#include <string>
#include <utility>

#include "ui/Dialogs.h"

namespace kv::cli {

struct Answers {
  bool yes = false;          // --yes: the technical-support and "Fix..." questions, the undo's
  bool restoreTemp = false;  // --restore-temp: the temporary-file recovery
  bool interactive = false;  // ask those questions on the terminal
};

class CliDialogs : public ui::Dialogs {
 public:
  CliDialogs(Answers answers, std::ostream& out, std::ostream& err, std::istream& in)
      : answers_(answers), out_(out), err_(err), in_(in) {}

  void DisplayMessage(int kind, const std::string& text) override;
  bool AskQuestion(ui::Question question, int questionKind, const std::string& text) override;
  bool AskRecovery(const ui::RecoveryQuestion& question) override;
  // The run calls this once, right after its question was answered Yes.
  void ProcessPendingMessages() override {
    if (runStarts) runStarts();
  }
  void RequestClose() override { closeRequested_ = true; }
  // Printed in UTF-8 after the next error line.
  bool TakeErrorHelp(const std::string& help) override {
    errorHelp_ = help;
    return true;
  }

  bool CloseRequested() const { return closeRequested_; }

  // Set by the repair command: the run is under way, Ctrl+C now stops it.
  std::function<void()> runStarts;
  // Called before each message or question is written (the progress line on the
  // terminal makes room for it).
  std::function<void()> beforeLine;

 private:
  void Line(const std::string& title, const std::string& cp874Text);
  bool AskTerminal();

  Answers answers_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  bool closeRequested_ = false;
  std::string errorHelp_;
};

// A stream buffer that turns each CP874 line written to it into UTF-8 on `out` (the
// error catalogue's explanations).
class Utf8LineBuf : public std::streambuf {
 public:
  explicit Utf8LineBuf(std::ostream& out) : out_(out) {}
  ~Utf8LineBuf() override;

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  void Emit();
  std::ostream& out_;
  std::string line_;
};

// A stream buffer that heads every line written to it with `prefix` on `out` (under
// --all, the company's directory and a tab); an empty prefix passes lines as they are.
class PrefixLineBuf : public std::streambuf {
 public:
  PrefixLineBuf(std::ostream& out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  std::ostream& out_;
  std::string prefix_;
  bool lineStart_ = true;
};

}  // namespace kv::cli
