#pragma once

#include <QStringList>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvanta {

// Shows messages in "信息：" boxes that have no owner and are not modal, so the window
// stays usable; the messages of one call appear one after another, each once the one
// before it is closed.
void showMessages(const QStringList& messages);

// Messages that background threads leave for the window thread, which shows them on its
// next tick. Shared with the threads, so it outlives the window if it must.
class Mailbox {
public:
    void post(std::vector<std::string> messages);
    std::vector<std::vector<std::string>> take();

private:
    std::mutex mutex_;
    std::vector<std::vector<std::string>> pending_;
};

} // namespace corvanta
