#include "support/RecordingDialogs.h"

#include "platform/Cp874.h"

namespace kv::test {

std::string DialogEvent::Utf8() const { return title + ": " + platform::Cp874ToUtf8(text); }

bool RecordingDialogs::NextAnswer() {
  if (answers.empty()) return defaultAnswer;
  bool a = answers.front();
  answers.pop_front();
  return a;
}

void RecordingDialogs::DisplayMessage(int kind, const std::string& text) {
  static const char* const kTitles[] = {"Information", "Error", "Warning"};
  const char* title = (kind >= 1 && kind <= 3) ? kTitles[kind - 1] : "Information";
  events.push_back({title, text, kind, false});
}

bool RecordingDialogs::AskQuestion(ui::Question question, int questionKind, const std::string& text) {
  bool a = NextAnswer();
  events.push_back({question == ui::Question::kTechnicalSupport ? "Caution!" : "Confirm", text, questionKind, a, question});
  return a;
}

bool RecordingDialogs::AskRecovery(const ui::RecoveryQuestion& question) {
  bool a = NextAnswer();
  recoveryQuestions.push_back(question);
  events.push_back({"Attention!", question.fileName, 0, a});
  return a;
}

std::vector<std::string> RecordingDialogs::Lines() const {
  std::vector<std::string> out;
  for (const auto& e : events) out.push_back(e.Utf8());
  return out;
}

}  // namespace kv::test
