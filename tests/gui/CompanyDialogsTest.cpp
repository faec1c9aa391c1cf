// The company selection windows driven as a person would: keys, the context menu and the
// two editors, on the offscreen platform. Modal windows are answered from timers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <deque>
#include <functional>

#include "GuiTestSupport.h"
#include "company/CompanyFiles.h"
#include "company/CompanyList.h"
#include "gui-qt/OpenCompanyCommon.h"
#include "gui-qt/OpenCompanyDialog.h"
#include "gui-qt/OpenCompanyEditDialog.h"
#include "gui-qt/ReportTemplateDialog.h"
#include "gui-qt/SelectCompany.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/Path.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "support/RecordingDialogs.h"

namespace kv::gui {
namespace {

using platform::Th;
using test::CompanyFiles;

// Steps run in order, each once the modal window it waits for is the active one. Every
// step runs from its own zero timer, so a step that opens a nested modal window does not
// hold up the steps that answer it.
class ModalScript {
 public:
  ModalScript() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(5);
  }
  ~ModalScript() {
    timer_.stop();
    EXPECT_TRUE(steps_.empty()) << "steps left: " << steps_.size() << ", first: " << steps_.front().what;
  }

  template <class T>
  ModalScript& On(std::string what, std::function<void(T&)> act) {
    steps_.push_back({std::move(what), [] {
                        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
                        if (w == nullptr || !w->isVisible()) return false;
                        if constexpr (std::is_same_v<T, OpenCompanyDialog>) return w->IsReady();
                        return true;
                      },
                      [act] { act(*qobject_cast<T*>(QApplication::activeModalWidget())); }});
    return *this;
  }

 private:
  struct Step {
    std::string what;
    std::function<bool()> ready;
    std::function<void()> act;
  };

  void Tick() {
    if (steps_.empty() && QApplication::activeModalWidget() == nullptr) return;
    if (steps_.empty() || !steps_.front().ready()) {
      if (++idle_ > 1000) {  // five seconds: give up and close what is open
        ADD_FAILURE() << "never reached: " << (steps_.empty() ? "the end of the script" : steps_.front().what);
        steps_.clear();
        while (QWidget* w = QApplication::activeModalWidget()) {
          if (auto* d = qobject_cast<QDialog*>(w)) {
            d->reject();
          } else {
            w->close();
          }
          if (QApplication::activeModalWidget() == w) break;
        }
      }
      return;
    }
    idle_ = 0;
    auto act = steps_.front().act;
    steps_.pop_front();
    QTimer::singleShot(0, act);
  }

  QTimer timer_;
  std::deque<Step> steps_;
  int idle_ = 0;
};

void Key(QWidget& window, int key) {
  if (QApplication::activeWindow() != &window) {
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr || target->window() != &window) target = &window;
  QTest::keyClick(target, static_cast<Qt::Key>(key));
}

int Row(OpenCompanyDialog& d) { return d.CurrentRow(); }

// Runs `d` modally and calls `act` once it shows.
void WhenShown(QDialog& d, const std::function<void()>& act) {
  guitest::WhenModal([&act](QWidget*) { act(); });
  d.exec();
}
std::string Name(OpenCompanyDialog& d, int row) { return d.Selection().Row(row).name; }

class CompanyDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    acme = files.Dir("acme");
    beta = files.Dir("beta");
    cee = files.Dir("cee");
  }
  void TearDown() override {
    QApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      EXPECT_FALSE(w->isVisible()) << "left open: " << w->metaObject()->className();
    }
  }
  void WriteList(const std::vector<std::string>& lines) { CompanyFiles::Write(files.ListPath(), CompanyFiles::CrLf(lines)); }
  void WriteCfg(const std::vector<std::string>& lines) { CompanyFiles::Write(files.CfgPath(), CompanyFiles::CrLf(lines)); }
  std::string List() const { return CompanyFiles::Read(files.ListPath()); }
  std::string Cfg() const { return CompanyFiles::Read(files.CfgPath()); }
  std::string Remembered(const std::string& dir, const std::string& company, int select = 0) {
    return "OPENCOMPANY_DIR=" + dir + "\r\nOPENCOMPANY_COMPANY=" + company + "\r\nOPENCOMPANY_SELECT=" +
           std::to_string(select) + "\r\n";
  }

  CompanyFiles files;
  test::RecordingDialogs dialogs;
  std::string acme, beta, cee;
};

