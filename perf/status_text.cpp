// The message texts of PDH status codes, as the user sees them in error boxes.
#include "perf/status_text.h"

#include "perf/counter_query.h"

#include <string_view>

#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"

namespace {

// Matched by exact 32-bit equality: no masking of severity or facility bits. One status a line, its
// name beside it, however long the text.
// clang-format off
constexpr PdhStatusText kStatusTexts[] = {
    { 0x00000001u, u"data value is valid and different from the last sample." }, // PDH_CSTATUS_NEW_DATA
    { 0x800007D0u, u"Unable to connect to the specified computer, or the computer is offline." }, // PDH_CSTATUS_NO_MACHINE
    { 0x800007D1u, u"The specified instance is not present." }, // PDH_CSTATUS_NO_INSTANCE
    { 0x800007D2u, u"There is more data to return than would fit in the supplied buffer.\nAllocate a larger buffer and call the function again." }, // PDH_MORE_DATA
    { 0x800007D3u, u"The data item has been added to the query but has not been validated nor accessed.\nNo other status information on this data item is available." }, // PDH_CSTATUS_ITEM_NOT_VALIDATED
    { 0x800007D4u, u"The selected operation should be retried." }, // PDH_RETRY
    { 0x800007D5u, u"No data to return." }, // PDH_NO_DATA
    { 0x800007D6u, u"A counter with a negative denominator value was detected." }, // PDH_CALC_NEGATIVE_DENOMINATOR
    { 0x800007D7u, u"A counter with a negative time base value was detected." }, // PDH_CALC_NEGATIVE_TIMEBASE
    { 0x800007D8u, u"A counter with a negative value was detected." }, // PDH_CALC_NEGATIVE_VALUE
    { 0x800007D9u, u"The user canceled the dialog box." }, // PDH_DIALOG_CANCELLED
    { 0x800007DAu, u"The end of the log file was reached." }, // PDH_END_OF_LOG_FILE
    { 0x800007DBu, u"A time-out occurred while waiting for the asynchronous counter collection thread to end." }, // PDH_ASYNC_QUERY_TIMEOUT
    { 0x800007DCu, u"Cannot change set default real-time data source. There are real-time query sessions collecting counter data." }, // PDH_CANNOT_SET_DEFAULT_REALTIME_DATASOURCE
    { 0x80000BD5u, u"Unable to map to the performance counter name data files.\nThe data will be read from the registry and stored locally." }, // PDH_UNABLE_MAP_NAME_FILES
    { 0x80000BF3u, u"The information passed is not valid." }, // PDH_PLA_VALIDATION_WARNING
    { 0xC0000BB8u, u"The specified object is not found on the system." }, // PDH_CSTATUS_NO_OBJECT
    { 0xC0000BB9u, u"The specified counter could not be found." }, // PDH_CSTATUS_NO_COUNTER
    { 0xC0000BBAu, u"The returned data is not valid." }, // PDH_CSTATUS_INVALID_DATA
    { 0xC0000BBBu, u"A PDH function could not allocate enough temporary memory to complete the operation.\nClose some applications or extend the page file and retry the function." }, // PDH_MEMORY_ALLOCATION_FAILURE
    { 0xC0000BBCu, u"The handle is not a valid PDH object." }, // PDH_INVALID_HANDLE
    { 0xC0000BBDu, u"A required argument is missing or incorrect." }, // PDH_INVALID_ARGUMENT
    { 0xC0000BBEu, u"Unable to find the specified function." }, // PDH_FUNCTION_NOT_FOUND
    { 0xC0000BBFu, u"No counter was specified." }, // PDH_CSTATUS_NO_COUNTERNAME
    { 0xC0000BC0u, u"Unable to parse the counter path.\nCheck the format and syntax of the specified path." }, // PDH_CSTATUS_BAD_COUNTERNAME
    { 0xC0000BC1u, u"The buffer passed by the caller is not valid." }, // PDH_INVALID_BUFFER
    { 0xC0000BC2u, u"The requested data is larger than the buffer supplied.\nUnable to return the requested data." }, // PDH_INSUFFICIENT_BUFFER
    { 0xC0000BC3u, u"Unable to connect to the requested computer." }, // PDH_CANNOT_CONNECT_MACHINE
    { 0xC0000BC4u, u"The specified counter path could not be interpreted." }, // PDH_INVALID_PATH
    { 0xC0000BC5u, u"The instance name could not be read from the specified counter path." }, // PDH_INVALID_INSTANCE
    { 0xC0000BC6u, u"The data is not valid." }, // PDH_INVALID_DATA
    { 0xC0000BC7u, u"The dialog box data block was missing or not valid." }, // PDH_NO_DIALOG_DATA
    { 0xC0000BC8u, u"Unable to read the counter and/or help text from the specified computer." }, // PDH_CANNOT_READ_NAME_STRINGS
    { 0xC0000BC9u, u"Unable to create the specified log file." }, // PDH_LOG_FILE_CREATE_ERROR
    { 0xC0000BCAu, u"Unable to open the specified log file." }, // PDH_LOG_FILE_OPEN_ERROR
    { 0xC0000BCBu, u"The specified log file type has not been installed on this system." }, // PDH_LOG_TYPE_NOT_FOUND
    { 0xC0000BCCu, u"No more data is available." }, // PDH_NO_MORE_DATA
    { 0xC0000BCDu, u"The specified record was not found in the log file." }, // PDH_ENTRY_NOT_IN_LOG_FILE
    { 0xC0000BCEu, u"The specified data source is a log file." }, // PDH_DATA_SOURCE_IS_LOG_FILE
    { 0xC0000BCFu, u"The specified data source is the current activity." }, // PDH_DATA_SOURCE_IS_REAL_TIME
    { 0xC0000BD0u, u"The log file header could not be read." }, // PDH_UNABLE_READ_LOG_HEADER
    { 0xC0000BD1u, u"Unable to find the specified file." }, // PDH_FILE_NOT_FOUND
    { 0xC0000BD2u, u"There is already a file with the specified file name." }, // PDH_FILE_ALREADY_EXISTS
    { 0xC0000BD3u, u"The function referenced has not been implemented." }, // PDH_NOT_IMPLEMENTED
    { 0xC0000BD4u, u"Unable to find the specified string in the list of performance\nname and help text strings." }, // PDH_STRING_NOT_FOUND
    { 0xC0000BD6u, u"The format of the specified log file is not recognized by the PDH DLL." }, // PDH_UNKNOWN_LOG_FORMAT
    { 0xC0000BD7u, u"The specified Log Service command value is not recognized." }, // PDH_UNKNOWN_LOGSVC_COMMAND
    { 0xC0000BD8u, u"The specified query from the Log Service\ncould not be found or could not be opened." }, // PDH_LOGSVC_QUERY_NOT_FOUND
    { 0xC0000BD9u, u"The Performance Data Log Service key could not be opened.\nThis may be due to insufficient privilege or because the service\nhas not been installed." }, // PDH_LOGSVC_NOT_OPENED
    { 0xC0000BDAu, u"An error occurred while accessing the WBEM data store." }, // PDH_WBEM_ERROR
    { 0xC0000BDBu, u"Unable to access the desired computer or service.\nCheck the permissions and authentication of the log service or the interactive user\nsession against those on the computer or service being monitored." }, // PDH_ACCESS_DENIED
    { 0xC0000BDCu, u"The maximum log file size specified is too small to log the selected counters.\nNo data will be recorded in this log file.\nSpecify a smaller set of counters to log or a larger file size and retry this call." }, // PDH_LOG_FILE_TOO_SMALL
    { 0xC0000BDDu, u"Cannot connect to ODBC DataSource Name." }, // PDH_INVALID_DATASOURCE
    { 0xC0000BDEu, u"SQL Database does not contain a valid set of tables for Perfmon." }, // PDH_INVALID_SQLDB
    { 0xC0000BDFu, u"No counters were found for this Perfmon SQL Log Set." }, // PDH_NO_COUNTERS
    { 0xC0000BE0u, u"Call to SQLAllocStmt failed." }, // PDH_SQL_ALLOC_FAILED
    { 0xC0000BE1u, u"Call to SQLAllocConnect failed." }, // PDH_SQL_ALLOCCON_FAILED
    { 0xC0000BE2u, u"Call to SQLExecDirect failed." }, // PDH_SQL_EXEC_DIRECT_FAILED
    { 0xC0000BE3u, u"Call to SQLFetch failed." }, // PDH_SQL_FETCH_FAILED
    { 0xC0000BE4u, u"Call to SQLRowCount failed." }, // PDH_SQL_ROWCOUNT_FAILED
    { 0xC0000BE5u, u"Call to SQLMoreResults failed." }, // PDH_SQL_MORE_RESULTS_FAILED
    { 0xC0000BE6u, u"Call to SQLConnect failed." }, // PDH_SQL_CONNECT_FAILED
    { 0xC0000BE7u, u"Call to SQLBindCol failed." }, // PDH_SQL_BIND_FAILED
    { 0xC0000BE8u, u"Unable to connect to the WMI server on requested computer." }, // PDH_CANNOT_CONNECT_WMI_SERVER
    { 0xC0000BE9u, u"Collection is already running." }, // PDH_PLA_COLLECTION_ALREADY_RUNNING
    { 0xC0000BEAu, u"The specified start time is after the end time." }, // PDH_PLA_ERROR_SCHEDULE_OVERLAP
    { 0xC0000BEBu, u"Collection does not exist." }, // PDH_PLA_COLLECTION_NOT_FOUND
    { 0xC0000BECu, u"The specified end time has already elapsed." }, // PDH_PLA_ERROR_SCHEDULE_ELAPSED
    { 0xC0000BEDu, u"Collection did not start; check the application event log for any errors." }, // PDH_PLA_ERROR_NOSTART
    { 0xC0000BEEu, u"Collection already exists." }, // PDH_PLA_ERROR_ALREADY_EXISTS
    { 0xC0000BEFu, u"There is a mismatch in the settings type." }, // PDH_PLA_ERROR_TYPE_MISMATCH
    { 0xC0000BF0u, u"The information specified does not resolve to a valid path name." }, // PDH_PLA_ERROR_FILEPATH
    { 0xC0000BF1u, u"The \"Performance Logs & Alerts\" service did not respond." }, // PDH_PLA_SERVICE_ERROR
    { 0xC0000BF2u, u"The information passed is not valid." }, // PDH_PLA_VALIDATION_ERROR
    { 0xC0000BF4u, u"The name supplied is too long." }, // PDH_PLA_ERROR_NAME_TOO_LONG
    { 0xC0000BF5u, u"SQL log format is incorrect.\nCorrect format is \"SQL:<DSN-name>!<LogSet-Name>\"." }, // PDH_INVALID_SQL_LOG_FORMAT
    { 0xC0000BF6u, u"Performance counter has already been added in the performance query.\nThis counter is ignored." }, // PDH_COUNTER_ALREADY_IN_QUERY
    { 0xC0000BF7u, u"Unable to read counter information and data from input binary log files." }, // PDH_BINARY_LOG_CORRUPT
    { 0xC0000BF8u, u"At least one of the input binary log files contain fewer than two data samples." }, // PDH_LOG_SAMPLE_TOO_SMALL
    { 0xC0000BF9u, u"The version of the operating system on the computer is later than that on the local computer.\nThis operation is not available from the local computer." }, // PDH_OS_LATER_VERSION
    { 0xC0000BFAu, u"Check the operating system version on the computer." }, // PDH_OS_EARLIER_VERSION
    { 0xC0000BFBu, u"The output file must contain earlier data than the file to be appended." }, // PDH_INCORRECT_APPEND_TIME
    { 0xC0000BFCu, u"Both files must have identical counters in order to append." }, // PDH_UNMATCHED_APPEND_COUNTER
    { 0xC0000BFDu, u"Cannot alter CounterDetail table layout in SQL database." }, // PDH_SQL_ALTER_DETAIL_FAILED
    { 0xC0000BFEu, u"System is busy. A time-out occurred when collecting counter data.\nPlease retry later or increase the CollectTime registry value." }, // PDH_QUERY_PERF_DATA_TIMEOUT
};
// clang-format on

} // namespace

std::span<const PdhStatusText> PdhStatusTexts()
{
    return kStatusTexts;
}

namespace {

CString TableText(std::uint32_t status)
{
    for (const PdhStatusText& row : PdhStatusTexts()) {
        if (row.code == status)
            return row.text;
    }
    return u"Unknown Error.";
}

} // namespace

CString CCounterQuery::GetErrorText(PDH_STATUS status) const
{
    return TableText(status);
}

CString PdhStatusMessage(std::uint32_t status)
{
    if (IsWin32Status(status)) {
        if (const char16_t* text = Win32ErrorText(status & 0xFFFF)) {
            std::u16string_view view(text);
            while (!view.empty() && (view.back() == u'\n' || view.back() == u'\r'))
                view.remove_suffix(1);
            return CString(view);
        }
    }
    return TableText(status);
}
