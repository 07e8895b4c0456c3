// The update-form protocol between a browse and the form it calls: every InsertAction,
// DeleteAction and CancelAction with each answer to its questions, the retry questions after
// a failed write, and a save refused with 89 because another station changed the card, with
// the user's own values recalled by the ditto key.
#include <cstring>

#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "tests/framework/card_fixture.h"
#include "tests/support/fault_fs.h"

namespace korawin::framework::testing {
namespace {

class UpdateFormTest : public CardFixture {
 protected:
  void SetUp() override {
    CardFixture::SetUp();
    Fill({"ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO"}, "Motion");
  }
  // Presses button in the list and returns the form it opened (0: none is open).
  int Open(int list, int button) {
    if (!driver_.Press(list, button)) return 0;
    return driver_.Find("Карточка");
  }
  bool Has(const std::string& name) {
    std::vector<std::string> n = Names();
    return std::find(n.begin(), n.end(), name) != n.end();
  }
  // Another station rewrites the card named name, through a descriptor of its own.
  void OtherStationRewrites(const std::string& name, const std::string& newName,
                            const std::string& theme) {
    storage::FileDescriptor other;
    other.driver = cards_.fd.driver;
    other.name = cards_.fd.name;
    other.label = cards_.fd.label;
    other.recordSize = cards_.fd.recordSize;
    other.fields = cards_.fd.fields;
    other.keys = cards_.fd.keys;
    std::vector<char> buffer(other.recordSize);
    other.record = buffer.data();
    storage::DriverArgs a;
    a.mode = storage::kOpenReadWrite | storage::kShareDenyNone;
    ASSERT_EQ(storage::CallDriver(storage::kOpOpen, other, a), 0);
    ASSERT_EQ(storage::CallDriver(storage::kOpSetFile, other, a), 0);
    bool found = false;
    while (!found && storage::CallDriver(storage::kOpNext, other, a) == 0)
      found = cards_.FieldOf(std::string(buffer.data(), buffer.size()), kName) == name;
    ASSERT_TRUE(found) << name;
    std::memset(buffer.data() + 4, ' ', 30);
    std::memcpy(buffer.data() + 4, newName.data(), newName.size());
    std::memcpy(buffer.data() + 24, theme.data(), theme.size());
    EXPECT_EQ(storage::CallDriver(storage::kOpPut, other, a), 0);
    EXPECT_EQ(storage::CallDriver(storage::kOpClose, other, a), 0);
  }
};

TEST_F(UpdateFormTest, InsertActionTwoSavesAndCloses) {
  int list = Start();
  int form = Open(list, L::Insert);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Text(form, F::Id), "6");  // numbered when the record was primed
  ASSERT_TRUE(driver_.Type(form, F::Name, "BETA"));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"BETA", "BRAVO", "CHARLIE", "DELTA", "ECHO"}));
  EXPECT_EQ(Highlight(list), 1);
  EXPECT_EQ(Names().size(), 6u);
  // The request went out and the response came back through the global pair.
  EXPECT_EQ(GlobalResponse.load(), RequestCompleted);
  EXPECT_EQ(GlobalRequest.load(), 0);
  Finish(list);
  EXPECT_TRUE(Captions().empty());
  // Each window had its own scope of bound names on the list's thread, closed at its end.
  EXPECT_EQ(formScopes.load(), 2);
  EXPECT_EQ(scopesLeft.load(), 0);
}

TEST_F(UpdateFormTest, InsertActionThreeStaysForAnotherRecord) {
  configureForm = [](CardForm& f) { f.InsertAction = 3; };
  int list = Start();
  int form = Open(list, L::Insert);
  ASSERT_TRUE(driver_.Type(form, F::Name, "N1"));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  ASSERT_TRUE(driver_.IsOpen(form));
  EXPECT_EQ(driver_.Text(form, F::Name), "");
  EXPECT_EQ(driver_.Text(form, F::Id), "7");
  ASSERT_TRUE(driver_.Type(form, F::Name, "N2"));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_EQ(driver_.Text(form, F::Id), "8");
  // Nothing typed on the third record: it closes without a question and its number goes.
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_EQ(Names(), (std::vector<std::string>{"ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO",
                                                "N1", "N2"}));
  EXPECT_EQ(Shown(list)[static_cast<size_t>(Highlight(list) - 1)], "N2");
  Finish(list);
}

TEST_F(UpdateFormTest, InsertActionFourAsksForAnotherRecord) {
  configureForm = [](CardForm& f) { f.InsertAction = 4; };
  int list = Start();
  int form = Open(list, L::Insert);
  ASSERT_TRUE(driver_.Type(form, F::Name, "N3"));
  backend_.QueueAnswer(ButtonYes);
  ASSERT_TRUE(driver_.Press(form, F::OK));
  ASSERT_TRUE(driver_.IsOpen(form));
  EXPECT_EQ(driver_.Text(form, F::Name), "");
  ASSERT_TRUE(driver_.Type(form, F::Name, "N4"));
  backend_.QueueAnswer(ButtonNo);
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Record Added", "Record Added"}));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_TRUE(Has("N3") && Has("N4"));
  EXPECT_EQ(Names().size(), 7u);
  Finish(list);
}