// ---- The whole choice, as a person makes it --------------------------------------------

TEST_F(CompanyDialogsTest, ChoosingByKeysReturnsTheDirectoryAndRewritesBothFiles) {
  WriteList({"Acme;" + acme, Th("บริษัท เบต้า") + ";" + beta});
  WriteCfg({"; kept", "OPENCOMPANY_DIR=" + acme, "OPENCOMPANY_COMPANY=ACME", "OPENCOMPANY_SELECT=0",
            "OPENCOMPANY_COLPOSITION=335", "USER_COLOR_TYPE=2"});
  const std::string elsewhere = files.Dir("elsewhere");
  ASSERT_EQ(platform::ChangeDirectory(elsewhere), platform::OsError::kNone);

  ModalScript script;
  script.On<OpenCompanyDialog>("the list", [](OpenCompanyDialog& d) {
    EXPECT_EQ(Row(d), 1);  // the remembered company
    EXPECT_FALSE(d.AutoSelectBox()->isChecked());
    QTest::keyClick(d.Grid(), Qt::Key_Down);
    EXPECT_EQ(Row(d), 2);
    d.AutoSelectBox()->setFocus();
    QTest::keyClick(d.AutoSelectBox(), Qt::Key_Space);
    EXPECT_TRUE(d.AutoSelectBox()->isChecked());
    QTest::keyClick(d.AutoSelectBox(), Qt::Key_Return);
  });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), beta);

  EXPECT_EQ(platform::CurrentDirectory(), elsewhere);
  EXPECT_EQ(List(), CompanyFiles::Ninety({"Acme;" + acme, Th("บริษัท เบต้า") + ";" + beta}));
  EXPECT_EQ(Cfg(), CompanyFiles::CrLf({"; kept", "OPENCOMPANY_DIR=" + beta,
                                       "OPENCOMPANY_COMPANY=" + Th("บริษัท เบต้า"), "OPENCOMPANY_SELECT=1",
                                       "OPENCOMPANY_COLPOSITION=335", "USER_COLOR_TYPE=2"}));
  EXPECT_TRUE(dialogs.events.empty()) << dialogs.Lines().front();
}

TEST_F(CompanyDialogsTest, ANewListOpensTheEditorAtOnceAndTheFirstEntryIsChosen) {
  const std::string datafile = files.start + "/DATAFILE";
  dialogs.answers = {true};  // make DATAFILE
  ModalScript script;
  script
      .On<OpenCompanyEditDialog>("the editor on row 1",
                                 [&](OpenCompanyEditDialog& e) {
                                   EXPECT_EQ(e.windowTitle(), "Edit Company");
                                   EXPECT_EQ(e.size(), QSize(494, 150));
                                   EXPECT_EQ(e.NameField()->text(), "");
                                   EXPECT_EQ(e.DirectoryField()->text().toStdString(), datafile);
                                   EXPECT_EQ(QApplication::focusWidget(), e.NameField());
                                   QTest::keyClicks(e.NameField(), QString(60, QLatin1Char('x')));
                                   EXPECT_EQ(e.NameField()->text().size(), 50);
                                   e.NameField()->setText(FromCp874(Th("ทดสอบ;จำกัด")));
                                   Key(e, Qt::Key_F10);
                                 })
      .On<OpenCompanyDialog>("the list with its first entry", [](OpenCompanyDialog& d) {
        EXPECT_TRUE(d.SelectButton()->isEnabled());
        Key(d, Qt::Key_F10);
      });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), datafile);
  EXPECT_TRUE(platform::DirectoryExists(datafile));
  ASSERT_EQ(dialogs.events.size(), 1u);
  EXPECT_EQ(dialogs.events[0].text, Th("ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?"));
  EXPECT_EQ(List(), CompanyFiles::Ninety({Th("ทดสอบ;จำกัด") + ";" + datafile}));
  EXPECT_EQ(Cfg(), CompanyFiles::CrLf({"OPENCOMPANY_DIR=" + datafile, "OPENCOMPANY_COMPANY=" + Th("ทดสอบ;จำกัด"),
                                       "OPENCOMPANY_SELECT=0", "OPENCOMPANY_COLPOSITION=335"}));
}

