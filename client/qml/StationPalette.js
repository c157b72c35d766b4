// The dark palette of the station's screens. The application palette is set through Livery for
// everything created later; a window that already exists takes the colours itself.
.pragma library

// [name of the palette role, its number in SystemPalleteSetter.ColorRole, colour]
var roles = [["window", 10, "#202a33"], ["windowText", 0, "#e8edf2"], ["base", 9, "#161d24"],
             ["alternateBase", 16, "#1e2830"], ["text", 6, "#e8edf2"], ["button", 1, "#34424f"],
             ["buttonText", 8, "#e8edf2"], ["highlight", 12, "#2f7dc0"], ["highlightedText", 13, "#ffffff"],
             ["mid", 5, "#4a5a68"], ["light", 2, "#5a6b7a"], ["dark", 4, "#10161c"],
             ["toolTipBase", 18, "#34424f"], ["toolTipText", 19, "#e8edf2"]];

function apply(setter, windowPalette) {
    var all = 5; // SystemPalleteSetter.All
    for (var i = 0; i < roles.length; ++i) {
        setter.setColor(all, roles[i][1], roles[i][2]);
        windowPalette[roles[i][0]] = roles[i][2];
    }
}
