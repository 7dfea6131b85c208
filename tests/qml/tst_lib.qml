import QtQuick
import QtTest
import "qrc:/qt-project.org/imports/StavelinRecorder/lib.js" as Lib

TestCase {
    id: testCase
    name: "Lib"
    function rows(list) { return list.map(function(r) { return { tag: JSON.stringify(r), r: r } }) }

    function test_stripPath_data() { // what a folder dialog hands back, what the fields show
        return rows([["file:///home/ana/Videos", "/home/ana/Videos"], ["file:///home/ana/My%20Videos", "/home/ana/My Videos"], ["file:///srv/take%231", "/srv/take#1"],
                     ["/home/ana/Videos", "/home/ana/Videos"], ["http://host/x", "http://host/x"], ["file:///srv/50%", "/srv/50%"], ["", ""]])
    }
    function test_stripPath(data) { compare(Lib.stripPath(data.r[0]), data.r[1]) }

    function test_unstripPathRoundTrip_data() { return rows([["/home/ana/Videos"], ["/home/ana/My Videos"], ["/srv/take#1 at 50%"], ["/srv/why?"]]) }
    function test_unstripPathRoundTrip(data) {
        var url = Lib.unstripPath(data.r[0])
        compare([url.indexOf("file://"), Lib.stripPath(url), url.indexOf("#") < 0 && url.indexOf("?") < 0], [0, data.r[0], true])
    }

    function test_gainFromText_data() {
        return rows([["2,5", 2], ["-3.4", -3.4], ["5", NaN], ["2.", NaN], ["-3,", NaN], ["", NaN], [".5", 0.5], ["a.5", NaN], ["[multi]", NaN]])
    }
    function test_gainFromText(data) {
        var value = Lib.gainFromText(data.r[0])
        isNaN(data.r[1]) ? verify(isNaN(value), "got " + value) : fuzzyCompare(value, data.r[1], 1e-9)
    }

}
