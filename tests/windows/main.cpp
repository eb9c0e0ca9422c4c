// The Windows test program. Started with "--hold FILE SHARING" it is instead
// another program holding FILE open: it says "ready" and keeps the file
// until its input closes.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

namespace {

int hold(const char *sharing)
{
    // The path as the system gives it: the ANSI one cannot spell every name.
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 4)
        return 1;
    const DWORD share = std::strcmp(sharing, "lectura") == 0 ? FILE_SHARE_READ
                        : std::strcmp(sharing, "escritura") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    const HANDLE file = CreateFileW(args[2], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    char byte;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got > 0) {
    }
    CloseHandle(file);
    return 0;
}

}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0)
        return hold(argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
