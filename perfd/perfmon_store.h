// Samba's performance databases, STATE/perfmon/names.tdb and data.tdb, written with libtdb.
//
// Samba's server opens them read-only, and tdb takes no lock for a read-only database: a
// transaction written in place would not keep such a reader from half a sample. So each
// database has two working copies that only this program writes
// (perfmon/.zeltor-perfd.NAME.0.tdb and .1.tdb), and the published NAME.tdb is a hard link to
// one of them, moved into place by rename(2): a reader opens either the sample before or the new
// one, whole. An update is written into the copy that is not published, which is no longer
// linked as NAME.tdb, and only when no one holds it open any more: a write lease
// (fcntl F_SETLEASE) is granted only to a file that no other descriptor has open. A copy that a
// reader still holds is left to it, and a new one is made in its place.
//
// Samba's server holds names.tdb open for the whole of an answer and opens data.tdb anew for
// each value within it (the time base first, each counter and instance after). So a sample is
// published while no one holds the published names.tdb: the store takes a write lease on it,
// which is granted only while no other descriptor has it open and, while held, keeps a new
// answer's open of it waiting. The new names go out first, under a lease of their own, so that an
// answer that opens them waits until the data are out too; an answer whose open of the old names
// was under way as they went out reads them whole, and the data wait for it to end. While
// answers are under way the store waits for them to end, up to the time given; then it passes
// the sample over when asked to, or publishes its figures alone: an object with an instance
// whose place changed hands keeps its instances' figures as published with the names the answers
// hold, and the names wait for a later sample. Without leases, data.tdb goes first and names.tdb after it, so an
// instance's counter block is there before its name and the count that includes it.
//
// Records of instances beyond the current count are kept, so a reader that took the count of the
// sample before still finds each instance it asks for.
#pragma once

#include <chrono>
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

    // The databases readable by root and that group alone (mode 0640), not by all (0644).
    void ReadableBy(long group) { m_readers = group; }

    // Makes perfmon/ when missing and the working copies afresh. False with the reason in
    // *error when the folder cannot be made or written in.
    bool Open(std::string* error);
    // Publishes one sample, once no answer holds names.tdb; when longestWait has passed first,
    // its figures alone, or with mayPassOver nothing at all. A published database
    // that was removed or replaced since is published again; a working copy that was, is made
    // afresh. False with the reason in *error; the next write tries again.
    bool Write(const PerfmonRecords& records, std::string* error,
               std::chrono::nanoseconds longestWait = std::chrono::nanoseconds::zero(), bool mayPassOver = false);
    // Publishes both databases empty, so that Samba answers with no counters rather than old
    // ones, and removes the working copies.
    bool Clear(std::string* error);

    const std::string& Directory() const { return m_directory; }
    // Working copies made afresh because a reader still held them (for the tests).
    int CopiesReplaced() const { return m_copiesReplaced; }

    // How the samples were published: those that changed something, those that waited for an
    // answer to end, those published while one was under way (the wait ran out), those not
    // published because it ran out, and the longest wait that ended with an answer's end.
    struct Publishing {
        long samples = 0;
        long waited = 0;
        long duringAnswer = 0;
        long passedOver = 0;
        long lateOpens = 0; // answers that opened the names as they went out, waited for
        std::chrono::nanoseconds longestWait{};
    };
    const Publishing& Published() const { return m_publishing; }

private:
    struct Copy {
        std::string path;
        tdb_context* tdb = nullptr;
        std::vector<PerfmonRecord> written; // in the copy, as last written
        bool leased = false;                // a write lease held on it until the sample is out
    };
    struct Database {
        std::string published; // perfmon/NAME.tdb
        Copy copies[2];
        int publishedCopy = -1; // the copy NAME.tdb is a link to, -1 for none
    };

    // The records of the copy published, as written (none before the first sample).
    static const std::vector<PerfmonRecord>& PublishedRecords(const Database& db);

    long m_readers = -1;
    bool OpenCopy(Copy& copy, std::string* error);
    bool CopyIsOurs(const Copy& copy) const;
    bool PublishedIsOurs(const Database& db) const;
    // Writes records, and before's records beyond them, into copy.
    bool WriteAlone(Copy& copy, const std::vector<PerfmonRecord>& records, const std::vector<PerfmonRecord>& before,
                    std::string* error);
    // Writes the records into the copy that is not published: *index the copy to publish, -1
    // when the published one holds them already; false on failure.
    bool Prepare(Database& db, const std::vector<PerfmonRecord>& records, int* index, std::string* error);
    // Takes the write lease on the published names.tdb: false when it is not ours, leases
    // cannot be had here, or answers held it past the deadline.
    bool Gate(std::chrono::steady_clock::time_point deadline);
    // Takes the write lease on the copy once no one else holds it open, waiting up to the
    // deadline: false when it ran out or leases cannot be had here.
    bool AwaitClosing(const Copy& copy, std::chrono::steady_clock::time_point deadline);
    bool WriteSample(const PerfmonRecords& records, std::string* error, std::chrono::nanoseconds longestWait,
                     bool mayPassOver);
    void LetGo(Copy& copy);
    bool Publish(Database& db, int index, std::string* error);
    // The data records, but for each object with an instance whose name is not the one
    // published: its instances' figures stay as published, beside the names that answers under
    // way hold.
    std::vector<PerfmonRecord> KeepingPublishedPairs(const std::vector<PerfmonRecord>& data,
                                                     const std::vector<PerfmonRecord>& names) const;
    void Close(Copy& copy);

    std::string m_directory;
    Database m_names;
    Database m_data;
    int m_copiesReplaced = 0;
    Publishing m_publishing;
    int m_closes = -1; // inotify: the closes of the published names.tdb, while an update waits
};
