#include <gtest/gtest.h>

#include <string>

#include "InstallLogic.h"

namespace {

wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

const std::wstring PROGRAM_FILES = L"C:\\Program Files";

}  // namespace

TEST(InstallFolder, PlainTextDropsTheVerbatimPrefixAndForwardSlashes)
{
    EXPECT_EQ(PlainPathText(L"\\\\?\\C:\\Program Files\\..\\x"), L"C:\\Program Files\\..\\x");
    EXPECT_EQ(PlainPathText(L"\\\\?\\unc\\server\\share\\x"), L"\\\\server\\share\\x");
    EXPECT_EQ(PlainPathText(L"//?/c:/Program Files/x/"), L"c:\\Program Files\\x\\");
    EXPECT_EQ(PlainPathText(L"\\\\.\\C:\\x"), L"\\\\.\\C:\\x");
    EXPECT_EQ(PlainPathText(L"C:\\x"), L"C:\\x");
}

// The parent stops at the root, whatever separators follow; what is not
// fully qualified has no root and no parent.
TEST(InstallFolder, ParentKeepsTheRoot)
{
    EXPECT_EQ(ParentPath(L"C:\\a\\\\b\\"), L"C:\\a");
    EXPECT_EQ(ParentPath(L"C:\\a"), L"C:\\");
    EXPECT_EQ(ParentPath(L"\\\\server\\share\\a"), L"\\\\server\\share");
    for (const wchar_t* none : { L"C:\\", L"C:\\\\", L"\\\\server\\share\\", L"C:a", L"\\a", L"a\\b", L"\\\\.\\C:\\a",
                                 L"\\\\server", L"\\\\\\share\\a", L"" }) {
        EXPECT_EQ(ParentPath(none), L"") << none;
    }
    EXPECT_EQ(PathRootLength(L"\\\\server\\share\\a"), 14u);
}

TEST(InstallFolder, InsideByWholeComponentsInEitherCase)
{
    for (const wchar_t* inside : { L"C:\\Program Files\\Velloran\\Brimline\\", L"c:\\PROGRAM FILES\\x",
                                   L"C:\\Program Files", L"C:\\Program Files\\\\x\\\\" }) {
        EXPECT_TRUE(IsInsideFolder(inside, PROGRAM_FILES, AsciiUpper)) << inside;
        EXPECT_TRUE(IsInsideFolder(inside, PROGRAM_FILES + L"\\", AsciiUpper)) << inside;
    }
    EXPECT_FALSE(IsInsideFolder(L"C:\\Program Files\\x", PROGRAM_FILES, nullptr));
    EXPECT_FALSE(IsInsideFolder(L"C:\\Program Files\\x", L"", AsciiUpper));
}

// Outside, or not certain to be inside: another folder or drive, a path
// that is not fully qualified, and names the system reads otherwise.
TEST(InstallFolder, OutsideOrUncertainIsRefused)
{
    for (const wchar_t* outside :
         { L"C:\\Program FilesX\\a", L"C:\\Program Files (x86)\\a", L"D:\\Program Files\\a", L"C:\\", L"C:\\Program",
           L"C:\\Program Files\\..\\Evil", L"C:\\Program Files\\.\\x", L"C:\\Program Files\\x.\\y",
           L"C:\\Program Files\\x \\y", L"C:\\Program Files\\x*", L"C:\\Program Files\\x:y", L"C:\\Program Files\\x\ty",
           L"C:Program Files\\x", L"\\Program Files\\x", L"Program Files\\x", L"\\\\server\\share\\Program Files\\x",
           L"\\\\.\\C:\\Program Files\\x", L"\\\\?\\C:\\Program Files\\x", L"" }) {
        EXPECT_FALSE(IsInsideFolder(outside, PROGRAM_FILES, AsciiUpper)) << outside;
    }
}
