#include "tests/framework/card_fixture.h"

#include <algorithm>

#include "lang/bind.h"
#include "storage/dat/dat_driver.h"
#include "storage/view/view.h"
#include "ui/halt.h"

namespace korawin::framework::testing {

namespace {

lang::Variable FieldVar(korawin::testing::TestFile& file, int field) {
  const storage::FieldDescriptor& f = file.fd.fields[static_cast<size_t>(field) - 1];
  return lang::Variable::Field(f.type, file.fd.record + f.offset, f.size);
}

}  // namespace

const std::vector<std::string>& Alphabet() {
  static const std::vector<std::string> names = {
      "ALPHA", "BRAVO",  "CHARLIE", "DELTA",   "ECHO",    "FOXTROT", "GOLF",   "HOTEL", "INDIA",
      "JULIETT", "KILO", "LIMA",    "MIKE",    "NOVEMBER", "OSCAR",  "PAPA",   "QUEBEC", "ROMEO",
      "SIERRA", "TANGO", "UNIFORM", "VICTOR",  "WHISKEY", "XRAY",    "YANKEE", "ZULU"};
  return names;
}

// ---- The form ---------------------------------------------------------------------------------

Level CardForm::Init() {
  if (Level l = WindowManager::Init()) return l;
  Errors = &f_.errors_;
  Primary = &f_.rm_;
  HistoryKey = kDitto;
  f_.formScopes = lang::ScopeDepth();
  if (f_.configureForm) f_.configureForm(*this);
  // Before the window opens: a delete carried out at once never shows the form.
  if (Level l = PrimeUpdate()) return l;
  OpenWindow(F::kModule, F::kWindow);
  ui::Window* w = UiWindow();
  w->Use(F::Id, FieldVar(f_.cards_, kId));
  w->Use(F::Name, FieldVar(f_.cards_, kName));
  w->Use(F::Theme, FieldVar(f_.cards_, kTheme));
  OkControl = F::OK;
  FirstField = F::Name;
  AddButton(F::Cancel, RequestCancelled);
  AddHistoryField(F::Name, FieldVar(f_.cards_, kName));
  AddHistoryField(F::Theme, FieldVar(f_.cards_, kTheme));
  toolbar_.Init();
  toolbar_.SetButton(ToolbarInsert, F::TbInsert);
  toolbar_.SetButton(ToolbarDown, F::TbNext);
  target_.Request = Request;
  toolbar_.AddTarget(target_);
  Toolbar = &toolbar_;
  return LevelBenign;
}

Level CardForm::Kill() { return WindowManager::Kill(); }

// ---- The list ---------------------------------------------------------------------------------

CardList::CardList(CardFixture& f) : f_(f) {}

Level CardList::Init() {
  if (Level l = WindowManager::Init()) return l;
  Errors = &f_.errors_;
  OpenWindow(L::kModule, L::kWindow);
  EXPECT_EQ(f_.rm_.Open(), LevelBenign);
  storage::ViewDeclaration decl;
  decl.primary = &f_.cards_.fd;
  decl.project = {kId, kName, kTheme};
  view_ = std::make_unique<storage::View>(decl);
  browse.Init(L::List, *view_, f_.rm_, this);
  browse.AddSortOrder(kKeyName);
  browse.AddField(kName - 1);
  browse.AddField(kTheme - 1);
  browse.InsertControl = L::Insert;
  browse.ChangeControl = L::Change;
  browse.DeleteControl = L::Delete;
  browse.AskProcedure = 1;
  toolbar.Init();
  toolbar.SetButton(ToolbarInsert, L::TbInsert);
  toolbar.SetButton(ToolbarTop, L::TbTop);
  toolbar.SetButton(ToolbarBottom, L::TbBottom);
  toolbar.SetButton(ToolbarDown, L::TbNext);
  browse.AddToolbarTarget(toolbar, listTarget);
  Toolbar = &toolbar;
  if (f_.configureList) f_.configureList(*this);
  return LevelBenign;
}

Level CardList::Kill() {
  Level l = WindowManager::Kill();
  (void)f_.rm_.Close();  // always 0
  return l;
}

lang::Variable CardList::Field(int field) const { return FieldVar(f_.cards_, field); }

uint8_t CardList::RunProcedure(int number, uint8_t request) {
  ++f_.forms;
  CardForm form(f_);
  uint8_t response = form.Run();
  f_.lastResponse = response;
  return response;
}

// ---- The fixture ------------------------------------------------------------------------------

CardFixture::CardFixture()
    : cards_("cards",
             {{"CRD:ID", storage::kTypeLong, 4},
              {"CRD:NAME", storage::kTypeString, 20},
              {"CRD:THEME", storage::kTypeString, 10}},
             {{"CRD:K_ID", 0, {kId}},
              {"CRD:K_NAME", storage::kKeyDup | storage::kKeyNoCase | storage::kKeyOpt, {kName}},
              {"CRD:BY_THEME", storage::kKeyDup | storage::kKeyNoCase | storage::kKeyOpt,
               {kTheme, kName}}}) {
  cards_.fd.driver = &storage::dat::DatDriverEntry;
  cards_.fd.name = dir_.File("cards");
  cards_.fd.attributes |= storage::kFileCreate;
}

void CardFixture::SetUp() {
  RegisterFrameworkTestWindows();
  ui::SetHaltHandler([](int, std::string_view text) { ADD_FAILURE() << "halted: " << text; });
  errors_.Init();
  fm_.Init(cards_.fd, errors_);
  fm_.AddKey(kKeyId, "crd:K_ID", 1);
  fm_.AddKey(kKeyName, "crd:K_NAME");
  fm_.AddKey(kKeyTheme, "crd:BY_THEME");
  rm_.Init(fm_, false);
  for (int f = kId; f <= kTheme; ++f) lang::BIND(cards_.fd.fields[f - 1].label, FieldVar(cards_, f));
}

void CardFixture::TearDown() {
  if (thread_ && ui::Runtime::ThreadRunning(thread_)) {
    ADD_FAILURE() << "the list is still running";
    ui::Runtime::CloseOtherProcedures(std::chrono::seconds(10));
  }
  rm_.Kill();
  fm_.Kill();
  errors_.Kill();
  ui::SetHaltHandler(nullptr);
}

void CardFixture::Fill(const std::vector<std::string>& names, const std::string& theme) {
  ASSERT_EQ(fm_.Open(), LevelBenign);
  for (const std::string& n : names) {
    cards_.SetLong(kId, 0);
    cards_.Set(kName, n);
    cards_.Set(kTheme, theme);
    ASSERT_EQ(fm_.Insert(), LevelBenign) << n;
  }
  (void)fm_.Close();  // always 0
}

std::vector<std::string> CardFixture::Names() {
  storage::FileDescriptor copy;
  copy.driver = cards_.fd.driver;
  copy.name = cards_.fd.name;
  copy.label = cards_.fd.label;
  copy.recordSize = cards_.fd.recordSize;
  copy.fields = cards_.fd.fields;
  copy.keys = cards_.fd.keys;
  std::vector<char> buffer(copy.recordSize);
  copy.record = buffer.data();
  std::vector<std::string> out;
  storage::DriverArgs a;
  a.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
  if (storage::CallDriver(storage::kOpOpen, copy, a) != 0) return out;
  EXPECT_EQ(storage::CallDriver(storage::kOpSetFile, copy, a), 0);
  while (storage::CallDriver(storage::kOpNext, copy, a) == 0)
    out.push_back(cards_.FieldOf(std::string(buffer.data(), buffer.size()), kName));
  EXPECT_EQ(storage::CallDriver(storage::kOpClose, copy, a), 0);
  std::sort(out.begin(), out.end());
  return out;
}

int CardFixture::Start() {
  thread_ = ui::Runtime::StartProcedure([this] {
    CardList list(*this);
    list.Run();
    scopesLeft = lang::ScopeDepth();
  });
  return driver_.WaitFor("Список карточек");
}

void CardFixture::Finish(int list) {
  EXPECT_TRUE(driver_.Press(list, L::Close));
  EXPECT_TRUE(driver_.WaitThreadEnd(thread_));
}

std::vector<std::string> CardFixture::Shown(int list) {
  std::vector<std::string> out;
  for (const auto& row : driver_.Rows(list, L::List)) out.push_back(row.empty() ? "" : row[0]);
  return out;
}

std::vector<std::string> CardFixture::Captions() {
  std::vector<std::string> out;
  for (const auto& b : backend_.Boxes()) out.push_back(b.box.caption);
  return out;
}

}  // namespace korawin::framework::testing
