#include "core/control/QueryEpochs.h"

namespace xel::core {

QueryState QueryEpochs::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void QueryEpochs::begin() {
    std::lock_guard lock(mutex_);
    state_.queried = false;
    ++state_.epoch;
    ++state_.running;
}

void QueryEpochs::succeeded(const Switches& read) {
    std::lock_guard lock(mutex_);
    --state_.running;
    state_.queried = true;
    ++state_.epoch;
    state_.switches = read;
}

void QueryEpochs::failed() {
    std::lock_guard lock(mutex_);
    --state_.running;
}

void QueryEpochs::clear(uint64_t epoch) {
    std::lock_guard lock(mutex_);
    if (state_.epoch == epoch) state_.queried = false;
}

}  // namespace xel::core
