// The Exec lines of desktop entries, which come from any file of the data directories: turning
// one into a command template and splitting command lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/linux/shell/desktop_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string exec(reinterpret_cast<const char*>(data), size);
    const auto args = SplitCommandLine(exec);
    const auto tpl = ExecToCommandTemplate(exec);
    // A template exists exactly when the line splits, and its own quoting is always whole.
    if (args.has_value() != tpl.has_value())
        std::abort();
    if (tpl && !SplitCommandLine(*tpl))
        std::abort();
    // A template without field codes splits back into the same arguments.
    if (args && exec.find('%') == std::string::npos && SplitCommandLine(*tpl) != args)
        std::abort();
    return 0;
}
