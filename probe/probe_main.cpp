#include "probe/probe_main.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>

#include "app/controller_session.h"
#include "app/counter_set.h"
#include "directory/discovery.h"
#include "directory/remote_connection.h"
#include "framework/afxwin.h"
#include "framework/ascii_case.h"
#include "framework/secret_text.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"
#include "probe/console_feedback.h"
#include "probe/health_output.h"
#include "probe/probe_options.h"
#include "probe/replication_output.h"
#include "probe/sample_writer.h"

#ifndef ZELTOR_VERSION
#error "ZELTOR_VERSION names the project's version"
#endif

namespace {

class ProbeRun {
public:
    ProbeRun(ProbeServices& services, IProbeEnvironment& env, const CString& exePath)
        : m_services(services), m_env(env), m_feedback(env)
    {
        // The framework's application object names the program in every report, and its
        // message boxes come here instead of to a window layer.
        m_app.m_strAppName = AfxAppNameFromPath(exePath);
        m_app.m_pFeedback = &m_feedback;
        m_name = m_app.m_strAppName.ToUtf8();
    }

    int Run(const std::vector<CString>& args)
    {
        const ParsedOptions parsed = ParseProbeOptions(args);
        m_options = parsed.options;
        if (!parsed.error.empty())
            return Usage(parsed.error);
        if (m_options.help)
            return Write(ProbeUsage(m_name)) ? probe_exit::kOk : probe_exit::kOutputFailed;
        if (m_options.version)
            return Write(m_name + " " ZELTOR_VERSION "\n") ? probe_exit::kOk : probe_exit::kOutputFailed;
        if (!m_options.listDcs && !m_options.health && !m_options.replication) {
            m_counters = Counters();
            if (!ResolveThresholds())
                return Usage(m_error);
        }
        if (!m_options.userName.IsEmpty() && !ReadPassword())
            return Failure(probe_exit::kNoPassword, m_error);
        const int code = m_options.listDcs       ? ListDomainControllers()
                         : m_options.health      ? CheckHealth()
                         : m_options.replication ? ReadReplication()
                                                 : Monitor();
        WipeText(m_password);
        return code;
    }

    ~ProbeRun() { WipeText(m_password); }
    ProbeRun(const ProbeRun&) = delete;
    ProbeRun& operator=(const ProbeRun&) = delete;

private:
    // -- Reports ------------------------------------------------------------------------------

    bool Nagios() const { return m_options.format == OutputFormat::Nagios; }

    bool Write(const std::string& text) { return text.empty() || m_env.WriteOut(text); }

    void Error(const std::string& text) { m_env.WriteErr(m_name + ": " + text + "\n"); }

    int Usage(const std::string& text)
    {
        Error(text);
        m_env.WriteErr("Try '" + m_name + " --help' for more information.\n");
        return Failed(probe_exit::kUsage, text);
    }

    // A failure said on standard error (and in the plugin's line); its exit code.
    int Failure(int code, const std::string& text)
    {
        Error(text);
        return Failed(code, text);
    }

    // A failure the engine has reported already (its text went to standard error).
    int Failed(int code, const std::string& text)
    {
        if (!Nagios())
            return code;
        Write(NagiosPlugin::UnknownLine(text));
        return static_cast<int>(PluginState::Unknown);
    }

    // -- The command line ---------------------------------------------------------------------

    std::vector<ProbeCounter> Counters() const
    {
        std::vector<CString> paths = m_options.paths;
        if (paths.empty())
            paths.assign(kCounterSetPaths.begin(), kCounterSetPaths.end());
        std::vector<ProbeCounter> counters;
        counters.reserve(paths.size());
        for (const CString& path : paths)
            counters.push_back({ path, u"\\\\" + m_options.machine + path });
        return counters;
    }

