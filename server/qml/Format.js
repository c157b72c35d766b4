// Number and time texts shared by the station's screens.
.pragma library

function pad(n, width) {
    var s = String(Math.floor(n));
    while (s.length < (width || 2))
        s = "0" + s;
    return s;
}

// "hh:mm:ss" of a duration in milliseconds.
function duration(ms) {
    if (!(ms > 0))
        return "00:00:00";
    var seconds = Math.floor(ms / 1000);
    return pad(seconds / 3600) + ":" + pad((seconds / 60) % 60) + ":" + pad(seconds % 60);
}

// "hh:mm:ss.zzz" of a time of day, local.
function clock(date) {
    if (!date || isNaN(date.getTime()))
        return "--:--:--";
    return pad(date.getHours()) + ":" + pad(date.getMinutes()) + ":" + pad(date.getSeconds()) + "."
            + pad(date.getMilliseconds(), 3);
}

function bytes(value) {
    var v = Number(value);
    if (!(v > 0))
        return "0 B";
    var units = ["B", "KB", "MB", "GB", "TB"];
    var i = 0;
    while (v >= 1024 && i < units.length - 1) {
        v /= 1024;
        ++i;
    }
    return (i === 0 ? v : v.toFixed(1)) + " " + units[i];
}

// Milliseconds covered by a stream's recorded sequences.
function recordedMs(stream) {
    if (!stream)
        return 0;
    var total = 0;
    var sequences = stream.sequences;
    for (var i = 0; i < sequences.length; ++i) {
        var range = sequences[i];
        if (range && range.from && range.to)
            total += Math.max(0, range.to.getTime() - range.from.getTime());
    }
    return total;
}
