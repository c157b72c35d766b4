// What a recorder's state means to the operator: the archive writer's failures in words, and
// whether a stream's frames are growing.
.pragma library

// Win32 errors as HRESULTs, as the archive reports them.
var DiskFull = 0x80070070;
var WriteFault = 0x8007001D;
var AccessDenied = 0x80070005;
var SharingViolation = 0x80070020;

// A stream whose last frame has not moved for this long is not being recorded.
var GrowthWindowMs = 3000;

function hex(hresult) {
    return "0x" + (hresult >>> 0).toString(16).toUpperCase();
}

function isWriterFailure(hresult) {
    var code = hresult >>> 0;
    return code === DiskFull || code === WriteFault || code === AccessDenied || code === SharingViolation;
}

// Why the archive does not take the recording, from the sink's error.
function writerFailure(hresult) {
    switch (hresult >>> 0) {
    case DiskFull: return qsTr("disk full");
    case AccessDenied: return qsTr("archive read-only");
    case SharingViolation: return qsTr("stream taken by another source");
    case WriteFault: return qsTr("write error");
    default: return qsTr("writer failed (%1)").arg(hex(hresult));
    }
}