TEST_F(CompanyDialogsTest, EscInTheFirstEditorAndInTheListMakesNoChoiceAndChangesNothing) {
  WriteList({"Nameless;", "x"});
  WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
  ModalScript script;
  script
      .On<OpenCompanyEditDialog>("the editor on the empty list",
                                 [](OpenCompanyEditDialog& e) {
                                   EXPECT_EQ(e.NameField()->text(), "Nameless");
                                   e.NameField()->setText("changed");
                                   e.DirectoryField()->setText("/changed");
                                   Key(e, Qt::Key_Escape);
                                 })
      .On<OpenCompanyDialog>("the list", [](OpenCompanyDialog& d) {
        EXPECT_EQ(Name(d, 1), "Nameless");
        EXPECT_EQ(d.Selection().Row(1).directory, "");
        EXPECT_FALSE(d.SelectButton()->isEnabled());
        Key(d, Qt::Key_Escape);
      });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), "");
  EXPECT_EQ(List(), CompanyFiles::CrLf({"Nameless;", "x"}));
  EXPECT_EQ(Cfg(), CompanyFiles::CrLf({"OPENCOMPANY_COLPOSITION=335"}));
  EXPECT_TRUE(dialogs.events.empty());
}

TEST_F(CompanyDialogsTest, AListThatCannotBeWrittenEndsTheWindowWithAnIoError) {
  WriteList({"A;" + acme});
  WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
  ModalScript script;
  script.On<OpenCompanyDialog>("the list", [](OpenCompanyDialog& d) {
    Key(d, Qt::Key_Insert);
    platform::SetFaultPlan({platform::Op::kRename, 1, true, platform::FaultKind::kError, 5});
    Key(d, Qt::Key_Escape);
  });
  EXPECT_THROW(SelectCompanyDirectory(files.settings, dialogs), platform::IoError);
  platform::ClearFaults();
  EXPECT_EQ(List(), CompanyFiles::CrLf({"A;" + acme}));
}

// ---- Company paths as users have them ----------------------------------------------------

// The list holds CP874; the directories on disk have UTF-8 names. Each kind of path is
// found as it is (no "not found", no second directory made beside it) and chosen whole.
TEST_F(CompanyDialogsTest, LongThaiAndLinkedDirectoriesAreFoundAndChosenWhole) {
  std::string longDir = files.root + "/long";
  while (longDir.size() < 1100) longDir += "/" + std::string(200, 'x');
  std::filesystem::create_directories(longDir);
  const std::string thai = files.Dir("ข้อมูลบริษัท ตัวอย่าง/สาขาที่ 1 (บัญชีปี 2569)");
  std::filesystem::create_symlink(thai, files.root + "/link");
  for (const std::string& native : {files.Dir(std::string(64 - files.root.size() - 1, 'y')), longDir, thai,
                                    files.root + "/link"}) {
    SCOPED_TRACE(native);
    std::string cp874;
    ASSERT_TRUE(platform::PathFromSystem(native, cp874));
    WriteList({Th("กิจการ") + ";" + cp874});
    WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
    const size_t entries = std::distance(std::filesystem::directory_iterator(files.root), {});
    dialogs.events.clear();
    ModalScript script;
    script.On<OpenCompanyDialog>("the list", [](OpenCompanyDialog& d) { Key(d, Qt::Key_F10); });
    EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), cp874);
    EXPECT_TRUE(dialogs.events.empty()) << dialogs.Lines().front();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(files.root), {}), entries);
    EXPECT_EQ(Cfg(), CompanyFiles::CrLf({"OPENCOMPANY_COLPOSITION=335", "OPENCOMPANY_DIR=" + cp874,
                                         "OPENCOMPANY_COMPANY=" + Th("กิจการ"), "OPENCOMPANY_SELECT=0"}));
  }
}

