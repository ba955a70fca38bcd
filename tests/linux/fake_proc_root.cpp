#include "tests/linux/fake_proc_root.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

FakeProcRoot::FakeProcRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zeltor-proc-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    m_path = pattern;
    SetLastPid(1);
}

FakeProcRoot::~FakeProcRoot()
{
    std::error_code ignored; // a test directory left behind is no failure of the test
    std::filesystem::remove_all(m_path, ignored);
}

void FakeProcRoot::Write(const std::string& relative, const std::string& text)
{
    const std::filesystem::path file = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    EXPECT_TRUE(out.good()) << file;
}

void FakeProcRoot::CopyFixture(const std::string& fixture, const std::string& relative)
{
    std::ifstream in(std::string(ZELTOR_LINUX_TEST_DATA) + "/" + fixture, std::ios::binary);
    ASSERT_TRUE(in.good()) << fixture;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Write(relative, text);
}

void FakeProcRoot::AddProcess(int pid, const std::string& comm, int descriptors)
{
    const std::string dir = std::to_string(pid);
    Write(dir + "/comm", comm + "\n");
    std::filesystem::create_directories(std::filesystem::path(m_path) / dir / "fd");
    for (int fd = 0; fd < descriptors; ++fd)
        Write(dir + "/fd/" + std::to_string(fd), "");
    SetLastPid(pid);
}

void FakeProcRoot::Rename(int pid, const std::string& comm)
{
    Write(std::to_string(pid) + "/comm", comm + "\n");
}

void FakeProcRoot::SetExecutable(int pid, const std::string& target)
{
    const std::filesystem::path link = std::filesystem::path(m_path) / std::to_string(pid) / "exe";
    std::filesystem::create_symlink(target, link);
}

void FakeProcRoot::RemoveProcess(int pid)
{
    std::filesystem::remove_all(std::filesystem::path(m_path) / std::to_string(pid));
}

void FakeProcRoot::SetLastPid(int pid)
{
    Write("loadavg", "0.10 0.11 0.04 1/130 " + std::to_string(pid) + "\n");
}
