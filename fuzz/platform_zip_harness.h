#pragma once

// What the zip fuzz target runs on each input, shared with the unit tests so
// that every input the fuzzer found becomes a regression row there. Memory
// errors are the sanitizers' to find; exceptions other than ours escape.

#include "base/Error.h"
#include "platform/Ditto.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <QFile>

#include <sys/stat.h>

namespace corvanta::fuzz {

namespace fs = std::filesystem;

// Everything under `folder` but `skip`, by path: type, mode, inode, link
// count, size, times, and a link's target or a file's bytes.
inline std::map<std::string, std::string> state(const fs::path& folder, const fs::path& skip)
{
    std::map<std::string, std::string> items;
    for (auto walk = fs::recursive_directory_iterator(folder); walk != fs::recursive_directory_iterator();
         ++walk) {
        if (walk->path() == skip) {
            walk.disable_recursion_pending();
            continue;
        }
        struct stat st { };
        ::lstat(walk->path().c_str(), &st);
        std::string& item = items[walk->path().native()];
        item = std::to_string(st.st_mode) + ' ' + std::to_string(st.st_ino) + ' '
            + std::to_string(st.st_nlink) + ' ' + std::to_string(st.st_size) + ' '
            + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + ' ';
        if (S_ISLNK(st.st_mode))
            item += fs::read_symlink(walk->path()).native();
        else if (S_ISREG(st.st_mode))
            item.append(std::istreambuf_iterator<char>(std::ifstream(walk->path(), std::ios::binary).rdbuf()),
                std::istreambuf_iterator<char>());
    }
    return items;
}

// Archives set any mode on their folders, 0 included; the owner can always
// open them up again to remove them.
inline void removeTree(const fs::path& root)
{
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(root, error))) {
        ::chmod(root.c_str(), 0700);
        for (const auto& item : fs::directory_iterator(root, error))
            removeTree(item.path());
    }
    fs::remove(root, error);
}

// Unpacks `data` as a zip archive into a scratch folder inside `folder`/outer,
// beside sentinels: a file, a link to it, a folder, and the archive itself.
// True when nothing in `folder` outside the scratch folder was created,
// changed or written through a link, whether the unpacking succeeded or was
// refused.
inline bool zipInput(const std::string& folder, const std::uint8_t* data, std::size_t size)
{
    const fs::path outer = fs::path(folder) / "outer";
    const fs::path scratch = outer / "scratch";
    removeTree(outer);
    fs::create_directories(outer);
    {
        std::ofstream(outer / "sentinel") << "sentinel\n";
        std::ofstream(outer / "input.zip", std::ios::binary)
            .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    ::chmod((outer / "sentinel").c_str(), 0640);
    fs::create_symlink("sentinel", outer / "sentinel-link");
    fs::create_directory(outer / "sentinel-folder");
    ::chmod((outer / "sentinel-folder").c_str(), 0750);

    const auto before = state(folder, scratch);
    try {
        Ditto::create()->extractZip(
            QFile::decodeName(QByteArray::fromStdString((outer / "input.zip").native())),
            QFile::decodeName(QByteArray::fromStdString(scratch.native())));
    } catch (const Error&) {
        // Refusing is an answer too; only what the attempt left behind counts.
    }
    auto after = state(folder, scratch);
    // Making the scratch folder is the one change allowed outside it.
    after[outer.native()] = before.at(outer.native());
    const bool kept = after == before;
    removeTree(outer);
    return kept;
}

} // namespace corvanta::fuzz
