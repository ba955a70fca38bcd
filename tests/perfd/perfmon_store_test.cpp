// The tdb store: what a reader of the databases finds, only changes written, one transaction
// per sample, databases removed or replaced, and what cannot be opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tdb.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "perfd/perfmon_store.h"
#include "tests/linux/test_support.h"

namespace {

// Every record of a database, as tdbdump (tdb-tools) shows it: from another process, since
// tdb does not open a database twice in one.
std::map<std::string, std::string> ReadDatabase(const std::string& path)
{
    std::map<std::string, std::string> records;
    // The exit status, last, on a line of its own.
    std::istringstream dump(CommandOutput("tdbdump '" + path + "'; echo \"exit=$?\""));
    // Lines: key(N) = "text" and data(N) = "text", other bytes than printable ones as \XX.
    const auto unescape = [](const std::string& line) {
        const std::size_t open = line.find('"'), close = line.rfind('"');
        std::string text;
        for (std::size_t i = open + 1; i < close; ++i) {
            if (line[i] == '\\' && i + 2 < close) {
                text += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                text += line[i];
            }
        }
        return text;
    };
    std::string key;
    std::string line;
    std::string status;
    while (std::getline(dump, line)) {
        if (line.rfind("key(", 0) == 0)
            key = unescape(line);
        else if (line.rfind("data(", 0) == 0)
            records[key] = unescape(line);
        else if (line.rfind("exit=", 0) == 0)
            status = line;
    }
    EXPECT_EQ(status, "exit=0") << path;
    return records;
}

PerfmonRecords Records(int sample, int instances)
{
    PerfmonRecords records;
    records.names = { { "1", "1002" }, { "230inst", std::to_string(instances) } };
    records.data = { { "0PerfTime", std::to_string(sample) } };
    for (int i = 0; i < instances; ++i) {
        records.names.push_back({ "230i" + std::to_string(i) + "name", "p" + std::to_string(i) });
        records.data.push_back({ "230i" + std::to_string(i), std::to_string(sample) });
    }
    return records;
}

struct timespec ModificationTime(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mtim;
}

} // namespace

TEST(PerfmonStore, ReadersFindEachSampleAndTheInstancesOfTheOneBefore)
{
    TempDir state;
    PerfmonStore store(state.path());
    std::string error;
    ASSERT_TRUE(store.Open(&error)) << error;
    ASSERT_TRUE(store.Write(Records(1, 3), &error)) << error;
    const std::string names = state.path() + "/perfmon/names.tdb";
    const std::string data = state.path() + "/perfmon/data.tdb";
    EXPECT_EQ(ReadDatabase(names).at("230i2name"), "p2");
    EXPECT_EQ(ReadDatabase(data).at("230i2"), "1");
    EXPECT_EQ(std::filesystem::status(state.path() + "/perfmon").permissions(), std::filesystem::perms(0755));

    // Fewer instances: the count goes down, the records beyond it stay for a reader that took
    // the count before.
    ASSERT_TRUE(store.Write(Records(2, 2), &error)) << error;
    EXPECT_EQ(ReadDatabase(names).at("230inst"), "2");
    EXPECT_EQ(ReadDatabase(data).at("230i1"), "2");
    EXPECT_EQ(ReadDatabase(data).at("230i2"), "1");

    // Names that did not change are not written again.
    const timespec before = ModificationTime(names);
    ASSERT_TRUE(store.Write(Records(3, 2), &error)) << error;
    const timespec after = ModificationTime(names);
    EXPECT_TRUE(before.tv_sec == after.tv_sec && before.tv_nsec == after.tv_nsec);
    EXPECT_EQ(ReadDatabase(data).at("0PerfTime"), "3");

    // A clean stop leaves both empty.
    ASSERT_TRUE(store.Clear(&error)) << error;
    EXPECT_TRUE(ReadDatabase(names).empty());
    EXPECT_TRUE(ReadDatabase(data).empty());
}

