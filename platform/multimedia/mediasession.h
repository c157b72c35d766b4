#pragma once
// Plays a media graph: one presentation clock for the session, the media sources of its connected
// outputs and the stream sinks of its connected inputs. Samples move by request events on work
// queues, never on the GUI thread (see README.md).

#include <QList>
#include <QObject>
#include <QQmlListProperty>
#include <QQmlParserStatus>
#include <memory>
#include <vector>

#include "multimedia/sessioncore.h"

class NodeConnection;

class MediaSession : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QQmlListProperty<QObject> nodes READ nodes)
    Q_PROPERTY(bool autoPlay READ autoPlay WRITE setAutoPlay NOTIFY autoPlayChanged)
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool playing READ isPlaying NOTIFY playingChanged)
    Q_PROPERTY(double rate READ rate WRITE setRate NOTIFY rateChanged)
    Q_PROPERTY(double position READ position WRITE setPosition NOTIFY positionChanged)
    Q_CLASSINFO("DefaultProperty", "nodes")

public:
    explicit MediaSession(QObject *parent = nullptr);
    ~MediaSession() override;

    QQmlListProperty<QObject> nodes();
    void addNode(QObject *node);
    bool autoPlay() const { return m_autoPlay; }
    void setAutoPlay(bool autoPlay);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isPlaying() const { return m_playing; }
    double rate() const { return m_rate; }
    void setRate(double rate);
    // The start position in seconds for the next play().
    double position() const { return m_position; }
    void setPosition(double position);

    // Every connection's ends are bound.
    bool isGraphReady() const;
    // Samples a sink missed because it had no request outstanding (over all sinks).
    Q_INVOKABLE qint64 missedSamples() const;
    // Errors the stream sinks raised since the session was made.
    Q_INVOKABLE int sinkErrors() const;

    void classBegin() override {}
    void componentComplete() override;

public slots:
    void play();
    void pause();
    void stop();

signals:
    void autoPlayChanged();
    void enabledChanged();
    void playingChanged();
    void rateChanged();
    void positionChanged();
    // A stream sink or media source reported an error while playing.
    void error(int hresult);

private:
    QList<NodeConnection *> connections() const;
    void watch(QObject *node);
    void maybeAutoPlay();
    // A node is making its objects anew, or is about to, while its pins lead to the old ones.
    bool isRebuilding() const;
    // The routes of the connections whose ends are bound.
    std::vector<nyx::multimedia::SessionCore::Route> routes() const;
    void setPlaying(bool playing);

    static void appendNode(QQmlListProperty<QObject> *list, QObject *node);
    static int nodeCount(QQmlListProperty<QObject> *list);
    static QObject *nodeAt(QQmlListProperty<QObject> *list, int index);
    static void clearNodes(QQmlListProperty<QObject> *list);

    QList<QObject *> m_nodes;
    bool m_autoPlay = false;
    bool m_enabled = true;
    bool m_playing = false;
    bool m_complete = false;
    double m_rate = 1.0;
    double m_position = 0.0;
    bool m_paused = false;
    // The routes the session started with.
    std::vector<nyx::multimedia::SessionCore::Route> m_running;
    std::shared_ptr<nyx::multimedia::SessionCore> m_core;
};
