#include "perfd/perfmon_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <unordered_map>

namespace {

// Samba's server makes perfmon/ with these permissions (reg_perfcount.c) and only reads.
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kDatabaseMode = 0644;
constexpr mode_t kGroupDatabaseMode = 0640; // with --readers
constexpr mode_t kOwnerDatabaseMode = 0600; // with --readers, until the group is given
// Buckets of the hash table: a few thousand records, one per process and per counter.
constexpr int kHashSize = 4099;
// Only this program writes a working copy, and the copies are made afresh at the start: no
// locks, no waiting for the disk.
constexpr int kWorkingFlags = TDB_NOLOCK | TDB_NOSYNC;
constexpr const char* kWorkingPrefix = "/.zeltor-perfd.";
// The name a copy is linked under before it is moved over the published database.
constexpr const char* kNextSuffix = ".zeltor-perfd-next";
// How long the data of a sample wait for an answer that opened the names before it (an answer
// takes a few milliseconds, up to half a second on a busy machine).
constexpr std::chrono::seconds kLongestLateAnswer{ 1 };
// The names.tdb key of an instance's name: its data.tdb key ("NiK") and this.
constexpr std::string_view kInstanceNameSuffix = "name";

TDB_DATA Datum(const std::string& text)
{
    return TDB_DATA{ reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), text.size() };
}

std::string Reason(const std::string& what, int error)
{
    return what + ": " + std::generic_category().message(error);
}

bool SameRecord(const PerfmonRecord& a, const PerfmonRecord& b)
{
    return a.key == b.key && a.value == b.value;
}

// Whether path is a link to the file that tdb has open.
bool NamesOpenFile(const std::string& path, tdb_context* tdb)
{
    struct stat onDisk {
    }, open{};
    return tdb != nullptr && stat(path.c_str(), &onDisk) == 0 && fstat(tdb_fd(tdb), &open) == 0 &&
           onDisk.st_dev == open.st_dev && onDisk.st_ino == open.st_ino;
}

// No records: what a database that was never published holds.
const std::vector<PerfmonRecord> kNoRecords;

} // namespace

PerfmonStore::PerfmonStore(std::string stateDirectory) : m_directory(std::move(stateDirectory) + "/perfmon")
{
    for (auto [db, name] : { std::pair{ &m_names, "names" }, std::pair{ &m_data, "data" } }) {
        db->published = m_directory + "/" + name + ".tdb";
        for (int i = 0; i < 2; ++i)
            db->copies[i].path = m_directory + kWorkingPrefix + name + "." + std::to_string(i) + ".tdb";
    }
}

PerfmonStore::~PerfmonStore()
{
    if (m_closes >= 0)
        close(m_closes);
    for (Database* db : { &m_names, &m_data }) {
        for (Copy& copy : db->copies)
            Close(copy);
    }
}

void PerfmonStore::LetGo(Copy& copy)
{
    if (copy.leased && copy.tdb != nullptr)
        fcntl(tdb_fd(copy.tdb), F_SETLEASE, F_UNLCK);
    copy.leased = false;
}

void PerfmonStore::Close(Copy& copy)
{
    LetGo(copy);
    if (copy.tdb != nullptr)
        tdb_close(copy.tdb);
    copy.tdb = nullptr;
    copy.written.clear();
}

bool PerfmonStore::Open(std::string* error)
{
    // A write lease is broken with SIGIO, whose default ends the process; the store lets go of
    // its leases at once anyway, so the signal is of no use.
    signal(SIGIO, SIG_IGN);
    for (Database* db : { &m_data, &m_names }) {
        for (Copy& copy : db->copies) {
            if (!OpenCopy(copy, error))
                return false;
        }
        db->publishedCopy = -1;
    }
    // Links that a run which ended between making and moving them left.
    for (Database* db : { &m_data, &m_names })
        unlink((db->published + kNextSuffix).c_str());
    return true;
}

