// One real-time counter query on one machine, with its counters looked up by a small integer
// handle that counts up over the life of the object and is never reused.
#pragma once

#include <memory>
#include <vector>

#include "framework/afx_types.h"
#include "framework/cstring.h"
#include "perf/counter_source.h"

struct PDHCounterStruct {
    int nIndex = 0;                 // the handle AddCounter gave out
    int lValue = 0;                 // the value last read
    PdhCounter* hCounter = nullptr; // set by the source's AddCounter
};

class CCounterQuery {
public:
    explicit CCounterQuery(ICounterSource& source);
    ~CCounterQuery();
    CCounterQuery(const CCounterQuery&) = delete;
    CCounterQuery& operator=(const CCounterQuery&) = delete;

    // Connects to the machine (retrying while access is denied, never after a refused logon) and
    // opens a query; shows "Could not initialize." with the status text and returns FALSE on
    // failure.
    BOOL Initialize(const CString& machine);
    // Adds "\\" + machine + path; the new handle, or -1 (nothing shown, no handle used up).
    // status, when given, receives what the source answered (why the machine lacks the counter).
    int AddCounter(const CString& path, PDH_STATUS* status = nullptr);
    // Takes one sample of all counters; shows the status text and returns FALSE on failure.
    BOOL Collect();
    PDHCounterStruct* FindCounter(int handle);
    BOOL UpdateValue(PDHCounterStruct* record);
    // The counter's current value as a whole number; 0 on any failure.
    int GetCounterValue(int handle);
    void Close();

    // The message text for a PDH status; "Unknown Error." for a code the table does not hold.
    CString GetErrorText(PDH_STATUS status) const;

    bool IsOpen() const { return m_hQuery != nullptr; }
    int GetCounterCount() const { return static_cast<int>(m_arrCounters.size()); }
    const CString& GetMachine() const { return m_strMachine; }

private:
    PdhQuery* m_hQuery = nullptr;
    std::vector<std::unique_ptr<PDHCounterStruct>> m_arrCounters;
    int m_nNextIndex = 0;
    CString m_strMachine;
    ICounterSource& m_source;
};
