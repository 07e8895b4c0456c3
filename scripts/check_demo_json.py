#!/usr/bin/env python3
"""Validate the demo database source (app/demo/demo.json).

The file is a JSON array of lexeme cards; each card is an object whose keys are
field names of the SLOVO record (plus the memo EXA_MEMO).  Every text value must
be encodable in Windows-1251 and fit its field's width counted in cp1251 bytes.

Usage:
    scripts/check_demo_json.py [FILE]      check FILE (default app/demo/demo.json)
    scripts/check_demo_json.py --self-test run the checker's own tests
Exit status 0 when the file passes, 1 otherwise.
"""
import json
import os
import sys
from collections import Counter, defaultdict

# SLOVO fields in stored order: name -> width in bytes for STRING(n),
# "LONG" or "BYTE" for the numeric fields.
SLOVO_FIELDS = [
    ("I_VERB", 64), ("DATE", "LONG"), ("NAME", 10), ("VERV", 20), ("EXAMPLE", 255), ("F_M", 164),
    ("ACT11", 4), ("ACT12", 4), ("ACT13", 4), ("ACT14", 4), ("ACT15", 4),
    ("ACT21", 30), ("ACT22", 30), ("ACT23", 30), ("ACT24", 30), ("ACT25", 30),
    ("ACT31", 5), ("ACT32", 5), ("ACT33", 5), ("ACT34", 5), ("ACT35", 5),
    ("ACT41", 30), ("ACT42", 30), ("ACT43", 30), ("ACT44", 30), ("ACT45", 30),
    ("ACT51", 70), ("ACT52", 70), ("ACT53", 70), ("ACT54", 70), ("ACT55", 70),
    ("IV", 140), ("V_0", 150), ("V_1", 150), ("V_2", 150), ("V_3", 150), ("V_4", 150),
    ("V_5", 186), ("V_7", 210), ("V_6", 210), ("V8B", 40), ("V8E", 210), ("V_9", 190),
    ("V_10", 150), ("TEMA", 164), ("II_MORFOLOG", 64), ("VI", 80), ("VIII", 255),
    ("VIII_ADD", 255), ("METKA", 1), ("Q1", "BYTE"), ("Q2", "BYTE"), ("Q3", "BYTE"),
]
MEMO_FIELDS = {"EXA_MEMO": 10000}
WIDTHS = dict(SLOVO_FIELDS)
WIDTHS.update(MEMO_FIELDS)
assert len(SLOVO_FIELDS) == 53

# Fields whose values feed the classification vocabularies rebuilt by the repair.
VOCAB_FIELDS = {
    "TEMA": ["TEMA"], "IV": ["IV"], "V_4": ["V_4"], "V_7": ["V_7"], "V8B": ["V8B"], "V8E": ["V8E"],
    "II_MORFOLOG": ["II_MORFOLOG"],
    "roles": ["ACT41", "ACT42", "ACT43", "ACT44", "ACT45"],
    "T-classes": ["ACT51", "ACT52", "ACT53", "ACT54", "ACT55"],
}
MIN_CARDS, MAX_CARDS = 80, 130
LONG_MIN, LONG_MAX = -2**31, 2**31 - 1


def word_of(i_verb):
    """The word a lexeme belongs to: the identifier up to its first blank."""
    return i_verb.split(" ", 1)[0]


def check_cards(cards):
    """Return a list of error texts for a parsed demo file (empty when it passes)."""
    errors = []
    if not isinstance(cards, list):
        return ["top level is not a JSON array"]
    if not MIN_CARDS <= len(cards) <= MAX_CARDS:
        errors.append("%d cards, expected about 100 (%d..%d)" % (len(cards), MIN_CARDS, MAX_CARDS))
    seen = {}
    vocab_spellings = defaultdict(lambda: defaultdict(set))
    for n, card in enumerate(cards, 1):
        where = "card %d" % n
        if not isinstance(card, dict):
            errors.append("%s: not an object" % where)
            continue
        i_verb = card.get("I_VERB")
        if isinstance(i_verb, str) and i_verb.strip():
            where = "card %d (%s)" % (n, i_verb)
        for key, value in card.items():
            if key not in WIDTHS:
                errors.append("%s: unknown field %r" % (where, key))
                continue
            width = WIDTHS[key]
            if width in ("LONG", "BYTE"):
                lo, hi = (LONG_MIN, LONG_MAX) if width == "LONG" else (0, 255)
                if not isinstance(value, int) or isinstance(value, bool) or not lo <= value <= hi:
                    errors.append("%s: %s must be an integer in %d..%d" % (where, key, lo, hi))
                continue
            if not isinstance(value, str):
                errors.append("%s: %s is not a string" % (where, key))
                continue
            try:
                size = len(value.encode("cp1251"))
            except UnicodeEncodeError as exc:
                bad = value[exc.start:exc.end]
                errors.append("%s: %s has characters outside Windows-1251: %r" % (where, key, bad))
                continue
            if size > width:
                errors.append("%s: %s is %d bytes, field width %d" % (where, key, size, width))
            if key != "EXA_MEMO" and ("\n" in value or "\r" in value):
                errors.append("%s: %s contains a line break" % (where, key))
            if key == "EXA_MEMO" and "\n" in value.replace("\r\n", ""):
                errors.append("%s: EXA_MEMO lines must be separated by CR LF" % where)
            if value != value.strip():
                errors.append("%s: %s has leading or trailing blanks" % (where, key))
        if not isinstance(i_verb, str) or not i_verb.strip():
            errors.append("%s: I_VERB missing or blank" % where)
            continue
        folded = i_verb.strip().lower()
        if folded in seen:
            errors.append("%s: I_VERB duplicates card %d (case ignored)" % (where, seen[folded]))
        else:
            seen[folded] = n
        verv = card.get("VERV")
        if verv is not None and verv != word_of(i_verb)[:20]:
            errors.append("%s: VERV %r is not the word of I_VERB" % (where, verv))
        if card.get("METKA", " ") not in ("*", " "):
            errors.append("%s: METKA must be '*' or blank" % where)
        for vocab, fields in VOCAB_FIELDS.items():
            for f in fields:
                v = card.get(f)
                if isinstance(v, str) and v.strip():
                    vocab_spellings[vocab][" ".join(v.lower().split())].add(v)
    # The same entry spelled two ways (case, blanks) would split a vocabulary.
    for vocab, spellings in vocab_spellings.items():
        for variants in spellings.values():
            if len(variants) > 1:
                errors.append("%s: one entry spelled differently: %s" % (vocab, sorted(variants)))
    # Numbered lexemes of a word run 1..n without gaps.
    numbers = defaultdict(list)
    for card in cards:
        if isinstance(card, dict) and isinstance(card.get("I_VERB"), str):
            parts = card["I_VERB"].split(" ")
            if len(parts) > 1 and parts[1].isdigit():
                numbers[parts[0]].append(int(parts[1]))
    for word, nums in numbers.items():
        if sorted(nums) != list(range(1, len(nums) + 1)):
            errors.append("word %s: lexeme numbers %s are not 1..%d" % (word, sorted(nums), len(nums)))
    return errors


