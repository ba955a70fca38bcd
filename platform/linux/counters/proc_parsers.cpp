#include "platform/linux/counters/proc_parsers.h"

#include <algorithm>
#include <charconv>

namespace {

// Splits text into whitespace-separated fields, one at a time.
class Fields {
public:
    explicit Fields(std::string_view text) : m_rest(text) {}

    std::optional<std::string_view> Next()
    {
        const std::size_t start = m_rest.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            return std::nullopt;
        m_rest.remove_prefix(start);
        const std::size_t end = std::min(m_rest.find_first_of(" \t"), m_rest.size());
        const std::string_view field = m_rest.substr(0, end);
        m_rest.remove_prefix(end);
        return field;
    }

private:
    std::string_view m_rest;
};

// The fields of one line, into a vector the caller reuses from line to line.
void SplitFields(std::string_view line, std::vector<std::string_view>& out)
{
    out.clear();
    Fields fields(line);
    while (const auto field = fields.Next())
        out.push_back(*field);
}

// Calls visit with each line of text, the last one whether or not a newline ends it.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        visit(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

template <typename Number>
std::optional<Number> ToNumber(std::string_view field)
{
    Number value{};
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

// The value of a "Name: value kB" line of /proc/meminfo when the line is about name.
std::optional<std::uint64_t> MeminfoValue(std::string_view line, std::string_view name)
{
    Fields fields(line);
    const auto key = fields.Next();
    if (!key || key->size() != name.size() + 1 || !key->starts_with(name) || key->back() != ':')
        return std::nullopt;
    const auto value = fields.Next();
    return value ? ToNumber<std::uint64_t>(*value) : std::nullopt;
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo octal escapes.
std::string UnescapeMountPath(std::string_view escaped)
{
    std::string path;
    path.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const bool octal =
            escaped[i] == '\\' && i + 3 < escaped.size() &&
            std::all_of(escaped.begin() + i + 1, escaped.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; });
        if (octal) {
            path +=
                static_cast<char>((escaped[i + 1] - '0') * 64 + (escaped[i + 2] - '0') * 8 + (escaped[i + 3] - '0'));
            i += 3;
        } else {
            path += escaped[i];
        }
    }
    return path;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<CpuTimes> ParseCpuTimes(std::string_view procStat)
{
    const std::string_view firstLine = procStat.substr(0, procStat.find('\n'));
    Fields fields(firstLine);
    if (fields.Next() != std::string_view("cpu"))
        return std::nullopt;
    CpuTimes times;
    std::uint64_t* const columns[] = { &times.user,   &times.nice, &times.system,  &times.idle,
                                       &times.iowait, &times.irq,  &times.softirq, &times.steal };
    std::size_t read = 0;
    for (std::uint64_t* column : columns) {
        const auto field = fields.Next();
        if (!field)
            break;
        const auto value = ToNumber<std::uint64_t>(*field);
        if (!value)
            return std::nullopt;
        *column = *value;
        ++read;
    }
    // user, nice, system and idle are there on every kernel.
    if (read < 4)
        return std::nullopt;
    ForEachLine(procStat, [&](std::string_view line) {
        if (line.size() > 3 && line.starts_with("cpu") && IsDigit(line[3]))
            ++times.processors;
    });
    return times;
}

std::optional<CommitCharge> ParseCommitCharge(std::string_view meminfo)
{
    std::optional<std::uint64_t> committed, limit;
    ForEachLine(meminfo, [&](std::string_view line) {
        if (!committed)
            committed = MeminfoValue(line, "Committed_AS");
        if (!limit)
            limit = MeminfoValue(line, "CommitLimit");
    });
    if (!committed || !limit)
        return std::nullopt;
    return CommitCharge{ *committed, *limit };
}

VmCounters ParseVmCounters(std::string_view vmstat)
{
    VmCounters counters;
    const std::pair<std::string_view, std::optional<std::uint64_t>*> wanted[] = {
        { "pgfault", &counters.pgfault }, { "pgmajfault", &counters.pgmajfault }, { "pswpin", &counters.pswpin },
        { "pswpout", &counters.pswpout }, { "swap_ra", &counters.swapReadahead },
    };
    ForEachLine(vmstat, [&](std::string_view line) {
        Fields fields(line);
        const auto name = fields.Next();
        const auto value = fields.Next();
        if (!name || !value)
            return;
        for (const auto& [wantedName, slot] : wanted) {
            if (*name == wantedName)
                *slot = ToNumber<std::uint64_t>(*value);
        }
    });
    return counters;
}

bool IsPartitionName(std::string_view name, const std::vector<std::string_view>& allNames)
{
    std::string_view disk = name;
    while (!disk.empty() && IsDigit(disk.back()))
        disk.remove_suffix(1);
    if (disk.size() == name.size() || disk.empty())
        return false;
    const auto named = [&](std::string_view candidate) {
        return std::find(allNames.begin(), allNames.end(), candidate) != allNames.end();
    };
    // nvme0n1p1, mmcblk0p2: a "p" after a disk name that ends in a digit.
    if (disk.back() == 'p' && disk.size() >= 2 && IsDigit(disk[disk.size() - 2]))
        return named(disk.substr(0, disk.size() - 1));
    // sda1: the disk's name ends in a letter.
    return named(disk);
}

std::optional<DiskOperations> ParseDiskOperations(std::string_view diskstats)
{
    // Fields: major minor name, then reads completed, reads merged, sectors read, ms reading,
    // writes completed, ... (Documentation/admin-guide/iostats.rst); 11 numbers before Linux
    // 4.18, 15 from 4.18, 17 from 5.5.
    constexpr int kReadsField = 3;
    constexpr int kWritesField = 7;
    constexpr int kFieldsWithFullStatistics = 14;
    struct Device {
        std::string_view name;
        std::uint64_t reads, writes;
    };
    std::vector<Device> devices;
    std::vector<std::string_view> names, fields;
    ForEachLine(diskstats, [&](std::string_view line) {
        SplitFields(line, fields);
        if (fields.size() < 3)
            return;
        names.push_back(fields[2]);
        if (fields.size() < kFieldsWithFullStatistics)
            return;
        const auto reads = ToNumber<std::uint64_t>(fields[kReadsField]);
        const auto writes = ToNumber<std::uint64_t>(fields[kWritesField]);
        if (reads && writes)
            devices.push_back({ fields[2], *reads, *writes });
    });
    if (devices.empty())
        return std::nullopt;
    DiskOperations total;
    for (const Device& device : devices) {
        if (IsPartitionName(device.name, names))
            continue;
        total.reads += device.reads;
        total.writes += device.writes;
    }
    return total;
}

std::vector<LocalDisk> ParseLocalDisks(std::string_view mountinfo)
{
    // Image formats that are read-only by design: always full, they would only lower the share.
    constexpr std::string_view kReadOnlyImageTypes[] = { "squashfs", "iso9660", "erofs" };
    std::vector<LocalDisk> disks;
    std::vector<std::string_view> seenDevices, seenSources;
    // Fields: mount ID, parent ID, major:minor, root, mount point, options, optional fields,
    // "-", file system type, source, super options (proc(5)).
    std::vector<std::string_view> fields;
    ForEachLine(mountinfo, [&](std::string_view line) {
        SplitFields(line, fields);
        // The optional fields end at the separator.
        const auto separator =
            std::find(fields.begin() + std::min<std::ptrdiff_t>(std::ssize(fields), 6), fields.end(), "-");
        if (separator == fields.end() || fields.end() - separator < 3)
            return;
        const std::string_view device = fields[2], mountPoint = fields[4];
        const std::string_view type = separator[1], source = separator[2];
        // A line that is not what the kernel writes could name a relative path, which statvfs would
        // take from the working directory.
        if (!mountPoint.starts_with('/'))
            return;
        // A dataset mounted again (bind mounts) is counted once.
        if (std::find(seenSources.begin(), seenSources.end(), source) != seenSources.end())
            return;
        if (type == "zfs") {
            // A ZFS source is pool/dataset; pool@snapshot and pool/dataset@snapshot are read-only
            // views of data counted already.
            const std::string_view pool = source.substr(0, source.find('/'));
            if (pool.empty() || source.find('@') != std::string_view::npos)
                return;
            seenSources.push_back(source);
            auto found =
                std::find_if(disks.begin(), disks.end(), [&](const LocalDisk& d) { return d.pool && d.name == pool; });
            if (found == disks.end())
                found = disks.insert(disks.end(), LocalDisk{ std::string(pool), true, {} });
            found->mountPoints.push_back(UnescapeMountPath(mountPoint));
            return;
        }
        if (!source.starts_with("/dev/"))
            return;
        if (std::find(std::begin(kReadOnlyImageTypes), std::end(kReadOnlyImageTypes), type) !=
            std::end(kReadOnlyImageTypes))
            return;
        // A device mounted again (bind mounts, btrfs subvolumes) is counted once.
        if (std::find(seenDevices.begin(), seenDevices.end(), device) != seenDevices.end())
            return;
        seenDevices.push_back(device);
        seenSources.push_back(source);
        disks.push_back(LocalDisk{ std::string(source), false, { UnescapeMountPath(mountPoint) } });
    });
    return disks;
}

std::optional<std::uint64_t> ParseStartTime(std::string_view stat)
{
    // Fields after the name: state (3), ppid (4), ... starttime (22) (proc(5)).
    constexpr int kFieldsAfterName = 22 - 2;
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string_view::npos)
        return std::nullopt;
    Fields fields(stat.substr(nameEnd + 1, stat.find('\n', nameEnd) - nameEnd - 1));
    std::optional<std::string_view> field;
    for (int i = 0; i < kFieldsAfterName; ++i)
        field = fields.Next();
    return field ? ToNumber<std::uint64_t>(*field) : std::nullopt;
}

std::optional<int> ParseLastPid(std::string_view loadavg)
{
    Fields fields(loadavg.substr(0, loadavg.find('\n')));
    std::optional<std::string_view> last;
    while (const auto field = fields.Next())
        last = field;
    const std::optional<int> pid = last ? ToNumber<int>(*last) : std::nullopt;
    return pid && *pid > 0 ? pid : std::nullopt;
}
