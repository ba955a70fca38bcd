#include "perfd/perfmon_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tdb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Samba's server makes perfmon/ with these permissions (reg_perfcount.c) and only reads.
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kDatabaseMode = 0644;
// Buckets of the hash table: a few thousand records, one per process and per counter.
constexpr int kHashSize = 4099;
// Only this program opens a working copy, and a copy lost in a crash is made afresh at the
// start: no locks, no waiting for the disk.
constexpr int kWorkingFlags = TDB_NOLOCK | TDB_NOSYNC;
constexpr const char* kWorkingPrefix = "/.zeltor-perfd.";

TDB_DATA Datum(const std::string& text)
{
    return TDB_DATA{ reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), text.size() };
}

std::string Reason(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Copies the whole of the open file in to a new file at path.
bool CopyWhole(int in, const std::string& path, std::string* error)
{
    struct stat st {};
    if (fstat(in, &st) != 0) {
        *error = Reason("cannot read the working copy for " + path, errno);
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        *error = Reason("cannot write in " + path.substr(0, path.rfind('/')), errno);
        return false;
    }
    bool ok = fchmod(out, kDatabaseMode) == 0;
    loff_t from = 0;
    for (off_t left = st.st_size; ok && left > 0;) {
        const ssize_t copied = copy_file_range(in, &from, out, nullptr, static_cast<size_t>(left), 0);
        ok = copied > 0;
        left -= copied;
    }
    const int copyError = errno;
    ok = close(out) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    *error = Reason("cannot write " + path, ok ? errno : copyError);
    unlink(temporary.c_str());
    return false;
}

} // namespace

PerfmonStore::PerfmonStore(std::string stateDirectory) : m_directory(std::move(stateDirectory) + "/perfmon")
{
    for (auto [db, name] : { std::pair{ &m_names, "names.tdb" }, std::pair{ &m_data, "data.tdb" } }) {
        db->published = m_directory + "/" + name;
        db->working = m_directory + kWorkingPrefix + name;
    }
}

PerfmonStore::~PerfmonStore()
{
    Close(m_names);
    Close(m_data);
}

void PerfmonStore::Close(Database& db)
{
    if (db.tdb != nullptr)
        tdb_close(db.tdb);
    db.tdb = nullptr;
    db.written.clear();
}

bool PerfmonStore::Open(std::string* error)
{
    if (!OpenWorkingCopy(m_data, error) || !OpenWorkingCopy(m_names, error))
        return false;
    // Copies that a run which ended between making and moving them left (NAME.tdb.XXXXXX).
    if (DIR* folder = opendir(m_directory.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            const std::string_view name = entry->d_name;
            for (const char* published : { "names.tdb.", "data.tdb." }) {
                if (name.size() == std::strlen(published) + 6 && name.starts_with(published))
                    unlinkat(dirfd(folder), entry->d_name, 0);
            }
        }
        closedir(folder);
    }
    return true;
}

bool PerfmonStore::OpenWorkingCopy(Database& db, std::string* error)
{
    Close(db);
    if (mkdir(m_directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
        *error = Reason("cannot make " + m_directory, errno);
        return false;
    }
    // Made afresh: whatever an earlier run left is not trusted.
    if (unlink(db.working.c_str()) != 0 && errno != ENOENT) {
        *error = Reason("cannot replace " + db.working, errno);
        return false;
    }
    errno = 0;
    db.tdb = tdb_open(db.working.c_str(), kHashSize, kWorkingFlags, O_RDWR | O_CREAT | O_EXCL, kDatabaseMode);
    if (db.tdb == nullptr) {
        *error = Reason("cannot make " + db.working, errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

bool PerfmonStore::WorkingCopyIsOurs(const Database& db) const
{
    struct stat onDisk {}, open {};
    return db.tdb != nullptr && stat(db.working.c_str(), &onDisk) == 0 && fstat(tdb_fd(db.tdb), &open) == 0 &&
           SameFile(onDisk, open);
}

bool PerfmonStore::PublishedIsOurs(const Database& db) const
{
    struct stat onDisk {};
    return db.publishedInode != 0 && stat(db.published.c_str(), &onDisk) == 0 && onDisk.st_ino == db.publishedInode;
}

bool PerfmonStore::Update(Database& db, const std::vector<PerfmonRecord>& records, std::string* error)
{
    if (!WorkingCopyIsOurs(db) && !OpenWorkingCopy(db, error))
        return false;
    // Records at the same place with the same key and value are in the working copy already.
    bool changed = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i < db.written.size() && records[i].key == db.written[i].key && records[i].value == db.written[i].value)
            continue;
        if (tdb_store(db.tdb, Datum(records[i].key), Datum(records[i].value), TDB_REPLACE) != 0) {
            *error = "cannot write to " + db.working + ": " + tdb_errorstr(db.tdb);
            Close(db); // made afresh at the next write
            return false;
        }
        if (i >= db.written.size())
            db.written.resize(i + 1);
        db.written[i] = records[i];
        changed = true;
    }
    db.written.resize(std::min(db.written.size(), records.size()));
    if (!changed && PublishedIsOurs(db))
        return true;
    return Publish(db, error);
}

bool PerfmonStore::Publish(Database& db, std::string* error)
{
    if (!CopyWhole(tdb_fd(db.tdb), db.published, error))
        return false;
    struct stat published {};
    db.publishedInode = stat(db.published.c_str(), &published) == 0 ? published.st_ino : 0;
    return true;
}

bool PerfmonStore::Write(const PerfmonRecords& records, std::string* error)
{
    return Update(m_data, records.data, error) && Update(m_names, records.names, error);
}

bool PerfmonStore::Clear(std::string* error)
{
    for (Database* db : { &m_names, &m_data }) {
        if (!WorkingCopyIsOurs(*db) && !OpenWorkingCopy(*db, error))
            return false;
        if (tdb_wipe_all(db->tdb) != 0) {
            *error = "cannot empty " + db->working + ": " + tdb_errorstr(db->tdb);
            return false;
        }
        db->written.clear();
        if (!Publish(*db, error))
            return false;
        Close(*db);
        unlink(db->working.c_str());
    }
    return true;
}
