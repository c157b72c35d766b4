#include "logging/logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

namespace nyx::logging {
namespace {
QMutex g_mutex;
std::shared_ptr<spdlog::logger> g_logger;
QtMessageHandler g_previous = nullptr;
QDir g_logDirectory;
bool g_installed = false;

spdlog::level::level_enum levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return spdlog::level::debug;
    case QtInfoMsg:
        return spdlog::level::info;
    case QtWarningMsg:
        return spdlog::level::warn;
    case QtCriticalMsg:
        return spdlog::level::err;
    case QtFatalMsg:
        return spdlog::level::critical;
    }
    return spdlog::level::info;
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous;
    {
        QMutexLocker lock(&g_mutex);
        previous = g_previous;
        if (g_logger) {
            const QByteArray category = context.category ? QByteArray(context.category) : QByteArray();
            const QByteArray text = message.toUtf8();
            g_logger->log(levelOf(type), "[{}] {}", category.constData(), text.constData());
            if (type >= QtWarningMsg)
                g_logger->flush();
        }
    }
    if (previous)
        previous(type, context, message);
    else
        fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}
} // namespace

std::int32_t initializeLogging(const LoggingSettings &settings)
{
    QMutexLocker lock(&g_mutex);
    QDir dir = settings.directory;
    if (!dir.mkpath(QStringLiteral("Logs")))
        return 1;
    dir.cd(QStringLiteral("Logs"));
    g_logDirectory = dir;

    if (settings.removeOldLogs) {
        const QStringList old =
            dir.entryList({settings.baseName + QStringLiteral("_*.txt")}, QDir::Files | QDir::NoDotAndDotDot);
        for (const QString &name : old)
            dir.remove(name);
    }

    const QString fileName = dir.absoluteFilePath(
        QStringLiteral("%1_%2_%3.txt")
            .arg(settings.baseName, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss")))
            .arg(QCoreApplication::applicationPid()));
    try {
        auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(fileName.toStdString(), false);
        g_logger = std::make_shared<spdlog::logger>(settings.baseName.toStdString(), sink);
        g_logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %t %l %v");
        g_logger->set_level(spdlog::level::trace);
    } catch (const spdlog::spdlog_ex &) {
        g_logger.reset();
        return 2;
    }
    if (!g_installed) {
        g_previous = qInstallMessageHandler(messageHandler);
        g_installed = true;
    }
    return 0;
}

void uninitializeLogging()
{
    QMutexLocker lock(&g_mutex);
    if (g_installed) {
        qInstallMessageHandler(g_previous);
        g_previous = nullptr;
        g_installed = false;
    }
    if (g_logger) {
        g_logger->flush();
        g_logger.reset();
    }
}

QDir getLogDirectory()
{
    QMutexLocker lock(&g_mutex);
    return g_logDirectory;
}
} // namespace nyx::logging
