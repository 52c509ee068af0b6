// Nesting guard for TinyXML: its parser descends one call level per nested
// element and, in UTF-8 mode, steps over a multi-byte character without
// looking for the end of the text. A settings file is read before anything
// verifies it, so a hostile one could exhaust the stack or make the parser
// read past its buffer. The guard walks a text exactly the way TinyXML
// 2.6.2 will parse it, without recursion, and says whether that parse stays
// within a nesting depth and inside the text.
#pragma once
#include <string>
#include "tinyxml.h"

// Deep enough for any document a person writes, shallow enough for the
// parser's recursion on the smallest thread stack.
#define XML_MAX_NESTING 256

// Derives from TiXmlBase only to share the parser's own character rules
// (white space, names, entities, string matching); never instantiated.
class CXmlNestingGuard : private TiXmlBase {
public:
    // true when TiXmlDocument::Parse of pszText (terminated, line ends
    // already normalised as LoadFile does) nests elements no deeper than
    // uMaxDepth and never steps past the terminator.
    static bool IsSafe(const char* pszText, unsigned int uMaxDepth);

private:
    enum NodeKind { NK_NONE, NK_DECLARATION, NK_COMMENT, NK_CDATA, NK_UNKNOWN, NK_ELEMENT };
    static NodeKind Identify(const char* p, TiXmlEncoding enc);
    static const char* CharSpan(const char* p, std::string* pText, TiXmlEncoding enc, bool* pbOverrun);
    static const char* TextSpan(const char* p, std::string* pText, bool bTrim, const char* pszEnd,
                                TiXmlEncoding enc, bool* pbOverrun);
    static const char* AttributeSpan(const char* p, std::string* pName, std::string* pValue,
                                     TiXmlEncoding enc, bool* pbOverrun);
    static const char* DeclarationSpan(const char* p, std::string* pEncoding, TiXmlEncoding enc,
                                       bool* pbOverrun);
    static const char* CommentSpan(const char* p, TiXmlEncoding enc);
    static const char* UnknownSpan(const char* p, TiXmlEncoding enc);
    static const char* CDataSpan(const char* p, TiXmlEncoding enc, bool* pbOverrun);
    static const char* StartTagSpan(const char* p, std::string* pName, bool* pbEmpty,
                                    TiXmlEncoding enc, bool* pbOverrun);
    static const char* OtherNodeSpan(NodeKind eKind, const char* p, TiXmlEncoding enc, bool* pbOverrun);
    static const char* ElementSpan(const char* p, TiXmlEncoding enc, unsigned int uMaxDepth, bool* pbRefuse);
};
