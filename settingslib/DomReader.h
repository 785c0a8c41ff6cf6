#pragma once
// Lenient reader of the settings file into a document tree.
//
// Accepts elements with quoted, unquoted or value-less attributes, texts with
// the five named entities and numeric character references, raw sections
// (comments, CDATA, DOCTYPE, PRE) kept verbatim and <?...?> declarations;
// closes elements left open and reports problems as DomError codes with a
// line and a column. A declaration directly at the top becomes the parent of
// everything after it.
#include <string>

#include "settingslib/DomTree.h"

namespace cantorel {

struct DomParseResult {
    int code = kDomOk;
    int line = 0;
    int column = 0;
};

// Warnings 1 and 2 keep the tree; every other non-zero code gives the empty
// handle. `result` may be null.
DomNode ParseDomText(const char16_t* text, DomParseResult* result);
// Reads a file: UTF-16LE (FF FE, or no BOM with zero bytes in it), UTF-16BE
// (FE FF), UTF-8 (EF BB BF, or valid UTF-8 without a prefix), else
// Windows-1252.
DomNode ParseDomFile(WStringView path, DomParseResult* result);
// Decodes the bytes of a file into wide text, choosing the encoding as above.
WString DecodeDomFileBytes(const std::string& bytes);

// The report printed for a file that did not parse cleanly.
std::string FormatDomLoadError(WStringView path, const DomParseResult& result);
// ParseDomFile; on any non-zero code (warnings included) prints the report on
// standard output and returns the empty handle, with the code in *result.
DomNode LoadDomFileOrReport(WStringView path, DomParseResult* result);

}  // namespace cantorel