TEST(PerfmonStore, AReaderWithoutLocksNeverSeesHalfASample)
{
    TempDir state;
    const std::string data = state.path() + "/perfmon/data.tdb";
    // A reader in another process opens the database read-only at each look, as Samba's server
    // does, and so takes no lock (tdb locks no read-only database). Every record of one sample
    // carries the sample's number.
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        char go = 0;
        if (read(start[0], &go, 1) != 1)
            _exit(3);
        int mixed = 0;
        for (int look = 0; look < 300; ++look) {
            tdb_context* tdb = tdb_open(data.c_str(), 0, TDB_DEFAULT, O_RDONLY, 0);
            if (tdb == nullptr)
                _exit(2);
            std::map<std::string, std::string> seen;
            tdb_traverse_read(
                tdb,
                [](tdb_context*, TDB_DATA key, TDB_DATA value, void* into) {
                    (*static_cast<std::map<std::string, std::string>*>(
                        into))[std::string(reinterpret_cast<char*>(key.dptr), key.dsize)] =
                        std::string(reinterpret_cast<char*>(value.dptr), value.dsize);
                    return 0;
                },
                &seen);
            tdb_close(tdb);
            mixed += seen.size() != 201;
            for (const auto& [key, value] : seen)
                mixed += value != seen["0PerfTime"];
        }
        _exit(mixed == 0 ? 0 : 1);
    }
    PerfmonStore store(state.path());
    std::string error;
    ASSERT_TRUE(store.Open(&error)) << error;
    ASSERT_TRUE(store.Write(Records(0, 200), &error)) << error;
    ASSERT_EQ(write(start[1], "g", 1), 1);
    for (int sample = 1; sample <= 150; ++sample)
        ASSERT_TRUE(store.Write(Records(sample, 200), &error)) << error;
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader saw a mixed sample: " << status;
    close(start[0]);
    close(start[1]);
}

