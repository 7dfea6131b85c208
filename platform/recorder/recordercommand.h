#pragma once

#include <string>

// One line of standard input: <start/>, <quit/>, <exit/>, <record_level gain="DB"/>,
// <record_chop/> or <record_chop filename="PATH"/>.
struct RecorderCommand {
    enum class Kind { None, Start, Quit, Level, Chop, Unknown };
    Kind kind = Kind::None;
    double gain = 0.0; // Level: decibels
    std::string filename; // Chop: the next file; empty means "the same name, numbered"
    std::string name; // the element name as read (for messages)

    // Lenient on purpose: attribute values may hold unescaped '&' and '"'. A level without a
    // finite number is Unknown.
    static RecorderCommand parse(const std::string& line);
};