// Started in a Thai-named directory: the first editor shows its path as it is, a typed
// path that CP874 cannot hold is refused with a message, and the list keeps CP874 bytes.
TEST_F(CompanyDialogsTest, TheFirstEditorShowsAThaiStartPathAndRefusesAnUnstorablePath) {
  const std::string startNative = files.Dir("เริ่ม งาน");
  ASSERT_TRUE(platform::PathFromSystem(startNative, files.settings.dirs.start));
  dialogs.answers = {true};  // make DATAFILE
  ModalScript script;
  script
      .On<OpenCompanyEditDialog>("the editor on row 1",
                                 [&](OpenCompanyEditDialog& e) {
                                   EXPECT_EQ(e.DirectoryField()->text(), QString::fromStdString(startNative + "/DATAFILE"));
                                   e.DirectoryField()->setText(QString::fromStdString(files.root + "/café"));
                                   Key(e, Qt::Key_F10);
                                   EXPECT_TRUE(e.isVisible());
                                   e.DirectoryField()->setText(QString::fromStdString(startNative + "/DATAFILE"));
                                   Key(e, Qt::Key_F10);
                                 })
      .On<OpenCompanyDialog>("the list", [](OpenCompanyDialog& d) { Key(d, Qt::Key_Escape); });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), "");
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].text,
            Th("ชื่อไดเร็คทอรี่มีตัวอักษรที่เก็บในรหัสภาษาไทย 874 ไม่ได้ กรุณาเลือกไดเร็คทอรี่อื่น"));
  EXPECT_FALSE(std::filesystem::exists(files.root + "/café"));
  EXPECT_TRUE(std::filesystem::is_directory(startNative + "/DATAFILE"));
  EXPECT_EQ(CompanyFiles::Read(startNative + "/USERDRV.INI"),
            CompanyFiles::Ninety({";" + files.settings.dirs.start + "/DATAFILE"}));
}

// ---- The command table -------------------------------------------------------------------

TEST_F(CompanyDialogsTest, EveryKeyOfTheCommandTableWorksInTheList) {
  WriteList({"A;" + acme, "B;" + beta, "C;" + cee});
  WriteCfg({"OPENCOMPANY_DIR=" + beta, "OPENCOMPANY_COMPANY=B", "OPENCOMPANY_COLPOSITION=335"});
  const std::string tpl = files.root + "/tpl";
  dialogs.answers = {false, true, false};  // keep C; make tpl; do not define row 4

  ModalScript script;
  script
      .On<OpenCompanyDialog>("the list",
                             [&](OpenCompanyDialog& d) {
                               company::CompanySelection& s = d.Selection();
                               EXPECT_EQ(Row(d), 2);
                               EXPECT_EQ(s.RememberedRow(), 2);
                               Key(d, Qt::Key_F7);
                               EXPECT_EQ(Row(d), 1);
                               EXPECT_EQ(s.RememberedRow(), 1);
                               EXPECT_EQ(Name(d, 1), "B");
                               Key(d, Qt::Key_F8);
                               EXPECT_EQ(Row(d), 2);
                               EXPECT_EQ(s.RememberedRow(), 2);
                               EXPECT_EQ(Name(d, 2), "B");
                               Key(d, Qt::Key_Insert);
                               EXPECT_EQ(Name(d, 2), "");
                               EXPECT_EQ(Name(d, 3), "B");
                               EXPECT_EQ(s.RememberedRow(), 2);
                               EXPECT_FALSE(d.SelectButton()->isEnabled());
                               Key(d, Qt::Key_Delete);  // an empty row goes without a question
                               EXPECT_EQ(Name(d, 2), "B");
                               EXPECT_TRUE(dialogs.events.empty());
                               Key(d, Qt::Key_Down);
                               Key(d, Qt::Key_Delete);  // No
                               EXPECT_EQ(Name(d, 3), "C");
                               Key(d, Qt::Key_F5);  // cancelled below
                               EXPECT_EQ(Name(d, 3), "C");
                               Key(d, Qt::Key_F5);
                               EXPECT_EQ(Name(d, 3), "Cee");
                               EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == d.Grid(); }));
                               Key(d, Qt::Key_F9);
                               EXPECT_EQ(s.Row(3).templateDir, tpl);
                               Key(d, Qt::Key_Down);
                               EXPECT_FALSE(d.SelectButton()->isEnabled());
                               Key(d, Qt::Key_Return);  // not defined: No
                               Key(d, Qt::Key_F9);      // nothing for a row without a directory
                               Key(d, Qt::Key_Escape);
                             })
      .On<OpenCompanyEditDialog>("the editor, cancelled",
                                 [](OpenCompanyEditDialog& e) {
                                   EXPECT_EQ(e.NameField()->text(), "C");
                                   e.NameField()->setText("lost");
                                   Key(e, Qt::Key_Escape);
                                 })
      .On<OpenCompanyEditDialog>("the editor, confirmed",
                                 [](OpenCompanyEditDialog& e) {
                                   e.NameField()->setText("Cee");
                                   Key(e, Qt::Key_F10);
                                 })
      .On<ReportTemplateDialog>("the template editor", [&](ReportTemplateDialog& t) {
        EXPECT_EQ(t.windowTitle(), "Report Template");
        EXPECT_EQ(t.size(), QSize(491, 158));
        EXPECT_TRUE(t.DefaultButton()->isChecked());
        EXPECT_FALSE(t.DirectoryField()->isEnabled());
        EXPECT_EQ(t.DirectoryField()->text().toStdString(), files.start + "/Template");
        t.CustomButton()->click();
        EXPECT_TRUE(t.DirectoryField()->isEnabled());
        t.DirectoryField()->setText(QString::fromStdString(tpl));
        Key(t, Qt::Key_F10);
      });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), "");

  EXPECT_EQ(List(), CompanyFiles::Ninety({"A;" + acme, "B;" + beta, "Cee;" + cee + "|" + tpl}));
  EXPECT_TRUE(platform::DirectoryExists(tpl));
  std::vector<std::string> asked;
  for (const auto& e : dialogs.events) asked.push_back(e.title + ": " + platform::Cp874ToUtf8(e.text));
  EXPECT_EQ(asked, (std::vector<std::string>{"Confirm: คุณต้องการลบ?",
                                             "Confirm: ไม่พบไดเร็คทอรี่ที่กำหนด. ต้องการสร้างใหม่?",
                                             "Confirm: ยังไม่ได้กำหนด. ต้องการสร้างใหม่?"}));
}

