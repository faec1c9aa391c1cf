#include "cli/CliDialogs.h"

#include "platform/Cp874.h"

namespace kv::cli {

void CliDialogs::Line(const std::string& title, const std::string& cp874Text) {
  if (beforeLine) beforeLine();
  out_ << title << ": " << platform::Cp874ToUtf8(cp874Text) << '\n';
  out_.flush();
}

void CliDialogs::DisplayMessage(int kind, const std::string& text) {
  static const char* const kTitles[] = {"Information", "Error", "Warning"};
  Line(kind >= 1 && kind <= 3 ? kTitles[kind - 1] : "Information", text);
  if (kind == ui::kError && !errorHelp_.empty()) {
    out_ << platform::Cp874ToUtf8(errorHelp_);
    out_.flush();
    errorHelp_.clear();
  }
}

bool CliDialogs::AskTerminal() {
  err_ << "[y/N] " << std::flush;
  std::string reply;
  if (!std::getline(in_, reply)) return false;
  return reply == "y" || reply == "Y" || reply == "yes" || reply == "Yes" || reply == "YES";
}

bool CliDialogs::AskQuestion(ui::Question question, int /*questionKind*/, const std::string& text) {
  Line(question == ui::Question::kTechnicalSupport ? "Caution!" : "Confirm", text);
  bool answer = false;
  const bool startQuestion = question == ui::Question::kTechnicalSupport || question == ui::Question::kFix ||
                             question == ui::Question::kUndo;
  if (startQuestion) {
    answer = answers_.yes || (answers_.interactive && AskTerminal());
  }
  // Any other question (a lock conflict that outlasted the silent retries) is answered
  // No: an unattended run stops rather than wait on another program.
  err_ << (answer ? "-> Yes" : "-> No") << '\n';
  return answer;
}

bool CliDialogs::AskRecovery(const ui::RecoveryQuestion& q) {
  Line("Attention!", platform::Th("แฟ้มข้อมูลที่ตรวจพบ: ") + q.fileName + ", " + platform::Th("ขนาดของ .SAV หรือ .IX~: ") +
                         q.tempSize + ", " + platform::Th("ขนาดของ .DAT หรือ .IX: ") + q.normalSize + " - " +
                         platform::Th("ท่านต้องการเปลี่ยนแฟ้มชั่วคราวกลับมาเป็นแฟ้มข้อมูลปกติ?"));
  err_ << (answers_.restoreTemp ? "-> Yes" : "-> No") << '\n';
  if (!answers_.restoreTemp)
    err_ << "the run ends here, nothing changed; repair --restore-temp puts the temporary copy back (the file it "
            "replaces is kept beside as .KEPT and named in the report) and continues\n";
  return answers_.restoreTemp;
}

Utf8LineBuf::~Utf8LineBuf() {
  if (!line_.empty()) Emit();
}

Utf8LineBuf::int_type Utf8LineBuf::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  if (c == '\n') {
    Emit();
  } else {
    line_ += c;
  }
  return ch;
}

int Utf8LineBuf::sync() {
  out_.flush();
  return 0;
}

void Utf8LineBuf::Emit() {
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  out_ << platform::Cp874ToUtf8(line_) << '\n';
  out_.flush();
  line_.clear();
}

PrefixLineBuf::int_type PrefixLineBuf::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  if (lineStart_) out_ << prefix_;
  out_.put(c);
  lineStart_ = c == '\n';
  return ch;
}

int PrefixLineBuf::sync() {
  out_.flush();
  return 0;
}

}  // namespace kv::cli
