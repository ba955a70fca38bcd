// Samba's performance databases, STATE/perfmon/names.tdb and data.tdb, written with libtdb.
//
// Samba's server opens them read-only, and tdb takes no locks for a read-only database: a
// transaction written in place would not keep such a reader from half a sample. So each update
// is made in a working copy of each database that only this program opens
// (perfmon/.zeltor-perfd.names.tdb, .zeltor-perfd.data.tdb), copied whole to a new file and
// moved over the published one by rename(2): a reader opens either the sample before or the
// new one, complete. data.tdb goes first and names.tdb after it, and only when it changed, so
// an instance's counter block is published before its name and the count that includes it.
// Records of instances beyond the current count are kept, so a reader that took the count of
// the sample before still finds each instance it asks for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "perfd/perfmon_records.h"

struct tdb_context;

class PerfmonStore {
public:
    // stateDirectory: Samba's "state directory"; the databases go to its perfmon/ folder.
    explicit PerfmonStore(std::string stateDirectory);
    ~PerfmonStore();
    PerfmonStore(const PerfmonStore&) = delete;
    PerfmonStore& operator=(const PerfmonStore&) = delete;

    // Makes perfmon/ when missing and the working copies afresh. False with the reason in
    // *error when the folder cannot be made or written in.
    bool Open(std::string* error);
    // Publishes one sample. A published database that was removed or replaced since is
    // published again; a working copy that was, is made afresh. False with the reason in
    // *error; the next write tries again.
    bool Write(const PerfmonRecords& records, std::string* error);
    // Publishes both databases empty, so that Samba answers with no counters rather than old
    // ones, and removes the working copies.
    bool Clear(std::string* error);

    const std::string& Directory() const { return m_directory; }

private:
    struct Database {
        std::string published; // perfmon/NAME.tdb
        std::string working;   // perfmon/.zeltor-perfd.NAME.tdb
        tdb_context* tdb = nullptr;
        std::vector<PerfmonRecord> written; // in the working copy, as last written
        ino_t publishedInode = 0;           // of the file last moved over published
    };

    bool OpenWorkingCopy(Database& db, std::string* error);
    bool WorkingCopyIsOurs(const Database& db) const;
    bool PublishedIsOurs(const Database& db) const;
    bool Update(Database& db, const std::vector<PerfmonRecord>& records, std::string* error);
    bool Publish(Database& db, std::string* error);
    void Close(Database& db);

    std::string m_directory;
    Database m_names;
    Database m_data;
};
