// A directory laid out like procfs, for the counter source and the process finder to read in
// place of /proc: files a test writes, and process directories with comm, exe and fd.
#pragma once

#include <string>

class FakeProcRoot {
public:
    FakeProcRoot();
    ~FakeProcRoot();
    FakeProcRoot(const FakeProcRoot&) = delete;
    FakeProcRoot& operator=(const FakeProcRoot&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes text to the file at relative, making its directories.
    void Write(const std::string& relative, const std::string& text);
    // Copies a file of tests/linux/data to relative.
    void CopyFixture(const std::string& fixture, const std::string& relative);
    // A process directory with comm and descriptors entries in fd; the last PID of loadavg
    // becomes pid, as the kernel's does for a new process.
    void AddProcess(int pid, const std::string& comm, int descriptors = 0);
    void Rename(int pid, const std::string& comm);
    void SetExecutable(int pid, const std::string& target);
    void RemoveProcess(int pid);
    void SetLastPid(int pid);

private:
    std::string m_path;
};
