#include "process_probe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace quelvan::test {

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

TPortHolder::TPortHolder(const std::string& Path) {
    int ready[2], release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // The child of a threaded process: only async-signal-safe calls from here on.
        close(ready[0]);
        close(release[1]);
        const int fd = open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0 ? 1 : 0;
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        char byte;
        while (read(release[0], &byte, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    if (pid < 0) {
        close(ready[0]);
        close(release[1]);
        return;
    }
    child_ = pid;
    release_ = release[1];
    char ok = 0;
    holding_ = read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
}

TPortHolder::~TPortHolder() { Release(); }

void TPortHolder::Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (child_ > 0) {
        int status = 0;
        waitpid(child_, &status, 0);
    }
    child_ = -1;
    holding_ = false;
}

}  // namespace quelvan::test
