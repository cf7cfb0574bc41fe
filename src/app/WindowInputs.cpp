#include "app/WindowInputs.h"

namespace corvanta {

std::string WindowInputs::workerCountText() const {
    std::lock_guard lock(mutex_);
    return workerCount_;
}

std::string WindowInputs::cookieText() const {
    std::lock_guard lock(mutex_);
    return cookie_;
}

int WindowInputs::periodIndex() const {
    std::lock_guard lock(mutex_);
    return period_;
}

void WindowInputs::setWorkerCountText(std::string text) {
    std::lock_guard lock(mutex_);
    workerCount_ = std::move(text);
}

void WindowInputs::setCookieText(std::string text) {
    std::lock_guard lock(mutex_);
    cookie_ = std::move(text);
}

void WindowInputs::setPeriodIndex(int index) {
    std::lock_guard lock(mutex_);
    period_ = index;
}

} // namespace corvanta