TEST_F(CompanyDialogsTest, TemplateEditorBackToTheDefaultClearsTheRowsTemplate) {
  WriteList({"A;" + acme + "|" + cee});
  WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
  ModalScript script;
  script
      .On<OpenCompanyDialog>("the list",
                             [](OpenCompanyDialog& d) {
                               Key(d, Qt::Key_F9);
                               Key(d, Qt::Key_F9);
                               EXPECT_EQ(d.Selection().Row(1).templateDir, "");
                               Key(d, Qt::Key_Escape);
                             })
      .On<ReportTemplateDialog>("the template editor, cancelled",
                                [&](ReportTemplateDialog& t) {
                                  EXPECT_TRUE(t.CustomButton()->isChecked());
                                  EXPECT_EQ(QApplication::focusWidget(), t.DirectoryField());
                                  EXPECT_EQ(t.DirectoryField()->text().toStdString(), cee);
                                  t.DefaultButton()->click();
                                  Key(t, Qt::Key_Escape);
                                })
      .On<ReportTemplateDialog>("the template editor, default", [](ReportTemplateDialog& t) {
        t.DefaultButton()->click();
        EXPECT_FALSE(t.DirectoryField()->isEnabled());
        Key(t, Qt::Key_F10);
      });
  EXPECT_EQ(SelectCompanyDirectory(files.settings, dialogs), "");
  EXPECT_EQ(List(), CompanyFiles::Ninety({"A;" + acme}));
}

// ---- The list window's look and its menu ---------------------------------------------

class CompanyWindowTest : public CompanyDialogsTest {
 protected:
  void Open(OpenCompanyDialog& d) {
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.IsReady(); }));
  }
  // Opens the context menu over the grid and returns it.
  QMenu* Popup(OpenCompanyDialog& d) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), d.Grid()->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(d.Grid()->viewport(), &event);
    return d.ContextMenu();
  }
};

