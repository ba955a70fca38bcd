#include <utility>
#include <vector>

#include "framework/ascii_case.h"
#include "perf/counter_path.h"
#include "probe/sample_writer.h"

namespace {

// The words of a name in the metric name's alphabet: runs of ASCII letters (lower case) and
// digits; everything else separates.
std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words(1);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
            words.back() += c;
        else if (u >= 'A' && u <= 'Z')
            words.back() += static_cast<char>(u - 'A' + 'a');
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : "_") + word;
    return out;
}

// English plural of a counted thing: handle -> handles, process -> processes, entry -> entries;
// a word that ends in a single s is taken as plural already (hits).
std::string Plural(const std::string& word)
{
    const auto endsWith = [&](std::string_view end) { return word.ends_with(end); };
    if (endsWith("ss") || endsWith("x") || endsWith("z") || endsWith("ch") || endsWith("sh"))
        return word + "es";
    if (endsWith("s"))
        return word;
    if (word.size() > 1 && word.back() == 'y' &&
        std::string_view("aeiou").find(word[word.size() - 2]) == std::string_view::npos)
        return word.substr(0, word.size() - 1) + "ies";
    return word + "s";
}

std::optional<CounterPath> Parse(const CString& path)
{
    return ParseCounterPath("\\\\m" + path.ToUtf8());
}

} // namespace

// The instance part as the path writes it: parent/instance#index.
std::string PrometheusInstance(const CounterPath& path)
{
    std::string text = path.parent.empty() ? path.instance : path.parent + "/" + path.instance;
    if (path.index > 0)
        text += "#" + std::to_string(path.index);
    return text;
}

// Label values escape backslash, double quote and line feed; help texts backslash and line feed.
std::string PrometheusEscaped(std::string_view text, bool quotes)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

std::string PrometheusLabel(std::string_view name, std::string_view value)
{
    return std::string(name) + "=\"" + PrometheusEscaped(value, true) + "\"";
}

std::string PrometheusMetricName(const CString& path)
{
    const auto parsed = Parse(path);
    if (!parsed)
        return "zeltor_value";
    std::string counter = parsed->counter;
    std::string unit;
    if (counter.starts_with('%')) {
        counter.erase(0, 1);
        unit = "percent";
    } else if (counter.size() >= 4 &&
               EqualsIgnoringCase(std::string_view(counter).substr(counter.size() - 4), "/sec")) {
        counter.erase(counter.size() - 4);
        unit = "per_second";
    }
    // Prometheus' naming rules (promtool's lint): units spelled out, and no suffix that histograms,
    // summaries and counters reserve (_count, _sum, _bucket, _total).
    std::vector<std::string> words = Words(counter);
    for (std::string& word : words) {
        if (word == "sec")
            word = "seconds";
    }
    if (unit.empty() && words.size() > 1 && words.back() == "count") {
        words.pop_back();
        words.back() = Plural(words.back());
    }
    if (!unit.empty())
        words.push_back(unit);
    std::string name = "zeltor_" + Joined(Words(parsed->object)) + "_" + Joined(words);
    for (std::string_view reserved : { "_count", "_sum", "_bucket", "_total" }) {
        if (name.ends_with(reserved))
            return name + "_value";
    }
    return name;
}

PrometheusWriter::PrometheusWriter(CString machine) : m_machine(std::move(machine)) {}

std::string PrometheusWriter::Sample(const LocalTime&, std::span<const CounterValue>, const SampleReadings& raw)
{
    const std::string instance = PrometheusLabel("instance", m_machine.ToUtf8());
    PrometheusExposition out;
    AddProbeOutcome(out, raw.collected, raw.seconds, instance);
    if (raw.collected)
        AddCounterSeries(out, raw.counters, instance);
    return out.Text();
}
