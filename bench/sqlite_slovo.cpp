#include "bench/sqlite_slovo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace korawin::bench {

namespace {

std::string_view Trimmed(std::string_view v) {
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
    std::abort();
  }
}

const char* const kIndexed[] = {"I_VERB", "VERV", "IV", "TEMA", "V8B",
                                "V_4", "V_7", "V8E", "II_MORFOLOG"};

}  // namespace

SqliteSlovo::SqliteSlovo(const std::string& path) {
  std::remove(path.c_str());
  Check(sqlite3_open(path.c_str(), &db_), db_, "open");
  app::DeclaredFile decl = app::DeclareFile(app::LexiconFile::kSlovo, nullptr);
  for (const auto& f : decl.file->fields) columns_.push_back(f.label.substr(4));
}

SqliteSlovo::~SqliteSlovo() { Close(); }

void SqliteSlovo::Close() {
  sqlite3_close(db_);
  db_ = nullptr;
}

void SqliteSlovo::Exec(const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s: %s\n", sql, err ? err : "?");
    std::abort();
  }
}

void SqliteSlovo::Load(const std::vector<GeneratedCard>& cards) {
  std::string create = "CREATE TABLE slovo (";
  for (size_t i = 0; i < columns_.size(); ++i) create += (i ? ", \"" : "\"") + columns_[i] + "\"";
  create += ", EXA_MEMO)";
  Exec(create.c_str());
  for (const char* col : kIndexed) {
    std::string sql = std::string("CREATE ") + (std::string_view(col) == "I_VERB" ? "UNIQUE " : "") +
                      "INDEX ix_" + col + " ON slovo(\"" + col + "\")";
    Exec(sql.c_str());
  }
  std::string insert = "INSERT INTO slovo VALUES (";
  for (size_t i = 0; i <= columns_.size(); ++i) insert += i ? ",?" : "?";
  insert += ")";
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db_, insert.c_str(), -1, &st, nullptr), db_, "prepare");
  app::DeclaredFile decl = app::DeclareFile(app::LexiconFile::kSlovo, nullptr);
  Exec("BEGIN");
  for (const GeneratedCard& c : cards) {
    for (size_t i = 0; i < decl.file->fields.size(); ++i) {
      const auto& f = decl.file->fields[i];
      int col = static_cast<int>(i) + 1;
      if (f.type == storage::kTypeString) {
        std::string_view v = Trimmed(std::string_view(c.record).substr(f.offset, f.size));
        sqlite3_bind_text(st, col, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
      } else {
        int64_t v = 0;
        if (f.type == storage::kTypeByte) v = static_cast<unsigned char>(c.record[f.offset]);
        if (f.type == storage::kTypeLong) std::memcpy(&v, c.record.data() + f.offset, 4);
        sqlite3_bind_int64(st, col, v);
      }
    }
    sqlite3_bind_text(st, static_cast<int>(decl.file->fields.size()) + 1, c.memo.data(),
                      static_cast<int>(c.memo.size()), SQLITE_STATIC);
    Check(sqlite3_step(st), db_, "insert");
    sqlite3_reset(st);
  }
  Exec("COMMIT");
  sqlite3_finalize(st);
}

size_t SqliteSlovo::Lookup(const std::vector<std::string>& iverbs) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db_, "SELECT * FROM slovo WHERE I_VERB = ?", -1, &st, nullptr), db_,
        "prepare");
  size_t found = 0;
  for (const std::string& k : iverbs) {
    std::string_view v = Trimmed(k);
    sqlite3_bind_text(st, 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    if (sqlite3_step(st) == SQLITE_ROW) {
      ++found;
      for (int i = 0; i < sqlite3_column_count(st); ++i) (void)sqlite3_column_text(st, i);
    }
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  return found;
}

size_t SqliteSlovo::WalkAll() {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db_, "SELECT * FROM slovo ORDER BY I_VERB", -1, &st, nullptr), db_,
        "prepare");
  size_t rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    for (int i = 0; i < sqlite3_column_count(st); ++i) (void)sqlite3_column_text(st, i);
  }
  sqlite3_finalize(st);
  return rows;
}

void SqliteSlovo::Reindex() { Exec("REINDEX slovo"); }

size_t SqliteSlovo::Filter(const std::string& fragment) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db_,
                           "SELECT * FROM slovo WHERE (?1 = '' OR instr(I_VERB, ?1) <> 0) "
                           "ORDER BY I_VERB",
                           -1, &st, nullptr),
        db_, "prepare");
  sqlite3_bind_text(st, 1, fragment.data(), static_cast<int>(fragment.size()), SQLITE_STATIC);
  size_t rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    for (int i = 0; i < sqlite3_column_count(st); ++i) (void)sqlite3_column_text(st, i);
  }
  sqlite3_finalize(st);
  return rows;
}

}  // namespace korawin::bench
