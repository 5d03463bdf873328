#pragma once
// Pairs of names and whether they are one name without regard to letter
// case: the one table that every look-up ignoring case is held to (registry
// names on both sides, the letter-case helper, field names, the find
// dialog's comparison), so that no two of them can answer differently.
// `equal` is the answer in every language but Turkish and Azeri, and the
// registry's answer in all of them; `equalInTurkish` is the answer of the
// look-ups that follow the user's locale when it is Turkish.

namespace querlin::test {

struct LetterCaseCase {
    const char* label;
    const char* a;
    const char* b;
    bool equal;
    bool equalInTurkish;
};

inline const LetterCaseCase kLetterCaseCases[] = {
    {"LatinAccents", "Ärger Café Øre Ñandú", "äRGER CAFÉ øRE ñANDÚ", true, true},
    {"LatinYWithDiaeresis", "ÿ", "Ÿ", true, true},
    {"AccentMakesAnotherLetter", "Cafe", "CAFÉ", false, false},
    {"LatinExtended", "Łódź Őrség", "łÓDŹ őRSÉG", true, true},
    {"CapitalsOfAnotherLength", "ⱥ", "Ⱥ", true, true},
    {"GreekWithAccents", "Αλφάβητο", "ΑΛΦΆΒΗΤΟ", true, true},
    {"GreekMedialSigma", "ΟΔΟΣ", "οδοσ", true, true},
    {"GreekFinalSigma", "ΟΔΟΣ", "οδος", false, false},
    {"GreekBothSmallSigmas", "ς", "σ", false, false},
    {"MicroSignIsNoGreekMu", "µ", "Μ", false, false},
    {"GreekMu", "μ", "Μ", true, true},
    {"Cyrillic", "Имя Ёлка", "иМЯ ёЛКА", true, true},
    {"CyrillicBeyondRussian", "Ґанок Їжак Ў", "ґанок їжак ў", true, true},
    {"TurkishSmallDottedI", "i", "I", true, false},
    {"TurkishCapitalDottedI", "i", "İ", false, true},
    {"TurkishSmallDotlessI", "ı", "I", false, true},
    {"TurkishDotlessAndDotted", "ı", "i", false, false},
    {"TurkishWord", "istanbul", "İSTANBUL", false, true},
    {"TurkishWordInCapitals", "ISTANBUL", "istanbul", true, false},
    {"SharpSHasNoCapital", "straße", "STRASSE", false, false},
    {"SharpSStaysItself", "Straße", "STRAßE", true, true},
    {"CapitalSharpSIsALetterOfItsOwn", "ß", "ẞ", false, false},
    {"FullWidthLatin", "ＳＥＬＥＣＴ", "ｓｅｌｅｃｔ", true, true},
    {"FullWidthIsNotAscii", "ＳＥＬＥＣＴ", "select", false, false},
    {"FullWidthI", "ｉ", "Ｉ", true, true},
    {"Chinese", "用户表", "用户表", true, true},
    {"ChinesePrefix", "用户", "用户表", false, false},
    {"OutsideTheBasicPlane", "𐐨", "𐐀", false, false},
};

} // namespace querlin::test
