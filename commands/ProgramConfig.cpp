#include "ProgramConfig.h"

#include <filesystem>
#include <system_error>

namespace qvx {

static void Apply(LinkState& link, const int32_t (&values)[5])
{
    link.TimingFactor = values[0];
    link.ClockDelay = values[1];
}

std::string ReadProgramConfigFrom(LinkState& link, const std::string& path, std::vector<std::string>* problems)
{
    // Messages name the file by its full path.
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(path, ignored);
    int32_t values[5];
    const std::string error = ReadConfigFile(full.empty() ? path : full.string(), values, problems);
    Apply(link, values);
    return error;
}

std::string ReadProgramConfig(LinkState& link, const std::vector<std::string>& places,
                              std::vector<std::string>* problems, std::string* found)
{
    int32_t values[5];
    std::string path;
    const std::string error = ReadFirstConfig(places, values, path, problems);
    Apply(link, values);
    if (found)
        *found = path;
    return error;
}

} // namespace qvx
