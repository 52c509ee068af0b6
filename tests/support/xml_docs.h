// Customisation documents written by tests: the skeleton with its sections.
#pragma once
#include <string>

namespace kt {

inline const char* XmlDecl() { return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"; }

// <name>text</name>
inline std::string Elem(const std::string& strName, const std::string& strText)
{
    return "<" + strName + ">" + strText + "</" + strName + ">";
}

// The declaration, msg and content around the sections.
inline std::string Document(const std::string& strSections)
{
    return std::string(XmlDecl()) + "<msg><content>" + strSections + "</content></msg>";
}

} // namespace kt
