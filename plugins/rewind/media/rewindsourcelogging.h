#pragma once
// Logging categories of the playback side: the RewindSource node and the archive media source.

#include <QLoggingCategory>

// The RewindSource graph node.
Q_DECLARE_LOGGING_CATEGORY(lcRewindSourceNode)
// The archive media source and its streams.
Q_DECLARE_LOGGING_CATEGORY(lcRewindSourceMF)
