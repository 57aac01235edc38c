#include "core/Types.h"

#include "core/Errors.h"

namespace zyg {

namespace {
void checkReplicate(std::uint32_t replicate) {
    if (replicate < 1 || replicate > kMaxReplicates) throw CommandError(kRangeCheckError);
}
}  // namespace

Extended& ReplicateTable::operator[](std::uint32_t replicate) {
    checkReplicate(replicate);
    return values_[replicate - 1];
}

const Extended& ReplicateTable::operator[](std::uint32_t replicate) const {
    checkReplicate(replicate);
    return values_[replicate - 1];
}

SimulationSettings& simulationSettings() {
    static SimulationSettings settings;
    return settings;
}

SimulationState& simulationState() {
    static SimulationState state;
    return state;
}

}  // namespace zyg
