// The same SLOVO workload on SQLite: one table with the card's columns and nine indexes,
// the baseline that the storage benchmarks print their ratios against.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "bench/slovo_gen.h"

namespace korawin::bench {

class SqliteSlovo {
 public:
  explicit SqliteSlovo(const std::string& path);
  ~SqliteSlovo();
  SqliteSlovo(const SqliteSlovo&) = delete;
  SqliteSlovo& operator=(const SqliteSlovo&) = delete;

  // Creates the table and its nine indexes, then loads the cards in one transaction.
  void Load(const std::vector<GeneratedCard>& cards);
  // Looks each I_VERB up through its index; returns how many were found.
  size_t Lookup(const std::vector<std::string>& iverbs);
  // Reads every row in I_VERB order, every column; returns the row count.
  size_t WalkAll();
  // Rebuilds the nine indexes.
  void Reindex();
  // Rows in I_VERB order whose I_VERB contains fragment (all rows when it is empty).
  size_t Filter(const std::string& fragment);
  // Closes the database; nothing else may be called afterwards.
  void Close();

 private:
  void Exec(const char* sql);

  sqlite3* db_ = nullptr;
  std::vector<std::string> columns_;
};

}  // namespace korawin::bench
