#pragma once

#include <string>

// Claims a file name for a new recording without ever taking an existing file: the name itself,
// else the name with " (2)", " (3)", ... before its extension. The claimed file is created empty.
class OutputFile
{
public:
    // False with a reason ("Folder does not exist: ...", "Cannot write to folder ...: ...").
    static bool claim(const std::string& wanted, std::string* claimed, std::string* error);
    static std::string folderOf(const std::string& path);
    static std::string numbered(const std::string& path, int number);
};
