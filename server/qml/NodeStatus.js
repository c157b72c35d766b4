// Status values of media graph nodes and the text the station shows for them.
.pragma library

var None = 0;
var Creating = 2;
var Ready = 3;
var Error = 4;

// The status of a chain of nodes: an error anywhere wins, then a node still being built;
// ready only when every node is ready.
function combine(statuses) {
    var creating = false;
    var ready = statuses.length > 0;
    for (var i = 0; i < statuses.length; ++i) {
        if (statuses[i] === Error)
            return Error;
        if (statuses[i] === Creating)
            creating = true;
        if (statuses[i] !== Ready)
            ready = false;
    }
    return ready ? Ready : (creating ? Creating : None);
}

// readyText names what a ready chain does ("recording", "playing").
function text(status, readyText) {
    switch (status) {
    case Creating: return qsTr("starting");
    case Ready: return readyText;
    case Error: return qsTr("error");
    default: return qsTr("idle");
    }
}

// The status of one node in words, for the details of a chain.
function name(status) {
    switch (status) {
    case Creating: return qsTr("starting");
    case Ready: return qsTr("ready");
    case Error: return qsTr("failed");
    default: return qsTr("idle");
    }
}

function color(status) {
    switch (status) {
    case Creating: return "#e0b040";
    case Ready: return "#40c060";
    case Error: return "#e04040";
    default: return "#808080";
    }
}
