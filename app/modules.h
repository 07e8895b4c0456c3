// The application's procedure modules by number ("korawin1$koraw051" is 51). Procedures that
// the design gives no module take numbers from 1000 up.
#pragma once

namespace korawin::app::modules {

// The frame and its utilities.
inline constexpr int kMainFrame = 1;
inline constexpr int kSplash = 29;
inline constexpr int kSettings = 50;
inline constexpr int kRepair = 27;           // its progress window's module
inline constexpr int kExamplesMove = 28;     // its progress window's module

// Word and lexeme lists.
inline constexpr int kWordList = 4;
inline constexpr int kLexemeList = 51;
inline constexpr int kLexemeFragmentList = 52;
inline constexpr int kLexemeAuxList = 139;

// Classification browsers and their fragment twins, participant lists and their lexemes.
inline constexpr int kThemeBrowser = 10, kThemeFragmentBrowser = 21;
inline constexpr int kTaxBrowser = 9, kTaxFragmentBrowser = 22;
inline constexpr int kK4Browser = 80, kK4FragmentBrowser = 81;
inline constexpr int kK6Browser = 6, kK6FragmentBrowser = 20;
inline constexpr int kK81Browser = 7, kK81FragmentBrowser = 23;
inline constexpr int kK82Browser = 8, kK82FragmentBrowser = 24;
inline constexpr int kRoleList = 2, kRoleFragmentList = 25;
inline constexpr int kTClassList = 3, kTClassFragmentList = 26;
inline constexpr int kRoleLexemes = 19, kTClassLexemes = 18;
// Entry update forms.
inline constexpr int kThemeForm = 13, kTaxForm = 15, kK4Form = 78, kK6Form = 82, kK82Form = 76,
                     kTClassForm = 79;
// Pick lists.
inline constexpr int kThemePick = 12, kTaxPick = 34, kK4Pick = 35, kK6Pick = 36, kK81Pick = 16,
                     kK82Pick = 37, kRolePick = 17, kTClassPick = 42;

// The lexeme card forms and their expand windows.
inline constexpr int kCardForm041 = 41, kCardForm053 = 53, kCardForm038 = 38;
inline constexpr int kExamplesExpand = 57, kCommentAddExpand = 58, kK9Expand = 140,
                     kK7Expand = 141, kTaxExpand = 30, kK4Expand = 32, kK6Expand = 31,
                     kK82Expand = 33;

// Lexeme filters and their results.
inline constexpr int kRoleFilter = 96, kRoleFilterList = 103;
inline constexpr int kTClassFilter = 104, kTClassFilterList = 105;
inline constexpr int kExplicationFilter = 97, kExplicationFilterList = 102;
inline constexpr int kTaxThemeFilter = 90, kTaxThemeFilterList = 91;
inline constexpr int kThemeK82Filter = 106, kThemeK82FilterList = 107;

// Printing, export and the text viewer.
inline constexpr int kCardReport = 40, kCardReport2 = 54;
inline constexpr int kCardExport = 1000;            // the card text export
inline constexpr int kPrepareWordsLexemes = 1001;   // fills ABC, then starts kWordsLexemesReport
inline constexpr int kWordsLexemesReport = 112;
inline constexpr int kTaxReport = 67, kThemeReport = 74, kRoleReport = 68, kTClassReport = 69,
                     kK4Report = 83, kK6Report = 71, kK81Report = 72, kK82Report = 73;
inline constexpr int kMarkedCardsReport = 59, kMarkedFragmentCardsReport = 60,
                     kLexemeNamesReport = 62;
inline constexpr int kTextViewer = 45;

}  // namespace korawin::app::modules
