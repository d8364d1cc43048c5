#include "support/hanging_mount.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

HangingMount::HangingMount(const std::string& source, const std::string& dir)
    : mountPoint(dir + "/mnt"),
      releaseFlag(dir + "/release"),
      holdFlag(dir + "/hold"),
      heldLog(dir + "/held") {
    ::mkdir(mountPoint.c_str(), 0755);
    struct stat before;
    if (::stat(mountPoint.c_str(), &before) != 0) return;
    pid = ::fork();
    if (pid == 0) {
        const std::string script = VELMOR_TESTS_DIR "/support/hanging_fs.py";
        ::execl("/usr/bin/python3", "python3", script.c_str(), source.c_str(), mountPoint.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Mounted once the mount point lies on another device.
    for (int i = 0; i < 100 && pid > 0; ++i) {
        struct stat now;
        if (::stat(mountPoint.c_str(), &now) == 0 && now.st_dev != before.st_dev) {
            mounted = true;
            return;
        }
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {  // it could not mount
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void HangingMount::release() {
    std::ofstream(releaseFlag) << "";
}

void HangingMount::hold() {
    std::ofstream(holdFlag) << "";
}

bool HangingMount::holds(const std::string& name) const {
    if (std::ifstream(releaseFlag).good()) return false;
    std::ifstream log(heldLog);
    for (std::string line; std::getline(log, line);)
        if (line == "/" + name) return true;
    return false;
}

HangingMount::~HangingMount() {
    release();
    if (pid > 0) {  // the file system unmounts itself as it ends
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    struct stat point, above;
    if (mounted && ::stat(mountPoint.c_str(), &point) == 0 &&
        ::stat((mountPoint + "/..").c_str(), &above) == 0 && point.st_dev != above.st_dev)
        ::umount2(mountPoint.c_str(), MNT_DETACH);
}
