#include "app/dictionary.h"

#include <array>
#include <memory>

#include "lang/bind.h"
#include "storage/dat/dat_driver.h"

namespace korawin::app {

using framework::FileManager;
using framework::Level;
using framework::RelationManager;
using framework::RiCascade;
using framework::RiRestrict;

namespace {

constexpr std::array<LexiconFile, kLexiconFileCount> kFileOrder = {
    LexiconFile::kAk2, LexiconFile::kSlovo, LexiconFile::kAk3, LexiconFile::kDct,
    LexiconFile::kP4,  LexiconFile::kP7,    LexiconFile::kP8b, LexiconFile::kP8e,
    LexiconFile::kTax, LexiconFile::kTema,  LexiconFile::kAbc};

struct Globals {
  std::string folder;
  std::array<DeclaredFile, kLexiconFileCount> files;
  std::array<std::unique_ptr<FileManager>, kLexiconFileCount> access;
  std::array<RelationManager, kLexiconFileCount> relate;
};

Globals& G() {
  static Globals g;
  return g;
}

size_t Index(LexiconFile which) { return static_cast<size_t>(which); }

// A parent's relation to a child: the child's key and the one linking pair, by name.
void Link(LexiconFile parent, const char* parentField, LexiconFile child, const char* childKey,
          const char* childField, uint8_t updateMode, uint8_t deleteMode) {
  Relate(parent).AddRelation(Relate(child), updateMode, deleteMode, KeyNumber(child, childKey),
                             {{FieldNumber(parent, parentField), FieldNumber(child, childField)}});
}

void DeclareRelations(LexiconFile which) {
  using F = LexiconFile;
  switch (which) {
    case F::kSlovo:
      for (F parent : {F::kP8e, F::kP8b, F::kP7, F::kTema, F::kTax, F::kP4, F::kDct})
        Relate(F::kSlovo).AddRelation(Relate(parent));
      break;
    case F::kDct:
      Link(F::kDct, "VERV", F::kAbc, "KEYSLOVO", "SLOVO", RiRestrict, RiRestrict);
      Link(F::kDct, "VERV", F::kSlovo, "K_VERV", "VERV", RiRestrict, RiRestrict);
      break;
    case F::kP4: Link(F::kP4, "F", F::kSlovo, "BY_V4", "V_4", RiCascade, RiRestrict); break;
    case F::kP7: Link(F::kP7, "F", F::kSlovo, "BY_V7", "V_7", RiCascade, RiRestrict); break;
    case F::kP8b: Link(F::kP8b, "F", F::kSlovo, "BY_V8B", "V8B", RiCascade, RiRestrict); break;
    case F::kP8e: Link(F::kP8e, "F", F::kSlovo, "BY_V8E", "V8E", RiCascade, RiRestrict); break;
    case F::kTax: Link(F::kTax, "T", F::kSlovo, "BY_TAX", "IV", RiCascade, RiRestrict); break;
    case F::kTema: Link(F::kTema, "T", F::kSlovo, "BY_TEMA", "TEMA", RiCascade, RiRestrict); break;
    case F::kAbc: Relate(F::kAbc).AddRelation(Relate(F::kDct)); break;
    case F::kAk2: case F::kAk3: break;  // no relations: their texts are copied freely
  }
}

void BindFields(DeclaredFile& d) {
  storage::FileDescriptor& fd = d.fd();
  for (const storage::FieldDescriptor& f : fd.fields)
    lang::BIND(f.label, lang::Variable::Field(f.type, fd.record + f.offset, f.size, f.decimalPlaces));
  for (const storage::MemoDescriptor& m : fd.memos)
    lang::BIND(m.label, lang::Variable::Field(lang::kTypeMemo, m.buffer, m.size));
}

}  // namespace

Level DctFileManager::ValidateField(int field) {
  if (Level level = FileManager::ValidateField(field)) return level;
  if (field != 1) return framework::LevelBenign;
  DeclaredFile& dct = Declared(LexiconFile::kDct);
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  slovo.SetField("VERV", dct.Field("VERV"));  // cut to SLO:VERV's 20 characters
  if (Access(LexiconFile::kSlovo).TryFetch(KeyNumber(LexiconFile::kSlovo, "K_VERV")) ==
      framework::LevelBenign)
    return framework::LevelBenign;
  Errors->SetField("dct:VERV");
  return ThrowMessage(framework::FieldContentsError, "slovo");
}

void SetDatabaseFolder(const std::string& folder) { G().folder = folder; }
const std::string& DatabaseFolder() { return G().folder; }

DeclaredFile& Declared(LexiconFile which) { return G().files[Index(which)]; }
FileManager& Access(LexiconFile which) { return *G().access[Index(which)]; }
RelationManager& Relate(LexiconFile which) { return G().relate[Index(which)]; }

int FieldNumber(LexiconFile which, std::string_view name) {
  return Declared(which).FieldIndex(name) + 1;
}

int KeyNumber(LexiconFile which, std::string_view name) {
  const storage::FileDescriptor& fd = Declared(which).fd();
  for (size_t i = 0; i < fd.keys.size(); ++i) {
    std::string_view label = fd.keys[i].label;
    if (label.substr(label.find(':') + 1) == name) return static_cast<int>(i) + 1;
  }
  return 0;
}

void InitDictionary(framework::ErrorClass& errors, storage::DriverEntryFn driver) {
  KillDictionary();  // a second set-up starts from a clean slate
  Globals& g = G();
  if (!driver) driver = &storage::dat::DatDriverEntry;
  for (LexiconFile which : kFileOrder) {
    size_t i = Index(which);
    g.files[i] = DeclareFile(which, driver, g.folder);
    if (which == LexiconFile::kDct) g.access[i] = std::make_unique<DctFileManager>();
    else g.access[i] = std::make_unique<FileManager>();
  }
  for (LexiconFile which : kFileOrder) {
    FileManager& fm = Access(which);
    storage::FileDescriptor& fd = Declared(which).fd();
    fm.Init(fd, errors);
    fm.Buffer = fd.record;
    fm.Create = true;
    fm.LockRecover = 10;
    for (size_t k = 0; k < fd.keys.size(); ++k) fm.AddKey(static_cast<int>(k) + 1, fd.keys[k].label);
    Relate(which).Init(fm, /*useLogout=*/true);
    DeclareRelations(which);
    BindFields(Declared(which));
  }
  // ABC's declaration carries no extension; its manager knows it by its disk name.
  Access(LexiconFile::kAbc).FileNameValue = "abc";
}

void KillDictionary() {
  Globals& g = G();
  for (LexiconFile which : kFileOrder) {
    size_t i = Index(which);
    if (!g.access[i]) continue;
    g.relate[i].Kill();
    g.access[i]->Kill();
  }
}

}  // namespace korawin::app
