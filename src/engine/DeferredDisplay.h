#pragma once

// A display for the replicate loop of a long run. While such a run goes on its
// result fields are hidden, so writing them on every replicate only costs
// time: this wrapper keeps the last value given to each field and writes it
// once, when the loop ends (normally or through a fault), and passes on the
// progress position only in steps that a progress bar can show.

#include <array>
#include <cstdint>

#include "engine/Simulation.h"

namespace zyg {

class DeferredDisplay final : public RunDisplay {
public:
    // The loop will report positions up to `replicates`; at most about
    // kProgressSteps of them reach the target.
    DeferredDisplay(RunDisplay& target, std::uint32_t replicates);

    static constexpr std::uint32_t kProgressSteps = 100;

    void showInteger(RunControl field, std::int32_t value) override;
    void showFloat(RunControl field, double value) override;
    void blank(RunControl field) override;
    void setProgressPosition(int position) override;

    // Not deferred: these go to the target at once.
    void repaint(RunControl control) override { target_.repaint(control); }
    void setVisible(RunControl control, bool visible) override {
        target_.setVisible(control, visible);
    }
    void setMessage(const std::string& caption) override { target_.setMessage(caption); }
    void enableSaveCommands() override { target_.enableSaveCommands(); }

    // Writes every field's last value to the target, in the order of those
    // last writes, and the last progress position if it was held back.
    void flush();

private:
    enum class Kind : std::uint8_t { None, Integer, Float, Blank };
    struct Pending {
        Kind kind = Kind::None;
        std::int32_t integer = 0;
        double real = 0;
        std::uint64_t order = 0;
    };
    static constexpr std::size_t kControls = static_cast<std::size_t>(RunControl::MessageLabel) + 1;

    Pending& record(RunControl field, Kind kind);

    RunDisplay& target_;
    std::array<Pending, kControls> pending_{};
    std::uint64_t writes_ = 0;
    int step_;
    int position_ = -1;   // last position reported by the loop, -1 for none
    int forwarded_ = -1;  // last position passed on
};

}  // namespace zyg
