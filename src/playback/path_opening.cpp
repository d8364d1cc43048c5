#include "playback/path_opening.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "components/absolute_path.h"
#include "components/error_sink.h"
#include "playback/music_listing.h"
#include "playback/playlist_building.h"

PathOpening::PathOpening(PlaylistBuilding& building, ErrorSink& errors)
    : building(building), errors(errors) {}

bool PathOpening::open(const std::string& path) {
    if (path.empty()) {
        errors.report("Cannot open an empty path");
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        errors.report("Cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    std::string full = absoluteOrAsGiven(path);
    if (full.front() == '/') full = std::filesystem::path(full).lexically_normal().string();
    if (S_ISDIR(info.st_mode)) {
        if (full.back() != '/') full += '/';
        building.playDir(full);
        return true;
    }
    if (!S_ISREG(info.st_mode) || !hasMp3Extension(full.c_str())) {
        errors.report("Cannot play " + path + ": not a folder or an .mp3 file");
        return false;
    }
    building.playFile(full);
    return true;
}