TEST_F(UpdateFormTest, InsertClosedUntouchedRemovesTheReservedRecord) {
  int list = Start();
  int form = Open(list, L::Insert);
  ASSERT_NE(form, 0);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(Names().size(), 5u);
  // The number is free again.
  form = Open(list, L::Insert);
  EXPECT_EQ(driver_.Text(form, F::Id), "6");
  ASSERT_TRUE(driver_.Press(form, F::Cancel));
  Finish(list);
}

TEST_F(UpdateFormTest, CancelActionsOnAChangedCard) {
  // 3: "Save Record" with Yes, No and Cancel.
  int list = Start();
  int form = Open(list, L::Change);
  ASSERT_EQ(driver_.Text(form, F::Name), "ALPHA");
  ASSERT_TRUE(driver_.Type(form, F::Name, "A3"));
  backend_.QueueAnswer(ButtonCancel);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_TRUE(driver_.IsOpen(form));
  EXPECT_EQ(driver_.Focus(form), F::Name);
  backend_.QueueAnswer(ButtonNo);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  EXPECT_TRUE(Has("ALPHA"));
  form = Open(list, L::Change);
  ASSERT_TRUE(driver_.Type(form, F::Name, "A3"));
  backend_.QueueAnswer(ButtonYes);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_TRUE(Has("A3"));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Save Record", "Save Record", "Save Record"}));
  Finish(list);

  // 1: saved without a question.
  configureForm = [](CardForm& f) { f.CancelAction = 1; };
  list = Start();
  form = Open(list, L::Change);
  ASSERT_EQ(driver_.Text(form, F::Name), "A3");
  ASSERT_TRUE(driver_.Type(form, F::Name, "A1"));
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_TRUE(Has("A1"));
  EXPECT_EQ(Captions().size(), 3u);
  Finish(list);

  // 2: "Changes will be lost!"; No keeps the form, Yes drops the change.
  configureForm = [](CardForm& f) { f.CancelAction = 2; };
  list = Start();
  form = Open(list, L::Change);
  ASSERT_TRUE(driver_.Type(form, F::Name, "A2"));
  backend_.QueueAnswer(ButtonNo);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_TRUE(driver_.IsOpen(form));
  backend_.QueueAnswer(ButtonYes);
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Captions().back(), "Changes will be lost!");
  EXPECT_EQ(Captions().size(), 5u);
  EXPECT_TRUE(Has("A1"));
  Finish(list);

  // 0: closes without asking and without saving.
  configureForm = [](CardForm& f) { f.CancelAction = 0; };
  list = Start();
  form = Open(list, L::Change);
  ASSERT_TRUE(driver_.Type(form, F::Name, "A0"));
  ASSERT_TRUE(driver_.CloseBox(form));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Captions().size(), 5u);
  EXPECT_TRUE(Has("A1"));
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  Finish(list);
}

TEST_F(UpdateFormTest, OkWithoutChangesWritesNothing) {
  test::FaultFileSystem fs;
  test::ScopedFileSystem scoped(fs);
  int list = Start();
  ASSERT_TRUE(driver_.ChooseRow(list, L::List, 2));
  int form = Open(list, L::Change);
  ASSERT_EQ(driver_.Text(form, F::Name), "BRAVO");
  const int writes = fs.Count(test::FaultOp::kWrite);
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_EQ(fs.Count(test::FaultOp::kWrite), writes);
  Finish(list);
}

TEST_F(UpdateFormTest, DeleteActions) {
  // 2: asks "Confirm Delete" without showing the form.
  int list = Start();
  backend_.QueueAnswer(ButtonNo);
  EXPECT_EQ(Open(list, L::Delete), 0);
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  EXPECT_EQ(Names().size(), 5u);
  backend_.QueueAnswer(ButtonYes);
  EXPECT_EQ(Open(list, L::Delete), 0);
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_FALSE(Has("ALPHA"));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"BRAVO", "CHARLIE", "DELTA", "ECHO"}));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Confirm Delete", "Confirm Delete"}));
  Finish(list);

  // 4: deletes at once.
  configureForm = [](CardForm& f) { f.DeleteAction = 4; };
  list = Start();
  EXPECT_EQ(Open(list, L::Delete), 0);
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_FALSE(Has("BRAVO"));
  EXPECT_EQ(Captions().size(), 2u);
  Finish(list);

  // Any other: the form shows the card and deletes it on OK, after the confirmation.
  configureForm = [](CardForm& f) { f.DeleteAction = 1; };
  list = Start();
  int form = Open(list, L::Delete);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Text(form, F::Name), "CHARLIE");
  backend_.QueueAnswer(ButtonNo);
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_TRUE(driver_.IsOpen(form));
  EXPECT_TRUE(Has("CHARLIE"));
  backend_.QueueAnswer(ButtonYes);
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_FALSE(Has("CHARLIE"));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"DELTA", "ECHO"}));
  Finish(list);
}

