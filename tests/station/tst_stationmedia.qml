// The wiring of the station's media chains, built against stand-ins of the media types that
// record what the chains ask of them: every source feeds its own decoder or encoder and view,
// each replayed camera gets its stream and the shared range, and the transport reaches the
// session.
import QtQuick 2.12
import QtTest 1.2

TestCase {
    id: test
    name: "StationMedia"
    when: windowShown
    width: 800
    height: 600

    QtObject { id: cam1; property string name: "Cam1" }
    QtObject { id: cam2; property string name: "Cam2" }
    QtObject { id: cam3; property string name: "Cam3" }
    QtObject { id: sound; property string name: "Cam1" }

    function load(file) {
        var component = Qt.createComponent(file);
        compare(component.status, Component.Ready, component.errorString());
        var item = createTemporaryObject(component, test);
        verify(item !== null);
        return item;
    }
    function session(item) {
        for (var i = 0; i < item.resources.length; ++i)
            if (item.resources[i].nodes !== undefined)
                return item.resources[i];
        return null;
    }
    function nodes(item, kind) {
        var s = session(item);
        var found = [];
        for (var i = 0; i < s.nodes.length; ++i)
            if (s.nodes[i].kind === kind)
                found.push(s.nodes[i]);
        return found;
    }
    function views(item) {
        var found = [];
        function walk(parent) {
            for (var i = 0; i < parent.children.length; ++i) {
                if (parent.children[i].kind === "VideoOutput")
                    found.push(parent.children[i]);
                walk(parent.children[i]);
            }
        }
        walk(item);
        return found;
    }
    // The node the pin feeds, through the session's connections; null when it feeds none.
    function fed(item, pin) {
        var s = session(item);
        for (var i = 0; i < s.nodes.length; ++i)
            if (s.nodes[i].from === pin)
                return s.nodes[i].to ? s.nodes[i].to.node : null;
        return null;
    }

    function test_replayWiresEveryCamera() {
        var replay = load(Qt.resolvedUrl("@CMAKE_BINARY_DIR@/client/qml/ReplaySession.qml"));
        replay.cameras = [cam1, cam2, cam3];
        replay.audioStream = sound;
        var from = new Date(2026, 11, 9, 10, 0, 0);
        replay.from = from;
        replay.to = new Date(from.getTime() + 10000);
        replay.quality = 0.05;

        var sources = nodes(replay, "RewindSource");
        var decoders = nodes(replay, "VideoDecoder");
        var outputs = views(replay);
        compare(sources.length, 5);
        compare(decoders.length, 4);
        compare(outputs.length, 4);
        var cameras = [cam1, cam2, cam3, null];
        for (var i = 0; i < 4; ++i) {
            compare(sources[i].stream, cameras[i]);
            compare(sources[i].from.getTime(), from.getTime());
            compare(sources[i].to.getTime(), from.getTime() + 10000);
            compare(sources[i].quality, 0.05);
            compare(fed(replay, sources[i].videoOutput), decoders[i], "camera " + (i + 1));
            compare(fed(replay, decoders[i].output), outputs[i], "camera " + (i + 1));
            // Each view is captioned with its camera's name.
            compare(outputs[i].children[0].text, cameras[i] ? cameras[i].name : "");
        }
        // The sound: the audio side of the stream of the camera that plays audio.
        var speaker = nodes(replay, "AudioOutput")[0];
        compare(sources[4].stream, sound);
        compare(fed(replay, sources[4].audioOutput), speaker);
        replay.sound = false;
        compare(sources[4].stream, null);

        // One bad camera shows in the chain's status; the others' state does not hide it.
        sources[0].status = 3;
        sources[1].status = 3;
        sources[2].status = 2;
        compare(replay.status, 2);
        sources[2].status = 3;
        compare(replay.status, 3);
        sources[1].status = 4;
        compare(replay.status, 4);
        compare(replay.detail, "camera 1: ready, camera 2: failed, camera 3: ready");

        // Transport: play from a position at a rate, pause, hold a frame (rate 0).
        var s = session(replay);
        replay.play(2.5, 4);
        compare(s.rate, 4);
        compare(s.position, 2.5);
        verify(s.playing);
        replay.pause();
        verify(!s.playing);
        replay.showFrame(2.54);
        compare(s.rate, 0);
        compare(s.position, 2.54);
    }

    function test_recordersWireSourceToStream_data() {
        return [
            { tag: "capture input", file: "KXVideoRecorder.qml", source: "KXSource", encoder: true },
            { tag: "network camera", file: "NetworkVideoRecorder.qml", source: "NetworkSource", encoder: true },
            { tag: "audio", file: "AudioRecorder.qml", source: "KXSource", encoder: false }
        ];
    }
    function test_recordersWireSourceToStream(data) {
        var recorder = load(Qt.resolvedUrl("@CMAKE_BINARY_DIR@/server/qml/" + data.file));
        recorder.url = "kx:///KX788 Board 1 Input 2";
        recorder.stream = cam2;
        var source = nodes(recorder, data.source)[0];
        var sink = nodes(recorder, "RewindSink")[0];
        compare(String(source.url), "kx:///KX788 Board 1 Input 2");
        compare(sink.stream, cam2);
        verify(session(recorder).autoPlay);
        if (data.encoder) {
            var encoder = nodes(recorder, "H264Encoder")[0];
            compare(fed(recorder, source.output), encoder);
            compare(fed(recorder, encoder.output), sink);
            // The live picture comes from the input itself.
            var connected = 0;
            var s = session(recorder);
            for (var i = 0; i < s.nodes.length; ++i)
                if (s.nodes[i].from === source.output && s.nodes[i].to === views(recorder)[0].videoInput)
                    ++connected;
            compare(connected, 1);
        } else {
            compare(fed(recorder, source.output), sink);
        }
        source.status = 3;
        sink.status = 4;
        compare(recorder.status, 4);
        compare(recorder.detail, data.encoder ? "input ready, encoder idle, archive failed"
                                              : "input ready, archive failed");
        // The archive's failures in words, with their cause; the input's before the rest.
        var causes = [[0x80070070 | 0, "disk full"], [0x80070005 | 0, "archive read-only"],
                      [0x80070020 | 0, "stream taken by another source"], [0x8007001D | 0, "write error"],
                      [0x80004005 | 0, "writer failed (0x80004005)"]];
        for (var c = 0; c < causes.length; ++c) {
            sink.error = causes[c][0];
            compare(recorder.failure, causes[c][1]);
        }
        sink.error = 0;
        compare(recorder.failure, "writer failed");
        sink.status = 3;
        compare(recorder.failure, "");
        source.status = 4;
        compare(recorder.failure, "input lost");
        // The session's errors other than the archive's are kept for the tile.
        var s = session(recorder);
        s.error(0x80070070 | 0);
        compare(recorder.mediaError, 0);
        s.error(0x80004005 | 0);
        compare(recorder.mediaError, 0x80004005 | 0);
    }
}