def summary(cards):
    words = Counter(word_of(c["I_VERB"]) for c in cards)
    lines = ["cards: %d" % len(cards),
             "words: %d (%d with several lexemes, %d single)" % (
                 len(words), sum(1 for v in words.values() if v > 1),
                 sum(1 for v in words.values() if v == 1))]
    for vocab, fields in VOCAB_FIELDS.items():
        values = {c[f] for c in cards for f in fields if c.get(f, "").strip()}
        lines.append("%s: %d distinct" % (vocab, len(values)))
    lines.append("marked cards: %d" % sum(1 for c in cards if c.get("METKA") == "*"))
    lines.append("cards with examples: %d" % sum(1 for c in cards if c.get("EXA_MEMO", "").strip()))
    return lines


def self_test():
    """Feed the checker faulty cards and make sure each fault is reported."""
    def good(i):
        return {"I_VERB": "идти %d (двигаться)" % i, "VERV": "идти", "TEMA": "движение",
                "DATE": 82300, "EXA_MEMO": "Он идёт.\r\nМы шли."}
    base = [good(i) for i in range(1, 101)]
    assert check_cards(base) == [], check_cards(base)

    def errors_with(mutate):
        cards = json.loads(json.dumps(base, ensure_ascii=False))
        mutate(cards)
        return check_cards(cards)

    cases = {
        "unknown field": lambda c: c[0].update(FOO="x"),
        "bytes, field width 4": lambda c: c[0].update(ACT11="XYZWV"),
        "bytes, field width 64": lambda c: c[0].update(I_VERB="ё" * 65),
        "outside Windows-1251": lambda c: c[0].update(TEMA="движе\u0301ние"),
        "duplicates card 1": lambda c: c[1].update(I_VERB="ИДТИ 1 (ДВИГАТЬСЯ)"),
        "I_VERB missing": lambda c: c[0].pop("I_VERB"),
        "VERV": lambda c: c[0].update(VERV="пойти"),
        "spelled differently": lambda c: c[3].update(TEMA="Движение"),
        "CR LF": lambda c: c[0].update(EXA_MEMO="Он идёт.\nМы шли."),
        "integer": lambda c: c[0].update(DATE="82300"),
        "METKA": lambda c: c[0].update(METKA="x"),
        "expected about 100": lambda c: c.__delitem__(slice(50, None)),
        "lexeme numbers": lambda c: c[99].update(I_VERB="идти 101"),
        "trailing blanks": lambda c: c[0].update(NAME="Орлова "),
    }
    failed = 0
    for expected, mutate in cases.items():
        errs = errors_with(mutate)
        if not any(expected in e for e in errs):
            print("self-test FAILED: %r not reported; got %s" % (expected, errs))
            failed += 1
    # Exactly at the width passes: 10 Cyrillic letters are 10 bytes in cp1251.
    at_width = errors_with(lambda c: c[0].update(NAME="Щ" * 10, F_M="«X» — Y…№"))
    if at_width:
        print("self-test FAILED: values within width rejected: %s" % at_width)
        failed += 1
    print("self-test: %d cases, %d failed" % (len(cases) + 2, failed))
    return failed == 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return 0 if self_test() else 1
    path = argv[1] if len(argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "app", "demo", "demo.json")
    try:
        with open(path, encoding="utf-8") as f:
            cards = json.load(f)
    except (OSError, ValueError) as exc:
        print("%s: cannot read JSON: %s" % (path, exc))
        return 1
    errors = check_cards(cards)
    for e in errors:
        print("error: " + e)
    if errors:
        print("%s: %d error(s)" % (path, len(errors)))
        return 1
    for line in summary(cards):
        print(line)
    print("%s: OK" % os.path.normpath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
