#include "ProgramConfig.h"
#include "Config.h"

namespace qvx {

std::string ReadProgramConfigFrom(LinkState& link, const std::string& path)
{
    int32_t unused3 = 0, unused4 = 0, unused5 = 0;
    return ReadConfig(link.TimingFactor, link.ClockDelay, unused3, unused4, unused5, path);
}

std::string ReadProgramConfig(LinkState& link) { return ReadProgramConfigFrom(link, kConfigFileName); }

} // namespace qvx
