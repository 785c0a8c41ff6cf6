// Conversions between the program's kinds of text.
//
// Narrow text (std::string) is UTF-8 here: the "ANSI" code page of this
// build is UTF-8, so paths and settings round-trip. Text carried by archives
// in a Windows code page goes through ArchiveTextToString / StringToArchiveText
// (the legacy code page of platform/TextCodec.h). std::wstring holds code
// points (wchar_t is 32 bits); QString and stored UTF-16 use UTF-16 units.
// All functions return new strings and never fail except WStringToInt.
#pragma once

#include <string>
#include <vector>

class QString;

// Windows code-page numbers understood by ToCodePage / FromCodePage.
inline constexpr unsigned CP_ACP_CODEPAGE = 0;      // the narrow code page (UTF-8)
inline constexpr unsigned CP_UTF8_CODEPAGE = 65001;

// Characters the code page cannot represent become '?'; invalid input
// decodes to U+FFFD; embedded NULs are converted like any other character.
std::string ToCodePage(const std::wstring& s, unsigned codePage);
std::wstring FromCodePage(const std::string& s, unsigned codePage);

std::string WStringToString(const std::wstring& s);
std::string ToNarrowString(const std::wstring& s);
std::wstring StringToWString(const std::string& s);

// The code points of the string up to its first NUL.
std::wstring QStringToWString(const QString& s);
QString WStringToQString(const std::wstring& s);

std::vector<std::string> WStringVectorToStringVector(const std::vector<std::wstring>& v);
std::vector<std::wstring> StringVectorToWStringVector(const std::vector<std::string>& v);

// Each character through wctob in the current C locale; no single-byte form
// gives 0xFF.
std::string NarrowPerCharacter(const std::wstring& s);
// std::stoi (base 10) of NarrowPerCharacter(s): throws std::invalid_argument
// or std::out_of_range.
int WStringToInt(const std::wstring& s);

// Archive text in the legacy code page <-> UTF-8.
std::string ArchiveTextToString(const std::string& legacy);
std::string StringToArchiveText(const std::string& utf8);

// The words of a text separated by runs of blanks (' '), in order; empty
// words are not produced. Command texts ("time 01.02.2024 10:00:00") are
// read this way.
std::vector<std::string> SplitBlankSeparated(const std::string& text);
