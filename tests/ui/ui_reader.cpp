// Reads what a live window shows, for the tests that drive the companion's windows under
// Wine: the top-level window whose title is the argument (UTF-8), then each of its child
// controls, one per line, as "<class>\t<text>" in UTF-8 with line breaks written as "\n".
//
//   ui_reader <title>        (the title as the wide command line carries it)        exit status 0 when found, 1 when no such window is up
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string narrow(const std::wstring& wide)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], size, nullptr, nullptr);
    std::string escaped;
    for (const char c : text) {
        if (c == '\n')
            escaped += "\\n";
        else if (c != '\r')
            escaped += c;
    }
    return escaped;
}

std::wstring textOf(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

struct Search {
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK findTopLevel(HWND window, LPARAM argument)
{
    auto* search = reinterpret_cast<Search*>(argument);
    if (::IsWindowVisible(window) && textOf(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK printChild(HWND window, LPARAM)
{
    if (!::IsWindowVisible(window))
        return TRUE;
    wchar_t className[128] = {};
    ::GetClassNameW(window, className, 127);
    std::printf("%s\t%s\n", narrow(className).c_str(), narrow(textOf(window)).c_str());
    return TRUE;
}

}  // namespace

int main()
{
    // The wide command line: a title outside the ANSI code page arrives whole.
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2)
        return 2;
    Search search;
    search.title = arguments[1];
    ::LocalFree(arguments);
    ::EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr)
        return 1;
    std::printf("title\t%s\n", narrow(textOf(search.found)).c_str());
    ::EnumChildWindows(search.found, printChild, 0);
    std::fflush(stdout);
    return 0;
}
