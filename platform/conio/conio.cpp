#include "conio/conio.h"

#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {
int readByte()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && errno == EINTR)
            continue;
        return EOF;
    }
}
} // namespace

int _getch()
{
    termios saved{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return readByte();

    // Raw keys only for the duration of the read, so the terminal is never left without echo
    // while the program does anything else.
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return readByte();
    const int key = readByte();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}