TEST_F(CompanyWindowTest, LayoutBandsAndBoldRememberedRow) {
  WriteList({"A;" + acme, "B;" + beta, "C;" + cee});
  WriteCfg({"OPENCOMPANY_DIR=" + beta, "OPENCOMPANY_COMPANY=b", "USER_COLOR_TYPE=1"});
  OpenCompanyDialog d(files.settings, dialogs);
  Open(d);
  EXPECT_EQ(d.windowTitle(), "Select Directory");
  EXPECT_EQ(d.size(), QSize(714, 367));
  QAbstractItemModel* m = d.Grid()->model();
  EXPECT_EQ(m->rowCount(), 90);
  EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("ชื่อกิจการ"));
  EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("แฟ้มข้อมูล"));
  EXPECT_TRUE(d.Grid()->isColumnHidden(2));
  EXPECT_EQ(d.Grid()->horizontalHeader()->sectionSize(0), 335);
  EXPECT_EQ(d.Grid()->rowHeight(0), 26);
  EXPECT_EQ(d.Grid()->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(d.Grid()->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
  EXPECT_TRUE(m->index(1, 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(m->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(m->index(2, 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(m->index(0, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(230, 236, 242));
  EXPECT_EQ(m->index(1, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QApplication::palette().color(QPalette::Base));
  EXPECT_EQ(d.SelectButton()->text(), QString::fromUtf8("เลือก"));
  EXPECT_TRUE(d.SelectButton()->isDefault());

  // The wheel does not scroll the grid.
  QWheelEvent wheel(QPointF(20, 20), d.Grid()->viewport()->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, -480),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(d.Grid()->viewport(), &wheel);
  EXPECT_EQ(d.Grid()->verticalScrollBar()->value(), 0);
  d.reject();
}

TEST_F(CompanyWindowTest, SelectFollowsTheCurrentRowAndTheMenuDescribesIt) {
  WriteList({"A;" + acme + "|" + cee, "B;" + beta, "", "Named only;"});
  WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
  OpenCompanyDialog d(files.settings, dialogs);
  Open(d);
  struct Expect {
    bool select, templ, checked;
    const char* deleteText;
  } rows[] = {
      {true, true, true, "ลบ..."},
      {true, true, false, "ลบ..."},
      {false, false, false, "ลบ"},
      {false, false, false, "ลบ..."},
  };
  for (int r = 1; r <= 4; ++r) {
    const Expect& e = rows[r - 1];
    EXPECT_EQ(Row(d), r);
    EXPECT_EQ(d.SelectButton()->isEnabled(), e.select) << r;
    QMenu* menu = Popup(d);
    ASSERT_TRUE(menu->isVisible()) << r;
    EXPECT_EQ(menu->defaultAction(), d.SelectAction());
    EXPECT_EQ(d.SelectAction()->isEnabled(), e.select) << r;
    EXPECT_EQ(d.TemplateAction()->isEnabled(), e.templ) << r;
    EXPECT_EQ(d.TemplateAction()->isChecked(), e.checked) << r;
    EXPECT_EQ(d.DeleteAction()->text(), QString::fromUtf8(e.deleteText)) << r;
    EXPECT_EQ(d.TemplateAction()->text(), "Custom Report Template...");
    menu->close();
    QApplication::processEvents();
    EXPECT_TRUE(d.SelectAction()->isEnabled());  // the keys work again on every row
    QTest::keyClick(d.Grid(), Qt::Key_Down);
  }
  QStringList captions;
  for (QAction* a : d.ContextMenu()->actions()) {
    if (!a->isSeparator()) captions << a->text() + " " + a->shortcut().toString();
  }
  ASSERT_EQ(captions.size(), 10);
  EXPECT_EQ(captions.mid(0, 7), (QStringList{QString::fromUtf8("เลือก Return"), QString::fromUtf8("แก้ไข... F5"),
                                            QString::fromUtf8("แทรก Ins"), QString::fromUtf8("ลบ... Del"),
                                            QString::fromUtf8("เลื่อนขึ้น F7"), QString::fromUtf8("เลื่อนลง F8"),
                                            "Custom Report Template... F9"}));
  // The report entries have only their letters; on a row without reports they say why.
  EXPECT_TRUE(captions[7].startsWith(QString::fromUtf8("ย้อนการแก้ไขครั้งล่าสุด... (&U) : "))) << captions[7].toStdString();
  EXPECT_TRUE(captions[8].startsWith(QString::fromUtf8("เปิดรายงานล่าสุด... (&O) : "))) << captions[8].toStdString();
  EXPECT_EQ(captions[9], QString::fromUtf8("ตรวจสอบโครงสร้างแฟ้ม... (&K) "));
  d.reject();
  EXPECT_EQ(List(), CompanyFiles::CrLf({"A;" + acme + "|" + cee, "B;" + beta, "", "Named only;"}));
}

// Tab leaves the grid and goes through check box and buttons (and back with Shift+Tab);
// Enter presses the focused button, not the window's "เลือก"; Shift+F10 and the menu
// key open the grid's menu; a remembered row that fits with the rows above it opens
// without scrolling them away.
TEST_F(CompanyWindowTest, KeyboardReachesEveryControlAndTheMenu) {
  WriteList({"A;" + acme, "B;" + beta, "C;" + cee, "D;" + acme, "E;" + beta, "F;" + cee});
  WriteCfg({"OPENCOMPANY_DIR=" + cee, "OPENCOMPANY_COMPANY=F", "OPENCOMPANY_COLPOSITION=335"});
  OpenCompanyDialog d(files.settings, dialogs);
  Open(d);
  EXPECT_EQ(Row(d), 6);
  EXPECT_EQ(d.Grid()->rowAt(0), 0) << "rows above the remembered one stay in sight";
  d.activateWindow();
  d.Grid()->setFocus();
  const QList<QWidget*> chain = {d.findChild<QCheckBox*>(), d.SelectButton(), d.findChildren<QPushButton*>()[1],
                                 d.findChildren<QPushButton*>()[2], d.Grid()};
  for (QWidget* next : chain) {
    QTest::keyClick(d.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(d.focusWidget(), next) << next->metaObject()->className();
  }
  QTest::keyClick(d.Grid(), Qt::Key_Backtab);
  EXPECT_EQ(d.focusWidget(), d.findChildren<QPushButton*>()[2]);
  for (const QKeySequence& key : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
    d.Grid()->setFocus();
    QTest::keySequence(d.Grid(), key);
    EXPECT_TRUE(d.ContextMenu()->isVisible()) << key.toString().toStdString();
    d.ContextMenu()->close();
    QApplication::processEvents();
  }
  // Enter on the focused "ออก" leaves without a choice.
  QPushButton* exitButton = d.findChildren<QPushButton*>()[2];
  exitButton->setFocus();
  QTest::keyClick(exitButton, Qt::Key_Return);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Rejected);
}

// In both editors Tab to "ยกเลิก" and Enter cancels; Enter from a field stores. A name
// CP874 cannot hold is refused with a message; a relative directory is stored in full.
TEST_F(CompanyDialogsTest, EditorsTakeEnterOnTheFocusedButtonAndStoreOnlyWhatCp874Holds) {
  for (bool onCancel : {true, false}) {
    SCOPED_TRACE(onCancel ? "Enter on ยกเลิก" : "Enter in the name field");
    OpenCompanyEditDialog e(Th("บริษัท"), acme, dialogs);
    WhenShown(e, [&] {
      QWidget* from = e.NameField();
      if (onCancel) {
        for (int i = 0; i < 8 && e.focusWidget() != e.findChildren<QPushButton*>().last(); ++i) {
          QTest::keyClick(e.focusWidget(), Qt::Key_Tab);
        }
        from = e.focusWidget();
        EXPECT_EQ(static_cast<QPushButton*>(from)->text(), QString::fromUtf8("ยกเลิก"));
      }
      QTest::keyClick(from, Qt::Key_Return);
    });
    EXPECT_EQ(e.result(), onCancel ? QDialog::Rejected : QDialog::Accepted);
  }

  OpenCompanyEditDialog e(Th("บริษัท"), acme, dialogs);
  WhenShown(e, [&] {
    e.NameField()->setText(QString::fromUtf8("บริษัท ☃"));
    QTest::keyClick(e.NameField(), Qt::Key_Return);
    EXPECT_TRUE(e.isVisible()) << "a snowman is no CP874 letter";
    e.NameField()->setText(QString::fromUtf8("บริษัท ก"));
    const std::string here = platform::CurrentDirectory();
    ASSERT_EQ(platform::ChangeDirectory(files.start), platform::OsError::kNone);
    e.DirectoryField()->setText(QStringLiteral("./Acme"));
    ASSERT_EQ(platform::CreateDirectory(files.start + "/Acme"), platform::OsError::kNone);
    QTest::keyClick(e.NameField(), Qt::Key_Return);
    ASSERT_EQ(platform::ChangeDirectory(here), platform::OsError::kNone);
  });
  EXPECT_EQ(e.result(), QDialog::Accepted);
  EXPECT_EQ(e.Name(), Th("บริษัท ก"));
  EXPECT_EQ(e.Directory(), files.start + "/Acme");
  ASSERT_FALSE(dialogs.events.empty());
  EXPECT_EQ(dialogs.events.front().title, "Error");
}

TEST_F(CompanyWindowTest, DoubleClickOnARowChoosesIt) {
  WriteList({"A;" + acme, "B;" + beta});
  WriteCfg({"OPENCOMPANY_COLPOSITION=335"});
  OpenCompanyDialog d(files.settings, dialogs);
  Open(d);
  const QRect cell = d.Grid()->visualRect(d.Grid()->model()->index(1, 1));
  QTest::mouseClick(d.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(d.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.Selection().SelectedDirectory(), beta);
}

}  // namespace
}  // namespace kv::gui