TEST_F(UpdateFormTest, FailedWritesAskToTryAgain) {
  test::FaultFileSystem fs;
  test::ScopedFileSystem scoped(fs);
  const std::string data = storage::dat::DataFilePath(cards_.fd.name);
  fs.SetPathFilter([data](const std::string& path) { return path == data; });
  int list = Start();
  auto change = [&](const std::string& name, unsigned answer) {
    int form = Open(list, L::Change);
    EXPECT_NE(form, 0);
    EXPECT_TRUE(driver_.Type(form, F::Name, name));
    fs.FailNth(test::FaultOp::kWrite, 1, EIO);
    backend_.QueueAnswer(ButtonOk);  // "Record was not updated"
    backend_.QueueAnswer(answer);    // "Record Update Error"
    EXPECT_TRUE(driver_.Press(form, F::OK));
    return form;
  };
  // Cancel: the form stays; the next OK saves.
  int form = change("A-1", ButtonCancel);
  ASSERT_TRUE(driver_.IsOpen(form));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Record was not updated", "Record Update Error"}));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_TRUE(Has("A-1"));
  // Yes: tried again at once.
  form = change("A-2", ButtonYes);
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_TRUE(Has("A-2"));
  // No: the form closes, the card as it was.
  form = change("A-3", ButtonNo);
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  EXPECT_TRUE(Has("A-2"));
  EXPECT_FALSE(Has("A-3"));
  EXPECT_EQ(Captions().size(), 6u);
  Finish(list);

  // The same for a delete on the form.
  configureForm = [](CardForm& f) { f.DeleteAction = 1; };
  list = Start();
  auto remove = [&](unsigned answer) {
    int form = Open(list, L::Delete);
    EXPECT_NE(form, 0);
    fs.FailNth(test::FaultOp::kWrite, 1, EIO);
    backend_.QueueAnswer(ButtonYes);  // "Confirm Delete"
    backend_.QueueAnswer(ButtonOk);   // "Record was not deleted"
    backend_.QueueAnswer(answer);     // "Record Delete Error"
    EXPECT_TRUE(driver_.Press(form, F::OK));
    return form;
  };
  form = remove(ButtonCancel);
  EXPECT_TRUE(driver_.IsOpen(form));
  auto captions = Captions();
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(captions.end() - 3, captions.end()),
            (std::vector<std::string>{"Confirm Delete", "Record was not deleted",
                                      "Record Delete Error"}));
  ASSERT_TRUE(driver_.Press(form, F::Cancel));
  form = remove(ButtonNo);
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCancelled);
  EXPECT_TRUE(Has("A-2"));
  form = remove(ButtonYes);
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_FALSE(Has("A-2"));
  Finish(list);
}

TEST_F(UpdateFormTest, ChangeByAnotherStationIsRefusedAndTheDittoKeyRecallsTheUsersValues) {
  int list = Start();
  ASSERT_TRUE(driver_.ChooseRow(list, L::List, 2));
  int form = Open(list, L::Change);
  ASSERT_EQ(driver_.Text(form, F::Name), "BRAVO");
  ASSERT_TRUE(driver_.Type(form, F::Name, "BRAVO-MINE"));
  {
    // The other station writes while this one waits for the user.
    ui::RuntimeLock::Acquire();
    OtherStationRewrites("BRAVO", "BRAVO-THEIRS", "Rest");
    ui::RuntimeLock::Release();
  }
  ASSERT_TRUE(driver_.Press(form, F::OK));
  ASSERT_TRUE(driver_.IsOpen(form));
  ASSERT_EQ(Captions(), std::vector<std::string>{"Record Was Not Updated"});
  EXPECT_EQ(backend_.Boxes()[0].box.text, "This record was changed by another station.");
  // The form shows the other station's card.
  EXPECT_EQ(driver_.Text(form, F::Name), "BRAVO-THEIRS");
  EXPECT_EQ(driver_.Text(form, F::Theme), "Rest");
  EXPECT_EQ(driver_.Focus(form), F::Name);
  ASSERT_TRUE(driver_.Key(form, F::Name, kDitto));
  EXPECT_EQ(driver_.Text(form, F::Name), "BRAVO-MINE");
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Captions().size(), 1u);
  EXPECT_EQ(lastResponse.load(), RequestCompleted);
  EXPECT_TRUE(Has("BRAVO-MINE"));
  EXPECT_FALSE(Has("BRAVO-THEIRS"));
  EXPECT_EQ(Shown(list)[static_cast<size_t>(Highlight(list) - 1)], "BRAVO-MINE");
  EXPECT_EQ(driver_.Rows(list, L::List)[static_cast<size_t>(Highlight(list) - 1)][1], "Rest");
  Finish(list);
}

}  // namespace
}  // namespace korawin::framework::testing
