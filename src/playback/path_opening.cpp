#include "playback/path_opening.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "components/absolute_path.h"
#include "components/error_sink.h"
#include "playback/music_listing.h"
#include "playback/path_lookup.h"
#include "playback/playlist_building.h"

PathOpening::PathOpening(PlaylistBuilding& building, PathLookup& lookup, ErrorSink& errors)
    : building(building), lookup(lookup), errors(errors) {}

void PathOpening::open(const std::string& path) {
    if (path.empty()) {
        errors.report("Cannot open an empty path");
        return;
    }
    // Made absolute now: the current directory may change before the disk answers.
    const std::string absolute = absoluteOrAsGiven(path);
    std::string full = absolute;
    if (full.front() == '/') full = std::filesystem::path(full).lexically_normal().string();
    const std::string folder = full.back() == '/' ? full : full + '/';
    lookup.request({absolute, folder}, [this, path, full, folder](PathLookup::Finding&& found) {
        if (found.lookError != 0) {
            errors.report("Cannot open " + path + ": " + std::strerror(found.lookError));
            return;
        }
        if (S_ISDIR(found.mode)) {
            building.playListedDir(folder, std::move(found.names), found.listError);
            return;
        }
        if (!S_ISREG(found.mode) || !hasMp3Extension(full.c_str())) {
            errors.report("Cannot play " + path + ": not a folder or an .mp3 file");
            return;
        }
        building.playFile(full);
    });
}