TEST(PerfmonStore, AnAnswerReadsEveryValueOfOneSample)
{
    TempDir state;
    const std::string names = state.path() + "/perfmon/names.tdb";
    const std::string data = state.path() + "/perfmon/data.tdb";
    // A reader in another process answers as Samba's server does: names.tdb held open for the
    // whole answer, data.tdb opened anew for the time base and for each value after it.
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        char go = 0;
        if (read(start[0], &go, 1) != 1)
            _exit(3);
        const auto value = [&](const std::string& key) {
            tdb_context* tdb = tdb_open(data.c_str(), 0, TDB_DEFAULT, O_RDONLY, 0);
            if (tdb == nullptr)
                _exit(2);
            const TDB_DATA found =
                tdb_fetch(tdb, TDB_DATA{ reinterpret_cast<unsigned char*>(const_cast<char*>(key.data())), key.size() });
            std::string text(reinterpret_cast<char*>(found.dptr), found.dsize);
            free(found.dptr);
            tdb_close(tdb);
            return text;
        };
        int mixed = 0;
        for (int answer = 0; answer < 100; ++answer) {
            tdb_context* held = tdb_open(names.c_str(), 0, TDB_DEFAULT, O_RDONLY, 0);
            if (held == nullptr)
                _exit(2);
            const std::string time = value("0PerfTime");
            for (int k = 0; k < 5; ++k) {
                usleep(1000);
                mixed += value("230i" + std::to_string(k)) != time;
            }
            tdb_close(held);
            usleep(1000);
        }
        _exit(mixed == 0 ? 0 : 1);
    }
    PerfmonStore store(state.path());
    std::string error;
    ASSERT_TRUE(store.Open(&error)) << error;
    ASSERT_TRUE(store.Write(Records(0, 5), &error)) << error;
    ASSERT_EQ(write(start[1], "g", 1), 1);
    // Samples back to back, each waiting for the answer under way (a second at most: this
    // machine may be busy).
    int status = 0;
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int sample = 1; waitpid(reader, &status, WNOHANG) == 0; ++sample) {
        if (std::chrono::steady_clock::now() > bound) {
            kill(reader, SIGKILL);
            waitpid(reader, &status, 0);
            break;
        }
        ASSERT_TRUE(store.Write(Records(sample, 5), &error, std::chrono::seconds(1))) << error;
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the reader did not end";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "an answer read values of two samples";
    EXPECT_GT(store.Published().waited, 0);
    EXPECT_EQ(store.Published().duringAnswer, 0);
    EXPECT_GT(store.Published().longestWait, std::chrono::microseconds(4000));

    // An answer that holds names.tdb past the wait: the sample is passed over when that may be,
    // else its figures are published anyway.
    const int answer = open(names.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(store.Write(Records(9000, 5), &error, std::chrono::milliseconds(5), true)) << error;
    EXPECT_EQ(store.Published().passedOver, 1);
    EXPECT_NE(ReadDatabase(data).at("0PerfTime"), "9000");
    ASSERT_TRUE(store.Write(Records(9001, 5), &error, std::chrono::milliseconds(5))) << error;
    EXPECT_EQ(store.Published().duringAnswer, 1);
    EXPECT_EQ(ReadDatabase(data).at("0PerfTime"), "9001");
    // Published anyway while the place of instance 2 changes hands: the answer goes on reading
    // each block beside the names it holds, so the object's instances keep their figures (its
    // _Total stays their sum) and instance 2 its name until the answer ends, while the other
    // figures go out.
    PerfmonRecords handedOver = Records(9002, 5);
    handedOver.names[4].value = "q2";
    ASSERT_TRUE(store.Write(handedOver, &error, std::chrono::milliseconds(5))) << error;
    EXPECT_EQ(store.Published().duringAnswer, 2);
    std::map<std::string, std::string> published = ReadDatabase(data);
    EXPECT_EQ(published.at("0PerfTime"), "9002");
    EXPECT_EQ(published.at("230i1"), "9001");
    EXPECT_EQ(published.at("230i2"), "9001");
    EXPECT_EQ(ReadDatabase(names).at("230i2name"), "p2");
    close(answer);
    handedOver = Records(9003, 5);
    handedOver.names[4].value = "q2";
    ASSERT_TRUE(store.Write(handedOver, &error, std::chrono::milliseconds(5))) << error;
    EXPECT_EQ(ReadDatabase(data).at("230i2"), "9003");
    EXPECT_EQ(ReadDatabase(names).at("230i2name"), "q2");
    close(start[0]);
    close(start[1]);
}

TEST(PerfmonStore, AReaderThatHoldsASampleKeepsItWhileTheStoreGoesOn)
{
    TempDir state;
    PerfmonStore store(state.path());
    std::string error;
    ASSERT_TRUE(store.Open(&error)) << error;
    const std::string data = state.path() + "/perfmon/data.tdb";
    // Each sample after the first is written into the copy that is not published: both copies
    // are written in turn, and none is made anew while no one holds them.
    for (int sample = 1; sample <= 4; ++sample)
        ASSERT_TRUE(store.Write(Records(sample, 50), &error)) << error;
    EXPECT_EQ(store.CopiesReplaced(), 0);

    // A reader opens the published file and keeps it open over the next samples, as a slow
    // reader might: what it holds does not change, and the copy it holds is replaced by a new
    // one instead of written into.
    const int held = open(data.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const auto bytes = [](int fd) {
        std::string content(1 << 20, '\0');
        const ssize_t n = pread(fd, content.data(), content.size(), 0);
        content.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return content;
    };
    const std::string before = bytes(held);
    for (int sample = 5; sample <= 8; ++sample)
        ASSERT_TRUE(store.Write(Records(sample, 50), &error)) << error;
    EXPECT_EQ(bytes(held), before);
    EXPECT_EQ(store.CopiesReplaced(), 1);
    close(held);
    EXPECT_EQ(ReadDatabase(data).at("0PerfTime"), "8");
}

TEST(PerfmonStore, RemovedOrReplacedDatabasesAreWrittenWholeAgain)
{
    TempDir state;
    PerfmonStore store(state.path());
    std::string error;
    ASSERT_TRUE(store.Open(&error)) << error;
    ASSERT_TRUE(store.Write(Records(1, 3), &error)) << error;
    const std::string folder = state.path() + "/perfmon";

    // The folder removed (as by hand): made again at the next write, with everything in it.
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(store.Write(Records(2, 3), &error)) << error;
    EXPECT_EQ(ReadDatabase(folder + "/names.tdb").size(), 5u);
    EXPECT_EQ(ReadDatabase(folder + "/data.tdb").size(), 4u);

    // Another database moved over names.tdb, with a record of its own: emptied and written.
    const std::string other = state.path() + "/other.tdb";
    tdb_context* tdb = tdb_open(other.c_str(), 0, TDB_DEFAULT, O_RDWR | O_CREAT, 0644);
    ASSERT_NE(tdb, nullptr);
    std::string key = "stale", value = "x";
    tdb_store(tdb, TDB_DATA{ reinterpret_cast<unsigned char*>(key.data()), key.size() },
              TDB_DATA{ reinterpret_cast<unsigned char*>(value.data()), value.size() }, TDB_INSERT);
    tdb_close(tdb);
    std::filesystem::rename(other, folder + "/names.tdb");
    ASSERT_TRUE(store.Write(Records(3, 3), &error)) << error;
    const auto names = ReadDatabase(folder + "/names.tdb");
    EXPECT_EQ(names.count("stale"), 0u);
    EXPECT_EQ(names.at("230i0name"), "p0");

    // A file that is no database put in its place is made one.
    std::filesystem::remove(folder + "/data.tdb");
    std::ofstream(folder + "/data.tdb") << std::string(8192, 'x');
    ASSERT_TRUE(store.Write(Records(4, 3), &error)) << error;
    EXPECT_EQ(ReadDatabase(folder + "/data.tdb").at("0PerfTime"), "4");

    // Something that cannot be replaced in its place: the write fails and says why; the next one
    // after it is gone succeeds.
    std::filesystem::remove(folder + "/data.tdb");
    std::filesystem::create_directory(folder + "/data.tdb");
    EXPECT_FALSE(store.Write(Records(5, 3), &error));
    EXPECT_EQ(error, "cannot write " + folder + "/data.tdb: Is a directory");
    std::filesystem::remove(folder + "/data.tdb");
    ASSERT_TRUE(store.Write(Records(6, 3), &error)) << error;
    EXPECT_EQ(ReadDatabase(folder + "/data.tdb").at("0PerfTime"), "6");
}

TEST(PerfmonStore, WhatCannotBeOpenedSaysWhy)
{
    TempDir state;
    std::string error;
    {
        PerfmonStore store(state.path() + "/missing");
        EXPECT_FALSE(store.Open(&error));
        EXPECT_EQ(error, "cannot make " + state.path() + "/missing/perfmon: No such file or directory");
    }
    std::filesystem::create_directories(state.path() + "/file");
    std::ofstream(state.path() + "/file/perfmon") << "a file where the folder goes";
    {
        PerfmonStore store(state.path() + "/file");
        EXPECT_FALSE(store.Open(&error));
        EXPECT_EQ(error, "cannot replace " + state.path() + "/file/perfmon/.zeltor-perfd.data.0.tdb: Not a directory");
    }
    // A link left by a run that ended between making and moving it is removed.
    std::filesystem::create_directories(state.path() + "/left/perfmon");
    std::ofstream(state.path() + "/left/perfmon/data.tdb.zeltor-perfd-next") << "x";
    std::ofstream(state.path() + "/left/perfmon/data.tdb.keep") << "x";
    {
        PerfmonStore store(state.path() + "/left");
        EXPECT_TRUE(store.Open(&error)) << error;
        EXPECT_FALSE(std::filesystem::exists(state.path() + "/left/perfmon/data.tdb.zeltor-perfd-next"));
        EXPECT_TRUE(std::filesystem::exists(state.path() + "/left/perfmon/data.tdb.keep"));
    }
}
