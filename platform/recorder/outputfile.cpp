#include "outputfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string OutputFile::folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string OutputFile::numbered(const std::string& path, int number)
{
    if (number <= 1)
        return path;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : std::string();
    return stem + " (" + std::to_string(number) + ")" + extension;
}

bool OutputFile::claim(const std::string& wanted, std::string* claimed, std::string* error)
{
    const std::string folder = folderOf(wanted);
    struct stat info {
    };
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "Folder does not exist: " + folder;
        return false;
    }
    for (int number = 1; number < 10000; ++number) {
        const std::string candidate = numbered(wanted, number);
        // O_EXCL makes two recorders that want the same name in the same second take turns.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            *claimed = candidate;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno == ENOSPC)
            *error = "Disk full: cannot create " + candidate;
        else if (errno == EACCES || errno == EROFS || errno == EPERM)
            *error = "Cannot write to folder " + folder + ": " + std::strerror(errno);
        else
            *error = "Cannot create " + candidate + ": " + std::strerror(errno);
        return false;
    }
    *error = "Too many files named like " + wanted;
    return false;
}
