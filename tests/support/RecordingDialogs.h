// A Dialogs implementation for tests: answers questions from a script and records
// every message and question with its title, in order.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/Dialogs.h"

namespace kv::test {

struct DialogEvent {
  std::string title;  // "Information", "Error", "Warning", "Confirm", "Caution!", "Attention!"
  std::string text;   // CP874 as shown (questions with the "?" rule applied)
  int kind = 0;       // message kind or question kind
  bool answer = false;
  ui::Question question = ui::Question::kFix;  // for questions: which one
  std::string Utf8() const;  // "title: text" in UTF-8, for readable failures
};

class RecordingDialogs : public ui::Dialogs {
 public:
  // Answers for questions, in order. When the script runs out, `defaultAnswer` is used.
  std::deque<bool> answers;
  bool defaultAnswer = false;

  std::vector<DialogEvent> events;
  int pendingMessagesProcessed = 0;
  int closeRequests = 0;

  void DisplayMessage(int kind, const std::string& text) override;
  bool AskQuestion(ui::Question question, int questionKind, const std::string& text) override;
  bool AskRecovery(const ui::RecoveryQuestion& question) override;
  void ProcessPendingMessages() override { ++pendingMessagesProcessed; }
  void RequestClose() override { ++closeRequests; }

  std::vector<ui::RecoveryQuestion> recoveryQuestions;
  // All events as "title: text" lines in UTF-8.
  std::vector<std::string> Lines() const;

 private:
  bool NextAnswer();
};

// Runs `onQuestion` before answering a question as scripted: a test lets the other
// station give up its lock at the moment the program asks about the conflict.
class ReleasingDialogs : public RecordingDialogs {
 public:
  std::function<void()> onQuestion;
  bool AskQuestion(ui::Question question, int kind, const std::string& text) override {
    if (onQuestion) onQuestion();
    return RecordingDialogs::AskQuestion(question, kind, text);
  }
};

}  // namespace kv::test
