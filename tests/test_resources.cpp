// The program's resources as Windows reads them: manifest and version.
#include <gtest/gtest.h>
#include "testutil.h"

namespace {

std::string ManifestOf(const std::string& strExe)
{
    HMODULE h = LoadLibraryExA(strExe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!h)
        return "";
    std::string text;
    HRSRC hRes = FindResourceA(h, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (hRes) {
        HGLOBAL hData = LoadResource(h, hRes);
        text.assign((const char*)LockResource(hData), SizeofResource(h, hRes));
    }
    FreeLibrary(h);
    return text;
}

std::string VersionString(const std::string& strExe, const char* pszName)
{
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(strExe.c_str(), &dwHandle);
    if (!cb)
        return "";
    std::vector<char> data(cb);
    if (!GetFileVersionInfoA(strExe.c_str(), 0, cb, data.data()))
        return "";
    char* psz = nullptr;
    UINT uLen = 0;
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + pszName;
    if (!VerQueryValueA(data.data(), path.c_str(), (void**)&psz, &uLen) || !psz)
        return "";
    return psz;
}

} // namespace

TEST(Resources, ManifestAsksForAdministratorAndCommonControls6)
{
    std::string m = ManifestOf(kt::DistPath("Setup.exe"));
    ASSERT_FALSE(m.empty());
    EXPECT_NE(std::string::npos, m.find("level=\"requireAdministrator\" uiAccess=\"false\""));
    EXPECT_NE(std::string::npos, m.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, m.find("name=\"Kavla Setup\" version=\"1.0.0.0\""));
    EXPECT_NE(std::string::npos, m.find("<description>Setup.exe</description>"));
}

// Vista and later give a program that names none of them the older systems'
// behaviour; one not DPI aware is stretched into a blurred bitmap.
TEST(Resources, ManifestNamesVistaTo11AndSystemDpiAwareness)
{
    std::string m = ManifestOf(kt::DistPath("Setup.exe"));
    ASSERT_FALSE(m.empty());
    EXPECT_NE(std::string::npos, m.find("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">"));
    for (const char* pszId : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(std::string::npos, m.find(std::string("<supportedOS Id=\"") + pszId + "\"/>")) << pszId;
    EXPECT_NE(std::string::npos,
              m.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"));
}

TEST(Resources, VersionShownByExplorer)
{
    std::string exe = kt::DistPath("Setup.exe");
    EXPECT_EQ("Kavla Client", VersionString(exe, "ProductName"));
    EXPECT_EQ("Kavla Setup", VersionString(exe, "FileDescription"));
    EXPECT_EQ("1.0.0.0", VersionString(exe, "FileVersion"));
    EXPECT_EQ("Setup.exe", VersionString(exe, "OriginalFilename"));
}

TEST(Resources, PasswordDialogIsAChineseDialogTemplate)
{
    HMODULE h = LoadLibraryExA(kt::DistPath("Setup.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, h);
    HRSRC hRes = FindResourceExA(h, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(134),
                                 MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(nullptr, hRes);
    const WORD* pw = (const WORD*)LockResource(LoadResource(h, hRes));
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, then help id, ex style, style.
    EXPECT_EQ(1, pw[0]);
    EXPECT_EQ(0xFFFF, pw[1]);
    DWORD dwStyle = *(const DWORD*)(pw + 6);
    EXPECT_EQ((DWORD)(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION), dwStyle);
    WORD cItems = pw[8];
    EXPECT_EQ(5, cItems);
    // x, y, cx, cy
    EXPECT_EQ(186, (short)pw[11]);
    EXPECT_EQ(68, (short)pw[12]);
    FreeLibrary(h);
}
