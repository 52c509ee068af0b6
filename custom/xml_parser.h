// XML access layer over TinyXML: values are the text of child elements of
// the current (section) element, UTF-8 in the document and ANSI for callers.
#pragma once
#include <string>
#include "tinyxml.h"

class CBasedTXmlParser {
public:
    CBasedTXmlParser();
    virtual ~CBasedTXmlParser();
    virtual void InitDocument();
    bool Init();

    // Raw UTF-8 text of the child element pszName of the current element,
    // cut to wLimit bytes (0: no limit); empty when absent.
    void GetNV1(const char* pszName, std::string& strOut, unsigned short wLimit);
    void GetStringValue(const char* pszName, std::string& strOut, unsigned short wLimit);
    void GetUIntValue(const char* pszName, unsigned int* puValue);
    void GetIntValue(const char* pszName, int* pnValue);

    // UTF-8 to the ANSI code page, three-byte sequences to two ANSI bytes.
    // Reads at most nLen bytes; a byte that starts no complete character is dropped.
    static std::string Utf8ToAnsi(const char* pszText, size_t nLen);

protected:
    TiXmlDocument m_doc;
    TiXmlElement* m_pCurElem;
};

struct CusFunctionsInfo;
struct CusLogoInfo;
struct CusUninstallInfo;

class CCustomXmlParse : public CBasedTXmlParser {
public:
    CCustomXmlParse();
    virtual ~CCustomXmlParse();
    virtual void InitDocument();
    void ResetDocument();
    bool LoadXmlFile(const char* pszPath);
    void SelectSection(const char* pszSection);
    // LoadXmlFile, then SelectSection: true when the document was loaded;
    // a missing section then leaves CurrentElement() NULL.
    bool LoadSection(const char* pszPath, const char* pszSection);

    // Section readers: 1 when the document was loaded, 0 when not.
    int ReadFunctions(const char* pszPath, CusFunctionsInfo& info);
    int ReadLogoOptions(const char* pszPath, CusLogoInfo& info);
    int ReadUninstallInfo(const char* pszPath, CusUninstallInfo& info);

    TiXmlElement* CurrentElement() const { return m_pCurElem; }

private:
    // Reads, checks and parses one file into the (empty) document.
    bool ReadDocumentFile(const char* pszPath);

    std::string m_strLoadedPath;
};
