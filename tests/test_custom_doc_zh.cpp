// Chinese settings on a Simplified Chinese system (code page 936): UTF-8
// text in the documents arrives as the exact GBK bytes. Expected bytes were
// computed with an independent GBK encoder and are written out here.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include "cipher.h"
#include "custom_doc.h"
#include "file.h"
#include "testutil.h"
#include "xml_docs.h"
#include "xml_parser.h"

namespace {

const char* const kDecl = kt::XmlDecl();

using kt::Document;
using kt::Elem;

std::string Repeat(const std::string& str, size_t n)
{
    std::string strOut;
    for (size_t i = 0; i < n; ++i)
        strOut += str;
    return strOut;
}

// UTF-8 and GBK of the texts used below.
const char* const kIconUtf8 = "\xe5\x9b\xbe\xe6\xa0\x87.ico";  // 图标.ico
const char* const kIconGbk = "\xcd\xbc\xb1\xea.ico";
const char* const kTitleUtf8 = "Kavla \xe5\xae\xa2\xe6\x88\xb7\xe7\xab\xaf v2";  // Kavla 客户端 v2
const char* const kTitleGbk = "Kavla \xbf\xcd\xbb\xa7\xb6\xcb v2";
// 欢迎使用，网络接入客户端。（测试） with full-width punctuation.
const char* const kAboutUtf8 =
    "\xe6\xac\xa2\xe8\xbf\x8e\xe4\xbd\xbf\xe7\x94\xa8\xef\xbc\x8c\xe7\xbd\x91\xe7\xbb\x9c\xe6\x8e\xa5"
    "\xe5\x85\xa5\xe5\xae\xa2\xe6\x88\xb7\xe7\xab\xaf\xe3\x80\x82\xef\xbc\x88\xe6\xb5\x8b\xe8\xaf\x95"
    "\xef\xbc\x89";
const char* const kAboutGbk =
    "\xbb\xb6\xd3\xad\xca\xb9\xd3\xc3\xa3\xac\xcd\xf8\xc2\xe7\xbd\xd3\xc8\xeb\xbf\xcd\xbb\xa7\xb6\xcb"
    "\xa1\xa3\xa3\xa8\xb2\xe2\xca\xd4\xa3\xa9";
const char* const kKeUtf8 = "\xe5\xae\xa2";  // 客
const char* const kKeGbk = "\xbf\xcd";

class ChineseDoc : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(936u, GetACP());
        ASSERT_EQ(2052, GetSystemDefaultLangID());
        m_strDir = kt::NewTempFolder("cuszh");
    }
    std::string Put(const std::string& strBytes)
    {
        std::string strPath = m_strDir + "\\KavlaCustom.xml";
        EXPECT_TRUE(kt::WriteBytes(strPath, strBytes));
        return strPath;
    }
    std::string m_strDir;
};

} // namespace

TEST_F(ChineseDoc, LogoTextsArriveAsGbk)
{
    CusLogoInfo logo;
    CCustomXmlParse parser;
    const std::string strPath = Put(Document(Elem("logoOptions", Elem("CusIconName", kIconUtf8) +
                                                                 Elem("subTitle", kTitleUtf8) +
                                                                 Elem("subAboutInfo", kAboutUtf8))));
    ASSERT_EQ(1, parser.ReadLogoOptions(strPath.c_str(), logo));
    EXPECT_EQ(kIconGbk, logo.CusIconName);
    EXPECT_EQ(kTitleGbk, logo.subTitle);
    EXPECT_EQ(kAboutGbk, logo.subAboutInfo);
}

// Limits count UTF-8 bytes; a character cut by the limit is dropped whole,
// and nothing past the cut is read or produced.
TEST_F(ChineseDoc, ByteLimitsCutBeforeConversion)
{
    // 87 characters are 261 UTF-8 bytes: 260 keep 86 whole characters.
    const std::string strName = Repeat(kKeUtf8, 87);
    // 11 characters are 33 bytes: 32 keep 10.
    const std::string strUser = Repeat(kKeUtf8, 11);
    // 86 characters and two ASCII letters: exactly 260 bytes, all kept.
    const std::string strExact = Repeat(kKeUtf8, 86) + "ab";
    {
        CusLogoInfo logo;
        CCustomXmlParse parser;
        ASSERT_EQ(1, parser.ReadLogoOptions(Put(Document(Elem("logoOptions", Elem("CusIconName", strName) +
                                                                             Elem("subTitle", strExact)))).c_str(),
                                            logo));
        EXPECT_EQ(Repeat(kKeGbk, 86), logo.CusIconName);
        EXPECT_EQ(172u, logo.CusIconName.size());
        EXPECT_EQ(Repeat(kKeGbk, 86) + "ab", logo.subTitle);
    }
    {
        CusFunctionsInfo fn;
        CCustomXmlParse parser;
        ASSERT_EQ(1, parser.ReadFunctions(Put(Document(Elem("functions", Elem("userFromExtendPro", strUser)))).c_str(),
                                          fn));
        EXPECT_EQ(Repeat(kKeGbk, 10), fn.userFromExtendPro);
    }
}

