// Reads keys with _getch until 'q' or the end of input, printing each as a decimal number, then
// reports whether the terminal got its line editing and echo back.
#include "conio/conio.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

int main()
{
    termios before{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &before) == 0;
    int key = 0;
    while ((key = _getch()) != -1) {
        std::printf("key %d\n", key);
        std::fflush(stdout);
        if (key == 'q')
            break;
    }
    if (terminal) {
        termios after{};
        ::tcgetattr(STDIN_FILENO, &after);
        const tcflag_t mask = ICANON | ECHO;
        std::printf("restored %d\n", (before.c_lflag & mask) == (after.c_lflag & mask) ? 1 : 0);
    }
    std::printf("end\n");
    return 0;
}