bool PerfmonStore::OpenCopy(Copy& copy, std::string* error)
{
    Close(copy);
    if (mkdir(m_directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
        *error = Reason("cannot make " + m_directory, errno);
        return false;
    }
    // Made afresh: whatever an earlier run left is not trusted, and a reader that still holds
    // the old file keeps it.
    if (unlink(copy.path.c_str()) != 0 && errno != ENOENT) {
        *error = Reason("cannot replace " + copy.path, errno);
        return false;
    }
    errno = 0;
    // With readers, made for root alone and opened to the group once it is the group's: no
    // moment where others can read it.
    copy.tdb = tdb_open(copy.path.c_str(), kHashSize, kWorkingFlags, O_RDWR | O_CREAT | O_EXCL,
                        m_readers >= 0 ? kOwnerDatabaseMode : kDatabaseMode);
    if (copy.tdb == nullptr) {
        *error = Reason("cannot make " + copy.path, errno != 0 ? errno : EIO);
        return false;
    }
    if (m_readers >= 0 && (fchown(tdb_fd(copy.tdb), static_cast<uid_t>(-1), static_cast<gid_t>(m_readers)) != 0 ||
                           fchmod(tdb_fd(copy.tdb), kGroupDatabaseMode) != 0)) {
        *error = Reason("cannot give " + copy.path + " to group " + std::to_string(m_readers), errno);
        Close(copy);
        unlink(copy.path.c_str());
        return false;
    }
    return true;
}

bool PerfmonStore::CopyIsOurs(const Copy& copy) const
{
    return NamesOpenFile(copy.path, copy.tdb);
}

bool PerfmonStore::PublishedIsOurs(const Database& db) const
{
    return db.publishedCopy >= 0 && NamesOpenFile(db.published, db.copies[db.publishedCopy].tdb) &&
           CopyIsOurs(db.copies[db.publishedCopy]);
}

bool PerfmonStore::WriteAlone(Copy& copy, const std::vector<PerfmonRecord>& records,
                              const std::vector<PerfmonRecord>& before, std::string* error)
{
    // A write lease is granted only while no other descriptor has the file open; a reader that
    // opened the copy while it was published and holds it still, keeps it, and the update goes
    // to a new copy. (A file system without leases gets a new copy at each update.)
    const bool alone = fcntl(tdb_fd(copy.tdb), F_SETLEASE, F_WRLCK) == 0;
    if (!alone) {
        ++m_copiesReplaced;
        if (!OpenCopy(copy, error))
            return false;
    }
    bool ok = true;
    const std::size_t count = std::max(records.size(), before.size());
    // Records at the same place with the same key and value are in the copy already.
    for (std::size_t i = 0; i < count && ok; ++i) {
        const PerfmonRecord& record = i < records.size() ? records[i] : before[i];
        if (i < copy.written.size() && SameRecord(record, copy.written[i]))
            continue;
        ok = tdb_store(copy.tdb, Datum(record.key), Datum(record.value), TDB_REPLACE) == 0;
        if (!ok) {
            *error = "cannot write to " + copy.path + ": " + tdb_errorstr(copy.tdb);
            break;
        }
        if (i >= copy.written.size())
            copy.written.resize(i + 1);
        copy.written[i] = record;
    }
    if (!ok) {
        Close(copy); // made afresh at the next write
        return false;
    }
    // Kept until the sample is out: a reader that comes to it by a name it was published under
    // earlier waits, and then finds the sample whole.
    copy.leased = alone;
    copy.written.resize(count);
    return true;
}

bool PerfmonStore::Publish(Database& db, int index, std::string* error)
{
    const Copy& copy = db.copies[index];
    const std::string next = db.published + kNextSuffix;
    unlink(next.c_str());
    if (link(copy.path.c_str(), next.c_str()) != 0 || rename(next.c_str(), db.published.c_str()) != 0) {
        *error = Reason("cannot write " + db.published, errno);
        unlink(next.c_str());
        return false;
    }
    db.publishedCopy = index;
    return true;
}

const std::vector<PerfmonRecord>& PerfmonStore::PublishedRecords(const Database& db)
{
    return db.publishedCopy >= 0 ? db.copies[db.publishedCopy].written : kNoRecords;
}

bool PerfmonStore::Prepare(Database& db, const std::vector<PerfmonRecord>& records, int* index, std::string* error)
{
    // Fewer instances than the sample before: its records beyond the new ones go on into the
    // new copy, for a reader that took the count before. So the update is unchanged when the
    // published records begin with the new ones.
    *index = -1;
    const std::vector<PerfmonRecord>& before = PublishedRecords(db);
    if (PublishedIsOurs(db) && before.size() >= records.size() &&
        std::equal(records.begin(), records.end(), before.begin(), SameRecord))
        return true;
    const int spare = db.publishedCopy == 0 ? 1 : 0;
    Copy& copy = db.copies[spare];
    if (!CopyIsOurs(copy) && !OpenCopy(copy, error))
        return false;
    if (!WriteAlone(copy, records, before, error))
        return false;
    *index = spare;
    return true;
}

bool PerfmonStore::Gate(std::chrono::steady_clock::time_point deadline)
{
    if (!PublishedIsOurs(m_names))
        return false; // nothing published that an answer could hold
    const Copy& names = m_names.copies[m_names.publishedCopy];
    if (fcntl(tdb_fd(names.tdb), F_SETLEASE, F_WRLCK) == 0)
        return true;
    if (errno != EAGAIN)
        return false; // no leases here: published at once
    ++m_publishing.waited;
    const auto start = std::chrono::steady_clock::now();
    if (!AwaitClosing(names, deadline)) {
        ++m_publishing.duringAnswer;
        return false;
    }
    m_publishing.longestWait =
        std::max<std::chrono::nanoseconds>(m_publishing.longestWait, std::chrono::steady_clock::now() - start);
    return true;
}

bool PerfmonStore::AwaitClosing(const Copy& copy, std::chrono::steady_clock::time_point deadline)
{
    // Woken when a descriptor of it is closed, to try again at once, before the next answer
    // opens it.
    const int fd = tdb_fd(copy.tdb);
    if (m_closes < 0)
        m_closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const int watch =
        m_closes >= 0 ? inotify_add_watch(m_closes, copy.path.c_str(), IN_CLOSE_NOWRITE | IN_CLOSE_WRITE) : -1;
    bool leased = false;
    for (;;) {
        if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
            leased = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (errno != EAGAIN || now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd closed{ m_closes, POLLIN, 0 };
        if (m_closes < 0 || poll(&closed, 1, static_cast<int>(std::min<long long>(left, 5))) <= 0)
            continue;
        char events[4096];
        while (read(m_closes, events, sizeof events) > 0) {}
    }
    if (watch >= 0)
        inotify_rm_watch(m_closes, watch);
    return leased;
}

bool PerfmonStore::Write(const PerfmonRecords& records, std::string* error, std::chrono::nanoseconds longestWait,
                         bool mayPassOver)
{
    const bool ok = WriteSample(records, error, longestWait, mayPassOver);
    for (Database* db : { &m_data, &m_names }) {
        for (Copy& copy : db->copies)
            LetGo(copy);
    }
    return ok;
}

bool PerfmonStore::WriteSample(const PerfmonRecords& records, std::string* error, std::chrono::nanoseconds longestWait,
                               bool mayPassOver)
{
    const auto deadline = std::chrono::steady_clock::now() + longestWait;
    int data = -1, names = -1;
    if (!Prepare(m_data, records.data, &data, error) || !Prepare(m_names, records.names, &names, error))
        return false;
    if (data < 0 && names < 0)
        return true;
    const long during = m_publishing.duringAnswer;
    const int held = m_names.publishedCopy;
    if (!Gate(deadline)) {
        const bool answerUnderWay = m_publishing.duringAnswer > during;
        if (answerUnderWay && mayPassOver) {
            --m_publishing.duringAnswer;
            ++m_publishing.passedOver; // the copies hold it; the next sample is written over it
            return true;
        }
        if (answerUnderWay && names >= 0) {
            // The answers under way go on reading data.tdb, value by value, beside the names
            // they hold: the figures of the instances that keep their names go out now; the
            // instances whose places changed hands, with their names, wait for a moment no
            // answer holds them.
            if (!Prepare(m_data, KeepingPublishedPairs(records.data, records.names), &data, error))
                return false;
            names = -1;
        }
        // Without leases, or with the names as they are: data first, so that an instance's
        // counter block is there before its name and the count that includes it.
        ++m_publishing.samples;
        return (data < 0 || Publish(m_data, data, error)) && (names < 0 || Publish(m_names, names, error));
    }
    // No answer holds the published names, and until the lease is let go a new one's open of
    // them waits. The names go out first, and an answer that opens them waits on the new copy's
    // lease until the data are out too. An answer whose open of the names was under way as they
    // went out has the names before: the data wait for it to end.
    ++m_publishing.samples;
    const Copy& before = m_names.copies[held];
    bool ok = names < 0 || Publish(m_names, names, error);
    if (ok && names >= 0 && fcntl(tdb_fd(before.tdb), F_GETLEASE) != F_WRLCK) {
        ++m_publishing.lateOpens;
        fcntl(tdb_fd(before.tdb), F_SETLEASE, F_UNLCK);
        if (!AwaitClosing(before, std::chrono::steady_clock::now() + kLongestLateAnswer))
            ++m_publishing.duringAnswer;
    }
    ok = ok && (data < 0 || Publish(m_data, data, error));
    fcntl(tdb_fd(before.tdb), F_SETLEASE, F_UNLCK);
    return ok;
}

std::vector<PerfmonRecord> PerfmonStore::KeepingPublishedPairs(const std::vector<PerfmonRecord>& data,
                                                               const std::vector<PerfmonRecord>& names) const
{
    // The objects with an instance whose name is not the one published ("NiKname": object N).
    std::unordered_map<std::string_view, std::string_view> publishedNames;
    for (const PerfmonRecord& record : PublishedRecords(m_names))
        publishedNames.emplace(record.key, record.value);
    std::vector<std::string> moved;
    for (const PerfmonRecord& record : names) {
        const std::size_t instance = record.key.find('i');
        if (instance == std::string::npos || !record.key.ends_with(kInstanceNameSuffix))
            continue;
        const auto before = publishedNames.find(record.key);
        const std::string prefix = record.key.substr(0, instance + 1);
        if (before != publishedNames.end() && before->second != record.value &&
            std::find(moved.begin(), moved.end(), prefix) == moved.end())
            moved.push_back(prefix);
    }
    // Their instances' blocks stay as published, all of them, so that the object's _Total stays
    // the sum of the instances shown; every other figure is the new one.
    std::unordered_map<std::string_view, std::string_view> publishedData;
    for (const PerfmonRecord& record : PublishedRecords(m_data))
        publishedData.emplace(record.key, record.value);
    std::vector<PerfmonRecord> kept = data;
    for (PerfmonRecord& record : kept) {
        const bool ofMoved = std::any_of(moved.begin(), moved.end(),
                                         [&](const std::string& prefix) { return record.key.starts_with(prefix); });
        if (const auto figures = publishedData.find(record.key); ofMoved && figures != publishedData.end())
            record.value = figures->second;
    }
    return kept;
}

bool PerfmonStore::Clear(std::string* error)
{
    for (Database* db : { &m_names, &m_data }) {
        const int index = db->publishedCopy == 0 ? 1 : 0;
        if (!OpenCopy(db->copies[index], error) || !Publish(*db, index, error))
            return false;
        for (Copy& copy : db->copies) {
            Close(copy);
            unlink(copy.path.c_str());
        }
        db->publishedCopy = -1;
    }
    return true;
}
