// Generated SLOVO-shaped cards for the benchmarks: deterministic, Windows-1251, with the
// vocabulary sizes of a real lexicon (many words, a few dozen themes and categories).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/files.h"

namespace korawin::bench {

struct GeneratedCard {
  std::string record;  // 4120 bytes, the SLOVO record buffer
  std::string memo;    // the examples, unpadded
};

// n cards with unique I_VERB values (shuffled, not in key order).
std::vector<GeneratedCard> GenerateCards(size_t n, uint32_t seed = 20261208);

// The I_VERB value (64 bytes) of a generated card.
std::string IVerbOf(const GeneratedCard& card);

// A three-letter fragment that occurs in a good share of the generated I_VERB values.
std::string CommonFragment();

// The engine's bulk ADD: every card added to slovo, open and denying others, in one STREAM
// batch ended by FLUSH. 0 or the first driver code.
int BulkAdd(app::DeclaredFile& slovo, const std::vector<GeneratedCard>& cards);

}  // namespace korawin::bench
