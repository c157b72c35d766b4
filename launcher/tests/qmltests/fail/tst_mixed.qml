import QtQuick 2.0
import QtTest 1.2

TestCase {
    name: "Mixed"

    function test_good() { compare(2, 2) }
    function test_bad() { compare(1, 2, "deliberate failure") }
}
