#include "perfd/perfmon_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// Samba's server makes perfmon/ with these permissions (reg_perfcount.c) and only reads.
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kDatabaseMode = 0644;
constexpr mode_t kGroupDatabaseMode = 0640; // with --readers
// Buckets of the hash table: a few thousand records, one per process and per counter.
constexpr int kHashSize = 4099;
// Only this program writes a working copy, and the copies are made afresh at the start: no
// locks, no waiting for the disk.
constexpr int kWorkingFlags = TDB_NOLOCK | TDB_NOSYNC;
constexpr const char* kWorkingPrefix = "/.zeltor-perfd.";
// The name a copy is linked under before it is moved over the published database.
constexpr const char* kNextSuffix = ".zeltor-perfd-next";

TDB_DATA Datum(const std::string& text)
{
    return TDB_DATA{ reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), text.size() };
}

std::string Reason(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

bool SameRecord(const PerfmonRecord& a, const PerfmonRecord& b)
{
    return a.key == b.key && a.value == b.value;
}

// Whether path is a link to the file that tdb has open.
bool NamesOpenFile(const std::string& path, tdb_context* tdb)
{
    struct stat onDisk {}, open {};
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
    for (Database* db : { &m_names, &m_data }) {
        for (Copy& copy : db->copies)
            Close(copy);
    }
}

void PerfmonStore::Close(Copy& copy)
{
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
    copy.tdb = tdb_open(copy.path.c_str(), kHashSize, kWorkingFlags, O_RDWR | O_CREAT | O_EXCL, kDatabaseMode);
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
    if (alone)
        fcntl(tdb_fd(copy.tdb), F_SETLEASE, F_UNLCK);
    if (!ok) {
        Close(copy); // made afresh at the next write
        return false;
    }
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

bool PerfmonStore::Update(Database& db, const std::vector<PerfmonRecord>& records, std::string* error)
{
    // Fewer instances than the sample before: its records beyond the new ones go on into the
    // new copy, for a reader that took the count before. So the update is unchanged when the
    // published records begin with the new ones.
    const std::vector<PerfmonRecord>& before = db.publishedCopy >= 0 ? db.copies[db.publishedCopy].written : kNoRecords;
    if (PublishedIsOurs(db) && before.size() >= records.size() &&
        std::equal(records.begin(), records.end(), before.begin(), SameRecord))
        return true;
    const int index = db.publishedCopy == 0 ? 1 : 0;
    Copy& copy = db.copies[index];
    if (!CopyIsOurs(copy) && !OpenCopy(copy, error))
        return false;
    return WriteAlone(copy, records, before, error) && Publish(db, index, error);
}

bool PerfmonStore::Write(const PerfmonRecords& records, std::string* error)
{
    return Update(m_data, records.data, error) && Update(m_names, records.names, error);
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
