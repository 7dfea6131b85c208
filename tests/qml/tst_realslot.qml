import QtQuick
import QtTest
import StavelinRecorder 1.0

// The stand-in slot the item tests use has the application slot's interface: every property,
// signal and action it offers exists on the real one with the same kind of value.
TestCase {
    id: testCase
    name: "RealSlot"
    Component { id: real; Slot {} }
    Component { id: fake; FakeSlot {} }

    function test_sameInterface() {
        var r = createTemporaryObject(real, testCase), f = createTemporaryObject(fake, testCase), names = 0
        for (var name in f) {
            if (name === "calls" || name === "log" || /Changed$/.test(name)) // a constant on the real one needs no signal
                continue
            compare(typeof r[name], f[name] === null ? "object" : typeof f[name], name)
            ++names
        }
        verify(names > 40, names)
    }
}
