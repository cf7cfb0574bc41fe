#pragma once

#include "core/QueryEngine.h"

#include <mutex>
#include <string>

namespace corvanta {

// The window's inputs as the engine reads them: a copy that the window thread updates as
// the user edits, so that a worker reading the cookie never waits for the window.
class WindowInputs : public QueryInputs {
public:
    std::string workerCountText() const override;
    std::string cookieText() const override;
    int periodIndex() const override;

    void setWorkerCountText(std::string text);
    void setCookieText(std::string text);
    void setPeriodIndex(int index);

private:
    mutable std::mutex mutex_;
    std::string workerCount_;
    std::string cookie_;
    int period_ = -1;
};

} // namespace corvanta
