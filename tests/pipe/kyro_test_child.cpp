// The small program the launch tests start. Without arguments it ends at once. With
// "echo" it writes each further argument as "<argument>" on a line of its own, and with
// "env NAME" the value of that environment variable (or "(unset)"), so the tests can see
// what a launched child received.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "echo") == 0) {
        for (int i = 2; i < argc; ++i)
            std::printf("<%s>\n", argv[i]);
    } else if (argc > 2 && std::strcmp(argv[1], "env") == 0) {
        const char* value = std::getenv(argv[2]);
        std::printf("%s\n", value != nullptr ? value : "(unset)");
    }
    return 0;
}
