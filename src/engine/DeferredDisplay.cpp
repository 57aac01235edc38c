#include "engine/DeferredDisplay.h"

#include <algorithm>

namespace zyg {

DeferredDisplay::DeferredDisplay(RunDisplay& target, std::uint32_t replicates)
    : target_(target),
      step_(static_cast<int>(
          std::max<std::uint32_t>(1, (replicates + kProgressSteps - 1) / kProgressSteps))) {}

DeferredDisplay::Pending& DeferredDisplay::record(RunControl field, Kind kind) {
    Pending& p = pending_[static_cast<std::size_t>(field)];
    p.kind = kind;
    p.order = ++writes_;
    return p;
}

void DeferredDisplay::showInteger(RunControl field, std::int32_t value) {
    record(field, Kind::Integer).integer = value;
}

void DeferredDisplay::showFloat(RunControl field, double value) {
    record(field, Kind::Float).real = value;
}

void DeferredDisplay::blank(RunControl field) { record(field, Kind::Blank); }

void DeferredDisplay::setProgressPosition(int position) {
    position_ = position;
    if (forwarded_ < 0 || position >= forwarded_ + step_) {
        forwarded_ = position;
        target_.setProgressPosition(position);
    }
}

void DeferredDisplay::flush() {
    std::array<RunControl, kControls> fields;
    std::size_t count = 0;
    for (std::size_t i = 0; i < kControls; ++i)
        if (pending_[i].kind != Kind::None) fields[count++] = static_cast<RunControl>(i);
    std::sort(fields.begin(), fields.begin() + count, [this](RunControl a, RunControl b) {
        return pending_[static_cast<std::size_t>(a)].order <
               pending_[static_cast<std::size_t>(b)].order;
    });
    for (std::size_t i = 0; i < count; ++i) {
        Pending& p = pending_[static_cast<std::size_t>(fields[i])];
        switch (p.kind) {
            case Kind::Integer: target_.showInteger(fields[i], p.integer); break;
            case Kind::Float: target_.showFloat(fields[i], p.real); break;
            case Kind::Blank: target_.blank(fields[i]); break;
            case Kind::None: break;
        }
        p.kind = Kind::None;
    }
    if (position_ != forwarded_) {
        forwarded_ = position_;
        target_.setProgressPosition(position_);
    }
}

}  // namespace zyg