    // Each threshold's counter, by its place in the list or by its path.
    bool ResolveThresholds()
    {
        m_thresholds.assign(m_counters.size(), {});
        const auto apply = [&](const std::vector<ThresholdOption>& options, bool critical) {
            for (const ThresholdOption& option : options) {
                std::vector<std::size_t> matches;
                const bool digits = std::all_of(option.counter.begin(), option.counter.end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
                if (digits) {
                    const std::size_t place = option.counter.size() <= 9 ? std::stoul(option.counter) : 0;
                    if (place >= 1 && place <= m_counters.size())
                        matches.push_back(place - 1);
                } else {
                    for (std::size_t i = 0; i < m_counters.size(); ++i) {
                        if (EqualsIgnoringCase(m_counters[i].path.ToUtf8(), option.counter))
                            matches.push_back(i);
                    }
                }
                if (matches.empty()) {
                    m_error = std::string(critical ? "--critical" : "--warning") + ": '" + option.counter +
                              "' is not one of the counters read, by path or by place (1 to " +
                              std::to_string(m_counters.size()) + ")";
                    return false;
                }
                for (std::size_t i : matches)
                    (critical ? m_thresholds[i].critical : m_thresholds[i].warning) = option.range;
            }
            return true;
        };
        return apply(m_options.warnings, false) && apply(m_options.criticals, true);
    }

    bool ReadPassword()
    {
        switch (m_options.passwordSource) {
        case PasswordSource::StandardInput:
            return m_env.ReadPasswordFromInput(m_password, m_error);
        case PasswordSource::File:
            return m_env.ReadPasswordFile(m_options.passwordFile, m_password, m_error);
        case PasswordSource::Terminal:
            break;
        }
        CString prompt = u"Password for " + m_options.userName;
        if (!m_options.listDcs)
            prompt += u" on \\\\" + m_options.machine;
        if (m_env.PromptPassword(prompt + u": ", m_password, m_error))
            return true;
        m_error += "; give the password on standard input with --password-stdin, or in a file only you can "
                   "read with --password-file=FILE";
        return false;
    }

    // -- Discovery ----------------------------------------------------------------------------

    // Whether the directory refused the credentials themselves (as opposed to not answering).
    static bool IsRefusedLogon(std::uint32_t status)
    {
        switch (status) {
        case 86:   // ERROR_INVALID_PASSWORD
        case 1326: // ERROR_LOGON_FAILURE
        case 1327: // ERROR_ACCOUNT_RESTRICTION
        case 1330: // ERROR_PASSWORD_EXPIRED
        case 1331: // ERROR_ACCOUNT_DISABLED
        case 1793: // ERROR_ACCOUNT_EXPIRED
        case 1907: // ERROR_PASSWORD_MUST_CHANGE
        case 1909: // ERROR_ACCOUNT_LOCKED_OUT
            return true;
        default:
            return false;
        }
    }

    // "Error:<code> <the system's text>" on one line, as the plugin's line gives a failure.
    std::string SystemError(std::uint32_t code)
    {
        std::string text = "Error:" + std::to_string(static_cast<std::int32_t>(code));
        char16_t* buffer = nullptr;
        m_services.network.FormatMessage(code, &buffer);
        if (buffer != nullptr) {
            std::string message = CString(buffer).ToUtf8();
            m_services.network.LocalFree(buffer);
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
                message.pop_back();
            for (char& c : message) {
                if (c == '\r' || c == '\n')
                    c = ' ';
            }
            text += " " + message;
        }
        return text;
    }

    int ListDomainControllers()
    {
        IDirectoryService& directory = m_services.directory;
        const CString computer = directory.GetComputerName(kComputerNameChars);
        CString domain;
        if (GetJoinedDomain(directory, computer, domain) != NetSetupDomainName)
            return Failure(probe_exit::kNotFound, "this computer (" + computer.ToUtf8() + ") has joined no domain");
        // Listed by their DNS host names: the names the exporter's discovery gives and its auths
        // accept, and that any other program can reach.
        CStringArray netbiosNames, controllers;
        std::uint32_t status = 0;
        EnumDomainControllers(directory, domain, m_options.userName, m_password, netbiosNames, &status, &controllers);
        if (!m_options.userName.IsEmpty() && IsRefusedLogon(status)) {
            return Failure(probe_exit::kConnectionFailed, "the logon to " + domain.ToUtf8() + " as " +
                                                              m_options.userName.ToUtf8() +
                                                              " was refused: " + SystemError(status));
        }
        if (controllers.IsEmpty()) {
            return Failure(probe_exit::kNotFound, "no domain controller of " + domain.ToUtf8() + " could be listed" +
                                                      (status != 0 ? ": " + SystemError(status) : std::string()));
        }

        std::string out;
        switch (m_options.format.value_or(OutputFormat::Table)) {
        case OutputFormat::Json: {
            out = "{\"domain\":" + JsonString(domain.ToUtf8()) + ",\"controllers\":[";
            for (int i = 0; i < controllers.GetSize(); ++i)
                out += (i == 0 ? "" : ",") + JsonString(controllers.GetAt(i).ToUtf8());
            out += "]}\n";
            break;
        }
        case OutputFormat::Csv:
            out = CsvCell("Domain") + "," + CsvCell("Domain Controller") + "\r\n";
            for (const CString& controller : controllers)
                out += CsvCell(domain.ToUtf8()) + "," + CsvCell(controller.ToUtf8()) + "\r\n";
            break;
        default:
            out = domain.ToUtf8() + "\n";
            for (const CString& controller : controllers)
                out += controller.ToUtf8() + "\n";
            break;
        }
        return Write(out) ? probe_exit::kOk : Failure(probe_exit::kOutputFailed, "cannot write the output");
    }

    // -- Health -------------------------------------------------------------------------------

    int CheckHealth()
    {
        if (!m_services.health)
            return Failure(probe_exit::kInitializeFailed, "this platform has no health checks");
        HealthTarget target;
        target.controller = m_options.machine.ToUtf8();
        while (target.controller.starts_with('\\'))
            target.controller.erase(0, 1);
        target.user = m_options.userName;
        target.password = m_password;
        const HealthReport report = RunHealthCheck(m_services.health, target);
        const std::string& controller = target.controller;
        const OutputFormat format = m_options.format.value_or(OutputFormat::Table);
        std::string out;
        int code = report.AllPassed() ? probe_exit::kOk : probe_exit::kHealthFailed;
        if (format == OutputFormat::Nagios) {
            std::optional<ThresholdRange> warning, critical;
            if (!m_options.warnings.empty())
                warning = m_options.warnings.back().range;
            if (!m_options.criticals.empty())
                critical = m_options.criticals.back().range;
            const HealthPluginLine plugin = HealthNagios(controller, report, warning, critical);
            out = plugin.line;
            code = static_cast<int>(plugin.state);
        } else if (format == OutputFormat::Json) {
            out = HealthJson(controller, m_env.Now(), report);
        } else if (format == OutputFormat::Prometheus) {
            out = HealthPrometheus(controller, report);
        } else {
            out = HealthTable(controller, report);
        }
        if (!Write(out))
            return Failure(probe_exit::kOutputFailed, "cannot write the output");
        return code;
    }

    // -- Replication --------------------------------------------------------------------------

    // The connection and the reads within this bound.
    static constexpr int kReplicationTimeoutMs = 10000;

    int ReadReplication()
    {
        if (!m_services.replication)
            return Failure(probe_exit::kInitializeFailed, "this platform does not read replication");
        ReplicationTarget target;
        target.controller = m_options.machine.ToUtf8();
        while (target.controller.starts_with('\\'))
            target.controller.erase(0, 1);
        target.user = m_options.userName;
        target.password = m_password;
        ReplicationReader reader(m_services.replication, std::nullopt);
        const ReplicationStatus status = reader.Read(target, kReplicationTimeoutMs);
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const bool failing = std::any_of(status.neighbors.begin(), status.neighbors.end(),
                                         [](const ReplicationNeighbor& n) { return n.lastResult != 0; });
        int code = !status.read ? probe_exit::kConnectionFailed
                   : failing    ? probe_exit::kReplicationFailing
                                : probe_exit::kOk;
        const OutputFormat format = m_options.format.value_or(OutputFormat::Table);
        std::string out;
        if (format == OutputFormat::Nagios) {
            const ThresholdRange warning = m_options.warnings.empty() ? *ParseThresholdRange(kReplicationWarningDefault)
                                                                      : m_options.warnings.back().range;
            const ThresholdRange critical = m_options.criticals.empty()
                                                ? *ParseThresholdRange(kReplicationCriticalDefault)
                                                : m_options.criticals.back().range;
            const ReplicationPluginLine plugin = ReplicationNagios(target.controller, status, now, warning, critical);
            out = plugin.line;
            code = static_cast<int>(plugin.state);
        } else if (format == OutputFormat::Json) {
            out = ReplicationJson(target.controller, m_env.Now(), status, now);
        } else if (format == OutputFormat::Prometheus) {
            out = ReplicationPrometheus(target.controller, status);
        } else {
            out = ReplicationTable(target.controller, status, now);
        }
        if (!status.read && format != OutputFormat::Nagios)
            m_env.WriteErr(m_name + ": " + status.errorText + "\n");
        if (!Write(out))
            return Failure(probe_exit::kOutputFailed, "cannot write the output");
        return code;
    }

    // -- Sampling -----------------------------------------------------------------------------

    std::unique_ptr<ISampleWriter> MakeWriter(OutputFormat format)
    {
        switch (format) {
        case OutputFormat::Table:
            return std::make_unique<TableWriter>(m_options.machine, m_counters);
        case OutputFormat::Csv:
            return std::make_unique<CsvWriter>(m_counters);
        case OutputFormat::Json:
            return std::make_unique<JsonWriter>(m_options.machine, m_counters);
        case OutputFormat::Prometheus:
            return std::make_unique<PrometheusWriter>(m_options.machine);
        case OutputFormat::Nagios:
            break;
        }
        return std::make_unique<NagiosPlugin>(m_options.machine, m_counters, m_thresholds);
    }

    // The counter's value as the window reads it (anything but valid data is none), 64 bits wide:
    // a count beyond the largest LONG is not held there.
    CounterValue ReadValue(const ControllerSession& session, std::size_t i)
    {
        PdhCounter* counter = session.Counter(kSet, i);
        PdhFormattedValue value;
        if (counter == nullptr ||
            m_services.counters.GetFormattedCounterValue(counter, PDH_FMT_LARGE_FORMAT, &value) != 0 ||
            value.CStatus != PDH_CSTATUS_VALID_DATA)
            return std::nullopt;
        return value.largeValue;
    }

    // The counter's raw reading, for the formats that hand the raw figures on.
    CounterReading ReadRaw(const ControllerSession& session, std::size_t i)
    {
        CounterReading reading;
        reading.path = m_counters[i].path.ToUtf8();
        reading.addStatus = session.AddStatus(kSet, i);
        if (PdhCounter* counter = session.Counter(kSet, i))
            m_services.counters.GetRawCounterValue(counter, &reading.type, &reading.sample);
        return reading;
    }

    // Waits until the monotonic clock reaches due; false when the user interrupted.
    bool WaitUntil(std::int64_t due)
    {
        for (;;) {
            if (m_env.Interrupted())
                return false;
            const std::int64_t now = m_env.MonotonicMs();
            if (now >= due)
                return true;
            m_env.Wait(static_cast<std::uint32_t>(
                std::min<std::int64_t>(due - now, std::numeric_limits<std::uint32_t>::max())));
        }
    }

    int Monitor()
    {
        // The controller's session as the overview's and the exporter's: the connection first,
        // then the counters on the same machine; when it goes, the connection is cancelled before
        // the query is closed, as when the window ends.
        ControllerSession::Settings settings;
        settings.machine = m_options.machine;
        settings.userName = m_options.userName;
        settings.password = m_password;
        settings.wait = [this](std::uint32_t milliseconds) { return WaitUntil(m_env.MonotonicMs() + milliseconds); };
        ControllerSession session(m_services.network, m_services.counters, std::move(settings));
        std::vector<CString> paths;
        for (const ProbeCounter& counter : m_counters)
            paths.push_back(counter.path);
        session.AddSet(std::move(paths));
        return Sample(session);
    }

    // A failed collection said as the window says it; the text for the plugin's line.
    std::string Report(const ControllerSession::Collection& collection)
    {
        if (collection.failed == ControllerSession::Step::Logon && !collection.kept)
            ShowSystemError(m_services.network, collection.status & 0xFFFF, m_services.network.LastFailureStep());
        else if (collection.failed == ControllerSession::Step::Open)
            AfxMessageBox(u"Could not initialize.\n" + PdhStatusMessage(collection.status), MB_ICONSTOP | MB_OK);
        else
            AfxMessageBox(PdhStatusMessage(collection.status), MB_ICONSTOP | MB_OK);
        return m_feedback.LastText();
    }

    int Sample(ControllerSession& session)
    {
        // A first collection, so that the first sample has a value for the rates too. Failing to
        // log on or to connect ends the run; a failed collection is reported, and tried again.
        const ControllerSession::Collection first = session.Collect(kSet);
        if (first.failed == ControllerSession::Step::Logon)
            return Failed(probe_exit::kConnectionFailed, Report(first));
        if (first.failed == ControllerSession::Step::Open)
            return Failed(probe_exit::kInitializeFailed, Report(first));
        if (m_env.Interrupted())
            return probe_exit::kInterrupted;

        const OutputFormat format =
            m_options.format.value_or(m_env.OutputIsTerminal() ? OutputFormat::Table : OutputFormat::Csv);
        const std::unique_ptr<ISampleWriter> writer = MakeWriter(format);
        if (!Write(writer->Begin(m_env.Now())))
            return Failure(probe_exit::kOutputFailed, "cannot write the output");

        bool collectFailed = first.failed != ControllerSession::Step::None;
        std::string collectError = collectFailed ? Report(first) : std::string();
        std::int64_t due = m_env.MonotonicMs() + m_options.intervalMs;
        std::vector<CounterValue> values(m_counters.size());
        for (std::uint32_t taken = 0; m_options.samples == 0 || taken < m_options.samples; ++taken) {
            if (!WaitUntil(due)) {
                // Until interrupted: the interrupt is the way to end.
                if (m_options.samples != 0)
                    return probe_exit::kInterrupted;
                return collectFailed ? probe_exit::kCollectFailed : probe_exit::kOk;
            }
            const LocalTime time = m_env.Now();
            const std::int64_t collecting = m_env.MonotonicMs();
            const ControllerSession::Collection collection = session.Collect(kSet);
            const bool collected = collection.failed == ControllerSession::Step::None;
            SampleReadings raw;
            raw.collected = collected;
            raw.seconds = static_cast<double>(m_env.MonotonicMs() - collecting) / 1000;
            if (!collected) {
                const std::string text = Report(collection);
                if (!collectFailed) {
                    collectFailed = true;
                    collectError = text;
                }
            }
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = collected ? ReadValue(session, i) : CounterValue();
                if (collected)
                    raw.counters.push_back(ReadRaw(session, i));
            }
            if (Nagios() && collectFailed)
                return Failed(probe_exit::kCollectFailed, collectError);
            if (!Write(writer->Sample(time, values, raw)))
                return Failure(probe_exit::kOutputFailed, "cannot write the output");
            // A sample that came late moves the schedule on rather than bunching the next ones.
            due += m_options.intervalMs;
            if (due <= m_env.MonotonicMs())
                due = m_env.MonotonicMs() + m_options.intervalMs;
        }
        if (Nagios())
            return static_cast<int>(static_cast<NagiosPlugin&>(*writer).State());
        return collectFailed ? probe_exit::kCollectFailed : probe_exit::kOk;
    }

    static constexpr std::size_t kSet = 0; // the one set of counters, the command line's

    ProbeServices& m_services;
    IProbeEnvironment& m_env;
    ConsoleFeedback m_feedback;
    CWinApp m_app;
    std::string m_name;
    ProbeOptions m_options;
    std::vector<ProbeCounter> m_counters;
    std::vector<CounterThresholds> m_thresholds;
    CString m_password;
    std::string m_error;
};

} // namespace

int ProbeMain(ProbeServices& services, IProbeEnvironment& env, const CString& exePath, const std::vector<CString>& args)
{
    ProbeRun run(services, env, exePath);
    return run.Run(args);
}
