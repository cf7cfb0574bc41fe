#include "app/MessageBoxes.h"

#include <QMessageBox>

namespace corvanta {

void showMessages(const QStringList& messages) {
    if (messages.isEmpty())
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, "信息：", messages.front(), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    const QStringList rest = messages.mid(1);
    QObject::connect(box, &QMessageBox::finished, [rest] { showMessages(rest); });
    box->show();
}

void Mailbox::post(std::vector<std::string> messages) {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(messages));
}

std::vector<std::vector<std::string>> Mailbox::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
}

} // namespace corvanta