TEST_F(ChineseDoc, ConversionOfMixedText)
{
    struct { std::string strUtf8, strGbk; } const aCase[] = {
        // ASCII and characters from U+0800 to U+FFFF: same ASCII, two bytes each, in order.
        {"a\xe4\xb8\xad" "b\xe6\x96\x87" "c", "a\xd6\xd0" "b\xce\xc4" "c"},
        {"\xe7\x94\xa8\xe6\x88\xb7\xe5\x90\x8d", "\xd3\xc3\xbb\xa7\xc3\xfb"},  // 用户名
        // A two-byte character is one character, not the start of a three-byte one.
        {"caf\xc3\xa9!", "caf\xa8\xa6!"},
        // A character GBK lacks: the default character, and no zero byte after it.
        {"x\xe0\xb8\x81y", "x?y"},
        // A text cut inside its last character.
        {"\xe4\xb8\xad\xe6\x96", "\xd6\xd0"},
    };
    for (const auto& c : aCase) {
        const std::string str = CBasedTXmlParser::Utf8ToAnsi(c.strUtf8.data(), c.strUtf8.size());
        EXPECT_EQ(c.strGbk, str) << c.strUtf8;
        EXPECT_EQ(std::string::npos, str.find('\0'));
    }
}

// A password typed in Chinese is stored as the cipher text of its GBK bytes;
// the reader hands those bytes back, and encrypting them again gives the
// stored text that the password dialog compares with.
TEST_F(ChineseDoc, ChinesePasswordRoundTrip)
{
    const char* const kStored = "8EZNoSA5Gmc=";  // 你好 in GBK, made with OpenSSL
    CusFunctionsInfo fn;
    CCustomXmlParse parser;
    ASSERT_EQ(1, parser.ReadFunctions(Put(Document(Elem("functions", Elem("uninstall", "1") +
                                                                     Elem("uninstallPassword", kStored) +
                                                                     Elem("userFromExtendPro", kTitleUtf8)))).c_str(),
                                      fn));
    EXPECT_EQ("\xc4\xe3\xba\xc3", fn.uninstallPassword);
    char szText[128];
    ASSERT_EQ(CIPHER_OK, EncryptPassword(szText, sizeof(szText), (const BYTE*)fn.uninstallPassword.data(),
                                         (DWORD)fn.uninstallPassword.size()));
    EXPECT_STREQ(kStored, szText);
    // 21 UTF-8 bytes, under the 32-byte limit.
    EXPECT_EQ(kTitleGbk, fn.userFromExtendPro);
}

// Names from the documents (the icon) arrive as GBK: an ideograph whose trail
// byte is 0x5C or 0x7C is one character to the file functions, so the name
// stays plain and names one file; a real separator is still refused.
TEST(ChineseNames, GbkTrailBytesOfSeparatorsStayPlain)
{
    const std::string strNori = "\x81\x5c.ico";             // 乗.ico
    const std::string strEastBillion = "\x96\x7c\x83\x7c.ico";  // 東億.ico
    EXPECT_EQ(1, utl_IsPlainFileName(strNori.c_str()));
    EXPECT_EQ(1, utl_IsPlainFileName(strEastBillion.c_str()));
    EXPECT_EQ(0, utl_IsPlainFileName("\xb1\xea\\x.ico"));     // 标\x.ico
    EXPECT_EQ(0, utl_IsPlainFileName("\xb1\xea|x.ico"));
    EXPECT_EQ(0, utl_IsPlainFileName("x\x81"));               // a lead byte without its trail
    std::string strDir = kt::NewTempFolder("gbknames");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\" + strNori, "a"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\" + strEastBillion, "b"));
    std::vector<std::string> names = kt::ListFolder(strDir);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {strNori, strEastBillion};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names);
}
