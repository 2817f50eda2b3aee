#pragma once
// Process-level probes for the reliability tests, kept apart so that the tests themselves
// need no system header.

#include <string>

namespace quelvan::test {

// CPU time (user and system) the whole process has used so far, in seconds.
double ProcessCpuSeconds();

// Another program holding a serial port: a child process that opens Path, takes the
// exclusive lock and TIOCEXCL, as a terminal program or a second Quelvan application
// would, and keeps them until Release (or destruction).
class TPortHolder {
public:
    explicit TPortHolder(const std::string& Path);
    ~TPortHolder();
    TPortHolder(const TPortHolder&) = delete;
    TPortHolder& operator=(const TPortHolder&) = delete;

    // True once the child holds the port (false when it could not take it).
    bool Holding() const { return holding_; }
    // Ends the child and waits for it.
    void Release();

private:
    int child_ = -1;
    int release_ = -1;  // write end: closing it lets the child exit
    bool holding_ = false;
};

}  // namespace quelvan::test
