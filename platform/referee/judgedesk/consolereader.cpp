#include "consolereader.h"

#include <cerrno>
#include <unistd.h>

ConsoleReader::ConsoleReader(QObject *parent)
    : QObject(parent), m_notifier(STDIN_FILENO, QSocketNotifier::Read)
{
    connect(&m_notifier, &QSocketNotifier::activated, this, &ConsoleReader::readInput);
}

void ConsoleReader::readInput()
{
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_notifier.setEnabled(false); // end of input: no console
        return;
    }
    m_buffer.append(chunk, static_cast<int>(n));
    int newline;
    while ((newline = m_buffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_buffer.left(newline)).trimmed();
        m_buffer.remove(0, newline + 1);
        if (!line.isEmpty())
            emit lineRead(line);
    }
}
