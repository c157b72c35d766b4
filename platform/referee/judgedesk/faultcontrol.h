#pragma once
// Faults JudgeDesk plays for tests, from its command line or a control file (JSON, read again
// whenever it changes):
//   {"silent": false, "drop": "<regex>", "delayMs": 0, "delay": "<regex>", "split": 0,
//    "malformed": "<regex>", "truncate": "<regex>"}
// Each regular expression selects the requests (whole text) whose answers it touches.

#include <QDateTime>
#include <QRegularExpression>
#include <QString>

struct Faults
{
    bool silent = false;      // no answers at all
    QRegularExpression drop;  // no answer
    QRegularExpression delay; // answer after delayMs
    int delayMs = 0;
    int split = 0;                // event ranges in answers of at most this many events
    QRegularExpression malformed; // tags that do not match
    QRegularExpression truncate;  // the answer cut in half

    static bool matches(const QRegularExpression &pattern, const QString &request);
};

class FaultControl
{
public:
    explicit FaultControl(const Faults &initial, const QString &controlFile = QString());
    // The faults in force now (the control file's, once it exists).
    const Faults &current();

    static QRegularExpression pattern(const QString &text);

private:
    Faults m_faults;
    QString m_controlFile;
    QDateTime m_readAt;
    qint64 m_readSize = -1;
};
