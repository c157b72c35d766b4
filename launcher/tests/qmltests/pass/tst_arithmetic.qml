import QtQuick 2.0
import QtTest 1.2

TestCase {
    name: "Arithmetic"

    function test_sum() { compare(1 + 1, 2) }
    function test_text() { verify("abc".indexOf("b") === 1) }
}
